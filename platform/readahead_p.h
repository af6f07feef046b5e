#pragma once

#include "platform/filelist.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>

namespace platform::detail {

/// The work a listing has done ahead on its regular files, by the worker threads of one pool
/// shared by every listing. The listing adds entries in order, a window at a time, and takes
/// each entry's outcome once; an entry taken before a worker started on it is left to the
/// caller. All of it is guarded by one mutex, held only to hand an entry over.
class AheadBatch : public std::enable_shared_from_this<AheadBatch>
{
public:
    /// Entries added and not yet forgotten; the listing adds no more while this many wait.
    static constexpr std::size_t kWindow = 128;

    /// Nil when the folder cannot be opened, or no worker thread could be started.
    static std::shared_ptr<AheadBatch> Start(
        const std::string &folder, FileListMBS::AheadWork work, int64_t maxSize);
    ~AheadBatch();
    AheadBatch(const AheadBatch &) = delete;
    AheadBatch &operator=(const AheadBatch &) = delete;

    /// Drops the entries before `index` that no worker is on, so the window moves on.
    void ForgetBefore(int index);
    /// Room for entries in the window: none until half of it is free, so that entries are
    /// handed to the workers in batches (waking a worker costs the walk a system call).
    std::size_t Room() const;
    /// Queues the entries (index, file name in the folder) for the workers.
    void Add(std::vector<std::pair<int, std::string>> entries);
    /// The outcome for `index`, where the work was done whole on the file `now` describes; waits
    /// for a worker that is on it. Nothing for an entry not added, not started, or done on
    /// another file (or on this one while it changed).
    std::optional<std::string> Take(int index, const struct stat &now);
    /// Queued entries are left undone; a worker that is on one finishes it unseen.
    void Cancel();

    /// A worker's part: does the entry `ordinal` unless it was taken or forgotten meanwhile.
    void RunEntry(std::size_t ordinal);

private:
    AheadBatch(int folderFd, FileListMBS::AheadWork work, int64_t maxSize);

    enum class State : unsigned char { Queued, Running, Done, Taken };
    struct Outcome
    {
        bool done = false;
        std::string result;
        struct stat status
        {
        };
    };
    struct Entry
    {
        int index;
        std::string name;
        State state = State::Queued;
        Outcome outcome;
    };

    Outcome Work(const std::string &name) const;
    Entry *Find(std::size_t ordinal);

    const int m_folderFd; // O_PATH: the files are opened relative to it
    const FileListMBS::AheadWork m_work;
    const int64_t m_maxSize;

    mutable std::mutex m_mutex;
    std::condition_variable m_finished;
    std::deque<Entry> m_entries; // in the order added; element references stay valid
    std::size_t m_first = 0;     // the ordinal of m_entries.front()
    bool m_cancelled = false;
};

} // namespace platform::detail
