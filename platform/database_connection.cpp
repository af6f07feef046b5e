#include "platform/database_connection_p.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/application.h"
#include "platform/database_recordset_p.h"
#include "platform/debuglog.h"
#include "platform/eventloop_p.h"
#include "platform/schedulerturn_p.h"
#include "platform/thread.h"

#include <QCoreApplication>

#include <strings.h>

namespace platform::dbdetail {

namespace {

/// Connections whose transaction GUI code opened: looked at once control is back at the top.
std::vector<std::weak_ptr<Connection>> g_guiTransactions;

bool Same(const std::weak_ptr<Connection> &a, const std::weak_ptr<Connection> &b)
{
    return !a.owner_before(b) && !b.owner_before(a);
}

} // namespace

Connection::Connection(bool *error, int *code, std::string *message)
    : m_error(error)
    , m_code(code)
    , m_message(message)
{
}

Connection::~Connection() { Close(); }

void Connection::SetError(int code, const std::string &message)
{
    if (!m_alive)
        return;
    *m_error = true;
    *m_code = code;
    *m_message = message;
}

void Connection::SetSqliteError(int rc)
{
    SetError(rc & 0xff, m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
}

void Connection::ClearError()
{
    if (!m_alive)
        return;
    *m_error = false;
    *m_code = 0;
    m_message->clear();
}

bool Connection::Bound(int rc)
{
    if (rc == SQLITE_OK)
        return true;
    SetSqliteError(rc);
    return false;
}

// --- who may run a statement ------------------------------------------------------------------

bool Connection::OwnerIsCurrent() const
{
    Thread *current = CurrentThread();
    if (m_txOwner != current)
        return false;
    if (!m_txOwnerHasRef)
        return true;
    // The same address may belong to a new thread after the owner was destroyed.
    const std::weak_ptr<Thread> ref = current->weak_from_this();
    return !ref.owner_before(m_txOwnerRef) && !m_txOwnerRef.owner_before(ref);
}

bool Connection::OwnerEnded() const
{
    if (!m_txOwner || !m_txOwnerHasRef)
        return false;
    const auto owner = m_txOwnerRef.lock();
    return !owner || owner->GetState() == Thread::State::NotRunning;
}

bool Connection::MustWait() const
{
    return m_db && m_txOwned && !sqlite3_get_autocommit(m_db) && !OwnerIsCurrent();
}

void Connection::WaitOnce()
{
    Thread *self = CurrentThread();
    const std::shared_ptr<Thread> owner = m_txOwnerRef.lock();
    // Not when it runs: then it is further down this call chain and goes on only when we return.
    const bool ownerRunnable = owner && owner->GetState() == Thread::State::Ready;
    if (self) {
        // The owner is GUI code, or a thread that sleeps or waits for a dialog: sleeping rather
        // than spinning on Yield lets the event loop turn without burning the time slice.
        if (ownerRunnable)
            Yield();
        else
            self->Sleep(1);
        return;
    }
    Yield(); // from GUI code: one round of the ready threads, the owner among them
    if (!ownerRunnable && QCoreApplication::instance()) {
        // A sleeping or blocked owner needs the event loop (its timer, a dialog) to go on.
        const std::shared_ptr<Connection> keep = shared_from_this();
        ProcessEventsUntil([&] { return !keep->m_alive || !MustWait() || OwnerEnded(); }, 10);
    }
}

bool Connection::GuiMayJoin()
{
    const int depth = detail::LoopDepth();
    if (depth == m_txLoopDepth)
        return true;
    if (depth > m_txLoopDepth) {
        // The owner waits in a nested event loop below this handler and goes on only once it has
        // returned: waiting would never end, and joining would mix two handlers' work.
        SetError(SQLITE_BUSY,
            "The database is in a transaction of GUI code that waits for a nested event loop; "
            "the statement was not run.");
        return false;
    }
    // The loop the transaction was begun in has ended, and every handler of it has returned.
    return RollBackLeft("GUI code left a transaction open in an event loop that has ended");
}

bool Connection::RollBackLeft(const char *why)
{
    const int rc = sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    NoteTransaction();
    if (rc == SQLITE_OK) {
        System::DebugLog(std::string(why) + ": rolled back (" + m_path + ")");
        return true;
    }
    System::DebugLog(
        std::string(why) + ": the rollback failed: " + sqlite3_errmsg(m_db) + " (" + m_path + ")");
    SetSqliteError(rc);
    return false;
}

void Connection::RollBackLeftByGui()
{
    const auto connections = std::move(g_guiTransactions);
    g_guiTransactions.clear();
    for (const auto &weak : connections) {
        const std::shared_ptr<Connection> c = weak.lock();
        if (c && c->m_db && c->m_txOwned && !c->m_txOwner && !sqlite3_get_autocommit(c->m_db)
            && !c->RollBackLeft("GUI code left a transaction open")) {
            // Tried again the next time, or it would stall every scan after all.
            g_guiTransactions.push_back(weak);
            detail::AtNextTopLevel(&Connection::RollBackLeftByGui);
        }
    }
}

bool Connection::BeginCall(bool read)
{
    // Only the owner's reads in the turn it opened it in belong to a read transaction shared by
    // a thread's selects; it holds no change, so ending it early loses nothing.
    if (m_readOpen && !(read && InSharedRead()))
        EndReads();
    // Other threads run while we wait; they may close the connection or drop the Database.
    std::shared_ptr<Connection> keep;
    for (;;) {
        if (!m_db) {
            SetError(SQLITE_MISUSE, "The database is not connected.");
            return false;
        }
        if (!m_txOwned || sqlite3_get_autocommit(m_db))
            return true;
        if (!m_txOwner && !CurrentThread())
            return GuiMayJoin();
        if (OwnerIsCurrent())
            return true;
        if (OwnerEnded()) {
            if (!RollBackLeft("A thread ended with its transaction open"))
                return false;
            continue;
        }
        if (!keep)
            keep = shared_from_this();
        WaitOnce();
        if (!m_alive)
            return false;
    }
}

void Connection::NoteTransaction()
{
    if (!m_db || sqlite3_get_autocommit(m_db)) {
        m_txOwned = false;
        m_txOwner = nullptr;
        m_txOwnerRef.reset();
        m_txOwnerHasRef = false;
        return;
    }
    if (m_txOwned)
        return;
    m_txOwned = true;
    m_txOwner = CurrentThread();
    m_txOwnerRef = m_txOwner ? m_txOwner->weak_from_this() : std::weak_ptr<Thread>();
    m_txOwnerHasRef = !m_txOwnerRef.expired();
    if (m_txOwner)
        return;
    // GUI code is never "ended": what it leaves open is found once control is back at the top.
    m_txLoopDepth = detail::LoopDepth();
    const std::weak_ptr<Connection> self = weak_from_this();
    bool listed = false;
    for (const auto &c : g_guiTransactions)
        listed = listed || Same(c, self);
    if (!listed)
        g_guiTransactions.push_back(self);
    detail::AtNextTopLevel(&Connection::RollBackLeftByGui);
}

void Connection::ReadTogether()
{
    Thread *const self = CurrentThread();
    if (m_readOpen || !self || !m_db
        || std::find(m_readers.begin(), m_readers.end(), self) == m_readers.end())
        return;
    const uint64_t turn = detail::SchedulerTurn();
    if (self == m_readOwner && turn == m_readTurn)
        return; // ended by a statement of its own in this turn
    if (!sqlite3_get_autocommit(m_db))
        return; // inside a transaction of its own
    if (RunReadStatement(m_beginRead, "BEGIN") != SQLITE_OK)
        return;
    m_readOpen = true;
    m_readOwner = self;
    m_readTurn = turn;
    NoteTransaction();
    // Once a turn: a thread that inserts after each lookup opens a read for every file.
    if (self == m_hookOwner && turn == m_hookTurn)
        return;
    m_hookOwner = self;
    m_hookTurn = turn;
    detail::BeforeLeaving([weak = weak_from_this()] {
        if (const std::shared_ptr<Connection> c = weak.lock())
            c->EndReads();
    });
}

void Connection::EndReads()
{
    if (!m_readOpen)
        return;
    // A read transaction ends without a word; it has nothing to lose should COMMIT fail.
    CommitSharedRead(/*report=*/false);
    NoteTransaction();
}

int Connection::CommitSharedRead(bool report)
{
    m_readOpen = false;
    if (!m_db || sqlite3_get_autocommit(m_db))
        return SQLITE_OK;
    const int rc = RunReadStatement(m_commitRead, "COMMIT");
    if (rc != SQLITE_OK) {
        if (report)
            SetSqliteError(rc); // before the rollback takes SQLite's message away
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return rc;
}

int Connection::RunReadStatement(sqlite3_stmt *&stmt, const char *sql)
{
    if (!stmt) {
        const int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK)
            return rc;
    }
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

bool Connection::InSharedRead() const
{
    return m_readOpen && m_db && CurrentThread() == m_readOwner
        && detail::SchedulerTurn() == m_readTurn;
}

bool Connection::FinishInsert(StatementPtr &st, bool shared)
{
    if (!shared)
        return Finish(st);
    const int rc = StepToEnd(st->stmt);
    if (rc == SQLITE_DONE) {
        Release(st);
        // A commit that fails rolls the row back: it must not wait in the transaction for a
        // later commit to take it along.
        const bool committed = CommitSharedRead(/*report=*/true) == SQLITE_OK;
        NoteTransaction();
        if (!committed)
            return false;
        // What it wrote is committed: its next select may open a read again.
        m_readOwner = nullptr;
        ClearError();
        return true;
    }
    // The failed insert changed nothing, so the read ends as it would have before it; and no
    // other thread can have opened a transaction since, so none is waited for.
    EndReads();
    if ((rc & 0xff) != SQLITE_BUSY) {
        Release(st);
        return false;
    }
    return Finish(st);
}

void Connection::CloseCursors()
{
    auto list = std::move(m_cursors);
    m_cursors.clear();
    for (Cursor *c : list)
        c->Detach();
}

void Connection::Close()
{
    m_readOpen = false;
    sqlite3_finalize(m_beginRead);
    sqlite3_finalize(m_commitRead);
    m_beginRead = m_commitRead = nullptr;
    CloseCursors();
    m_execCache.Clear();
    m_selectCache.Clear();
    // Before the handle: the worker's connection would keep the WAL from being removed.
    m_checkpointer.reset();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
    NoteTransaction();
}

// --- statements -------------------------------------------------------------------------------

int Connection::StepToEnd(sqlite3_stmt *stmt)
{
    int rc;
    do {
        rc = sqlite3_step(stmt);
    } while (rc == SQLITE_ROW);
    if (rc != SQLITE_DONE)
        SetSqliteError(rc);
    sqlite3_reset(stmt);
    return rc;
}

bool Connection::RunToEnd(sqlite3_stmt *stmt) { return StepToEnd(stmt) == SQLITE_DONE; }

bool Connection::Finish(StatementPtr &st)
{
    const bool ok = RunToEnd(st->stmt);
    Release(st);
    NoteTransaction();
    if (ok)
        ClearError();
    return ok;
}

bool Connection::Fits(const std::string &sql)
{
    if (sql.size() <= std::size_t(INT_MAX))
        return true;
    SetError(SQLITE_TOOBIG, "The statement is too long.");
    return false;
}

StatementPtr Connection::Prepare(const std::string &sql)
{
    if (!Fits(sql))
        return nullptr;
    sqlite3_stmt *raw = nullptr;
    const int rc = sqlite3_prepare_v3(
        m_db, sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    if (rc != SQLITE_OK) {
        SetSqliteError(rc);
        return nullptr;
    }
    if (!raw) {
        SetError(SQLITE_MISUSE, "The statement is empty.");
        return nullptr;
    }
    return std::make_shared<Statement>(raw);
}

StatementPtr Connection::CachedStatement(const std::string &sql)
{
    if (StatementPtr st = m_execCache.Take(sql))
        return st;
    StatementPtr st = Prepare(sql);
    if (!st)
        return nullptr;
    st->inUse = true;
    if (!m_execCache.Contains(sql))
        m_execCache.Put(sql, st);
    return st;
}

namespace {

/// Whether the hidden last column of `stmt` is the rowid of the one table every other column
/// comes from.
bool RowidOfOneTable(sqlite3 *db, sqlite3_stmt *stmt, std::string &database, std::string &table)
{
    const int n = sqlite3_column_count(stmt);
    if (n < 2)
        return false;
    const char *db0 = sqlite3_column_database_name(stmt, n - 1);
    const char *t0 = sqlite3_column_table_name(stmt, n - 1);
    const char *origin = sqlite3_column_origin_name(stmt, n - 1);
    if (!db0 || !t0 || !origin)
        return false;
    const char *type = nullptr;
    int primaryKey = 0;
    if (sqlite3_table_column_metadata(
            db, db0, t0, origin, &type, nullptr, nullptr, &primaryKey, nullptr)
            != SQLITE_OK
        || !primaryKey || !type || strcasecmp(type, "INTEGER") != 0)
        return false;
    bool any = false;
    for (int i = 0; i < n - 1; ++i) {
        const char *t = sqlite3_column_table_name(stmt, i);
        if (!t)
            continue;
        if (std::strcmp(t, t0) != 0 || std::strcmp(sqlite3_column_database_name(stmt, i), db0) != 0)
            return false;
        any = true;
    }
    if (!any)
        return false;
    database = db0;
    table = t0;
    return true;
}

} // namespace

StatementPtr Connection::PrepareSelect(
    const std::string &sql, std::size_t rowidAt, std::size_t parameters)
{
    StatementPtr st = Prepare(sql);
    if (!st)
        return nullptr;
    if (sqlite3_bind_parameter_count(st->stmt) != int(parameters)) {
        SetError(SQLITE_RANGE, "The statement's values cannot be bound.");
        return nullptr;
    }
    if (rowidAt == std::string::npos)
        return st;
    // Only beside a text that prepares as written: the added column must not make a failing
    // statement run (an "ORDER BY 2" of a single column, a compound of unequal column counts).
    const std::string withRowid = sql.substr(0, rowidAt) + ", rowid " + sql.substr(rowidAt);
    sqlite3_stmt *raw = nullptr;
    std::string database, table;
    if (sqlite3_prepare_v3(
            m_db, withRowid.data(), int(withRowid.size()), SQLITE_PREPARE_PERSISTENT, &raw, nullptr)
            != SQLITE_OK
        || !raw || sqlite3_bind_parameter_count(raw) != int(parameters)
        || !RowidOfOneTable(m_db, raw, database, table)) {
        sqlite3_finalize(raw);
        return st;
    }
    st = std::make_shared<Statement>(raw);
    st->hiddenRowid = true;
    st->database = std::move(database);
    st->table = std::move(table);
    return st;
}

} // namespace platform::dbdetail
