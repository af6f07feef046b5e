#include "platform/database_checkpoint_p.h"

#include "platform/database_walwrites_p.h"

#include <system_error>

namespace platform::dbdetail {

std::unique_ptr<Checkpointer> Checkpointer::Start(sqlite3 *db, const std::string &path)
{
    if (!sqlite3_threadsafe())
        return nullptr;
    sqlite3 *own = nullptr;
    // Reading the schema brings the new connection into the file's WAL mode; a checkpoint asked
    // of a connection that has read nothing does nothing.
    if (sqlite3_open_v2(
            path.c_str(), &own, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, WalWritesVfs())
            != SQLITE_OK
        || sqlite3_exec(own, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr)
            != SQLITE_OK
        // As the writer's: the WAL is synced before each checkpoint, the file after it.
        || sqlite3_exec(own, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(own);
        return nullptr;
    }
    std::unique_ptr<Checkpointer> c(new Checkpointer(db, own));
    try {
        c->m_thread = std::thread([p = c.get()] { p->Work(); });
    } catch (const std::system_error &) {
        return nullptr;
    }
    sqlite3_wal_hook(db, &Checkpointer::WalHook, c.get());
    return c;
}

Checkpointer::Checkpointer(sqlite3 *db, sqlite3 *own)
    : m_db(db)
    , m_own(own)
{
}

Checkpointer::~Checkpointer()
{
    if (m_thread.joinable()) {
        sqlite3_wal_autocheckpoint(m_db, kCheckpointFrames); // takes the hook back
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    sqlite3_close_v2(m_own);
}

int Checkpointer::WalHook(void *self, sqlite3 *, const char *schema, int frames)
{
    static_cast<Checkpointer *>(self)->Committed(schema, frames);
    // What a checkpoint reports changes nothing for the commit, which is done: SQLite's own hook
    // ignores it too.
    return SQLITE_OK;
}

void Checkpointer::Committed(const char *schema, int frames)
{
    if (frames < m_lastFrames) { // the WAL has started again from its beginning
        m_caughtUpAt = 0;
        ++m_generation;
    }
    m_lastFrames = frames;
    // Also after a catch-up that could not start the WAL again (a reader of another process
    // still reads its frames): the next one comes a threshold later, not at every commit.
    if (frames - m_caughtUpAt < kCheckpointFrames)
        return;
    // Far behind, the commit waits for a checkpoint the worker runs to end, then catches up: a
    // worker that cannot keep up with the writer (one starved of the CPU on a loaded machine, or
    // a writer whose commits take a few microseconds) would otherwise never leave the running
    // lock free at a commit, and the WAL would grow for as long as the writer writes.
    const bool farBehind = frames - m_caughtUpAt >= kCatchUpFrames;
    std::unique_lock running(m_running, std::defer_lock);
    if (farBehind)
        running.lock();
    else if (!running.try_lock())
        return;
    int left = frames;
    {
        const std::lock_guard lock(m_mutex);
        if (m_wanted && !farBehind)
            return;
        // What the worker copied of an earlier WAL says nothing about this one.
        if (m_copiedGeneration == m_generation && m_copied <= frames)
            left = frames - m_copied;
    }
    if (left <= kCatchUpRemainder || farBehind) {
        sqlite3_wal_checkpoint_v2(m_db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        m_caughtUpAt = frames;
        return;
    }
    if (left < kCheckpointFrames)
        return;
    running.unlock();
    {
        const std::lock_guard lock(m_mutex);
        m_wanted = true;
        m_wantedGeneration = m_generation;
    }
    m_wake.notify_one();
}

void Checkpointer::Work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_wanted || m_stop; });
        if (m_stop)
            return;
        const int generation = m_wantedGeneration;
        lock.unlock();
        int copied = 0;
        {
            const std::lock_guard running(m_running);
            sqlite3_wal_checkpoint_v2(m_own, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, &copied);
        }
        lock.lock();
        m_wanted = false;
        m_copied = copied;
        m_copiedGeneration = generation;
    }
}

} // namespace platform::dbdetail
