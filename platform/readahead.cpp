#include "platform/readahead_p.h"

#include "platform/crypto_p.h"
#include "platform/fileio_p.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform::detail {

namespace {

// --- the worker threads ------------------------------------------------------------------------

/// A few system threads, started at the first listing that works ahead and kept until the
/// program ends. They only read files and run the work given; they never touch the cooperative
/// threads, the GUI or the catalogue.
class Pool
{
public:
    // Never destroyed, so that either clean-up at exit may end its threads.
    static Pool &Get()
    {
        static Pool *const pool = new Pool;
        return *pool;
    }

    bool HasThreads() const { return !m_threads.empty(); }

    void Queue(const std::shared_ptr<AheadBatch> &batch, std::size_t first, std::size_t count)
    {
        {
            const std::lock_guard lock(m_mutex);
            for (std::size_t i = 0; i < count; ++i)
                m_jobs.push_back({ batch, first + i });
        }
        m_ready.notify_all();
    }

private:
    struct Job
    {
        std::shared_ptr<AheadBatch> batch;
        std::size_t ordinal;
    };

    Pool()
    {
        InitCryptoForThreads([] { Get().Stop(); });
        std::atexit([] { Get().Stop(); });
        // The walk itself takes one core; a file of the size worked ahead is read and hashed in
        // about the time the walk spends on an entry, so two or three workers keep ahead of it.
        const int cores = int(std::thread::hardware_concurrency());
        const int count = std::clamp(cores - 1, 1, 3);
        try {
            for (int i = 0; i < count; ++i)
                m_threads.emplace_back([this] { Serve(); });
        } catch (const std::system_error &) {
            // A sandbox that refuses threads: those made serve; with none, nothing is worked
            // ahead and the walk digests every file itself.
        }
    }

    // Ends the threads once their entries are done; at exit, from whichever comes first.
    void Stop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_jobs.clear();
        }
        m_ready.notify_all();
        for (std::thread &thread : m_threads) {
            if (thread.joinable())
                thread.join();
        }
    }

    void Serve()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(m_mutex);
                m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_stopping)
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job.batch->RunEntry(job.ordinal);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// --- one file, as the work reads it ------------------------------------------------------------

class AheadFileOnDescriptor : public FileListMBS::AheadFile
{
public:
    AheadFileOnDescriptor(int fd, const std::string &name, int64_t size)
        : m_fd(fd)
        , m_name(name)
        , m_size(size)
    {
    }

    const std::string &DisplayName() const override { return m_name; }

    // The size seen at the open is the end: a file that grew meanwhile shows in its status after
    // the reading, and the outcome is then not used; one cut short counts as a failed read.
    std::size_t ReadInto(char *buffer, std::size_t size) override
    {
        if (m_error || m_position >= m_size)
            return 0;
        const std::size_t want = std::min<std::size_t>(size, std::size_t(m_size - m_position));
        bool atEnd = false;
        const std::size_t n = ReadFully(m_fd, buffer, want, m_position, m_size, atEnd, m_error);
        m_position += int64_t(n);
        if (n < want)
            m_error = true;
        return n;
    }

    bool ReadError() const override { return m_error; }

private:
    int m_fd;
    const std::string &m_name;
    int64_t m_size;
    int64_t m_position = 0;
    bool m_error = false;
};

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mode == b.st_mode
        && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec
        && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec
        && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

} // namespace

// --- the batch ---------------------------------------------------------------------------------

AheadBatch::AheadBatch(int folderFd, FileListMBS::AheadWork work, int64_t maxSize)
    : m_folderFd(folderFd)
    , m_work(work)
    , m_maxSize(maxSize)
{
}

std::shared_ptr<AheadBatch> AheadBatch::Start(
    const std::string &folder, FileListMBS::AheadWork work, int64_t maxSize)
{
    if (!Pool::Get().HasThreads())
        return nullptr;
    const int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::shared_ptr<AheadBatch>(new AheadBatch(fd, work, maxSize));
}

AheadBatch::~AheadBatch() { close(m_folderFd); }

AheadBatch::Entry *AheadBatch::Find(std::size_t ordinal)
{
    if (ordinal < m_first || ordinal - m_first >= m_entries.size())
        return nullptr;
    return &m_entries[ordinal - m_first];
}

void AheadBatch::ForgetBefore(int index)
{
    const std::lock_guard lock(m_mutex);
    while (!m_entries.empty() && m_entries.front().index < index
        && m_entries.front().state != State::Running) {
        m_entries.pop_front();
        ++m_first;
    }
}

std::size_t AheadBatch::Room() const
{
    const std::lock_guard lock(m_mutex);
    const std::size_t room = kWindow - m_entries.size();
    return room >= kWindow / 2 ? room : 0;
}

void AheadBatch::Add(std::vector<std::pair<int, std::string>> entries)
{
    if (entries.empty())
        return;
    std::size_t ordinal;
    {
        const std::lock_guard lock(m_mutex);
        ordinal = m_first + m_entries.size();
        for (auto &[index, name] : entries)
            m_entries.push_back({ index, std::move(name), State::Queued, {} });
    }
    Pool::Get().Queue(shared_from_this(), ordinal, entries.size());
}

std::optional<std::string> AheadBatch::Take(int index, const struct stat &now)
{
    std::unique_lock lock(m_mutex);
    const auto at = std::find_if(m_entries.begin(), m_entries.end(),
        [index](const Entry &entry) { return entry.index == index; });
    if (at == m_entries.end())
        return std::nullopt;
    Entry &entry = *at;
    // A file of the size worked ahead takes a worker well under a millisecond from the page
    // cache, and the caller would spend as long reading it itself.
    m_finished.wait(lock, [&entry] { return entry.state != State::Running; });
    const State was = entry.state;
    entry.state = State::Taken;
    if (was != State::Done || !entry.outcome.done || !SameFile(entry.outcome.status, now))
        return std::nullopt;
    return std::move(entry.outcome.result);
}

void AheadBatch::Cancel()
{
    const std::lock_guard lock(m_mutex);
    m_cancelled = true;
}

void AheadBatch::RunEntry(std::size_t ordinal)
{
    std::string name;
    {
        const std::lock_guard lock(m_mutex);
        Entry *entry = m_cancelled ? nullptr : Find(ordinal);
        if (!entry || entry->state != State::Queued)
            return;
        entry->state = State::Running;
        name = entry->name;
    }
    Outcome outcome = Work(name);
    {
        const std::lock_guard lock(m_mutex);
        Entry *entry = Find(ordinal); // a running entry is never forgotten
        entry->outcome = std::move(outcome);
        entry->state = State::Done;
    }
    m_finished.notify_all();
}

AheadBatch::Outcome AheadBatch::Work(const std::string &name) const
{
    Outcome outcome;
    const int fd = OpenRetrying(
        m_folderFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return outcome;
    struct stat before;
    if (fstat(fd, &before) != 0 || !S_ISREG(before.st_mode) || before.st_size > m_maxSize) {
        close(fd);
        return outcome;
    }
    try {
        AheadFileOnDescriptor file(fd, name, int64_t(before.st_size));
        std::string result = m_work(file);
        struct stat after;
        // Changed while it was read: part old, part new, so not the file's digest at any time.
        if (!file.ReadError() && fstat(fd, &after) == 0 && SameFile(before, after)) {
            outcome.done = true;
            outcome.result = std::move(result);
            outcome.status = before;
        }
    } catch (...) {
        // Left to the caller, who does the work itself and meets whatever failed here.
    }
    close(fd);
    return outcome;
}

} // namespace platform::detail
