#pragma once

// The WAL's checkpoints of one catalogue connection, run on a worker thread of their own.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <sqlite3.h>

namespace platform::dbdetail {

/// SQLite's own threshold: the WAL is copied back once it holds this many frames.
inline constexpr int kCheckpointFrames = 1000;
/// What the writer copies itself so that the WAL starts again from its beginning: at most this
/// many frames (1 MiB) that the worker has not copied yet, or any number once the WAL has grown
/// this much (about 40 MiB) past the last catch-up, should the worker never get that close.
inline constexpr int kCatchUpRemainder = 256;
inline constexpr int kCatchUpFrames = 10000;

/// Copies the WAL back into the database file on a worker thread with a connection of its own,
/// so that commits on the GUI thread no longer pay for a checkpoint's writes and its two syncs
/// (SQLite's own checkpoint runs inside the commit that crosses the threshold).
///
/// SQLite starts the WAL again from its beginning only in a write that finds every frame copied
/// back, which a worker racing a writer that never pauses does not leave it: the writer adds
/// frames while the worker copies. So the worker is asked again each time a thousand frames are
/// left uncopied; when it is close the writer copies the last frames itself, in its commit (a few
/// hundred frames rather than a thousand), and once the WAL has grown far it catches up whatever
/// is left. The WAL stays bounded (at most about 40 MiB), and the commits keep SQLite's
/// guarantees: a PASSIVE checkpoint takes no lock a reader or the
/// writer waits for, syncs the WAL before it writes into the database, and a crash at any point
/// leaves the file whole.
class Checkpointer
{
public:
    /// Starts the worker for `db`, a connection in WAL mode to the file at `path`, and takes over
    /// its WAL hook. Nil when the worker cannot be started: SQLite's own checkpoint then stays.
    static std::unique_ptr<Checkpointer> Start(sqlite3 *db, const std::string &path);
    /// Waits for a checkpoint that is running, ends the worker and gives SQLite's own checkpoint
    /// back to the connection.
    ~Checkpointer();
    Checkpointer(const Checkpointer &) = delete;
    Checkpointer &operator=(const Checkpointer &) = delete;

private:
    Checkpointer(sqlite3 *db, sqlite3 *own);
    static int WalHook(void *self, sqlite3 *db, const char *schema, int frames);
    /// On the writing connection's thread, after a commit that left `frames` frames in the WAL.
    /// Waits for the worker only once the WAL has grown kCatchUpFrames past the last catch-up.
    void Committed(const char *schema, int frames);
    void Work();

    sqlite3 *m_db; // the writing connection (not owned)
    sqlite3 *m_own; // the worker's connection, used on the worker only

    // The writing connection's thread alone reads and writes these.
    int m_lastFrames = 0;
    int m_caughtUpAt = 0; // the WAL's frames at the last catch-up; 0 once it has started again
    int m_generation = 0; // one more every time the WAL starts again

    std::mutex m_mutex; // guards the six below
    std::condition_variable m_wake;
    bool m_wanted = false;
    int m_wantedGeneration = 0;
    bool m_stop = false;
    // The frames the worker's last run left copied back, and the WAL's generation it was asked
    // in: a run asked before the WAL started again tells nothing about the new one.
    int m_copied = 0;
    int m_copiedGeneration = -1;
    std::mutex m_running; // held while a checkpoint runs, by the worker or by a catch-up
    std::thread m_thread;
};

} // namespace platform::dbdetail
