#pragma once

// The state of one catalogue connection: the SQLite handle, its statement caches, its open
// record sets, and who owns its open transaction.

#include "platform/database_checkpoint_p.h"
#include "platform/database_statementcache_p.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sqlite3.h>

namespace platform {
class Thread;
}

namespace platform::dbdetail {

inline constexpr int kBusyTimeoutMs = 2000;

struct Cursor;

/// Kept apart from Database so that record sets and waiting callers can hold on to it; the error
/// fields are the Database's own.
class Connection : public std::enable_shared_from_this<Connection>
{
public:
    Connection(bool *error, int *code, std::string *message);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    sqlite3 *m_db = nullptr;
    std::string m_path; // the file, for messages
    StatementCache m_execCache;
    StatementCache m_selectCache;
    std::vector<Cursor *> m_cursors; // open record sets
    bool m_alive = true; // false once the Database object is gone
    std::unique_ptr<Checkpointer> m_checkpointer; // nil: SQLite checkpoints inside the commits

    void SetError(int code, const std::string &message);
    void SetSqliteError(int rc);
    void ClearError();
    /// `rc` is the result of a bind: false with the error set when the value was not bound.
    bool Bound(int rc);

    /// The entry of every call that runs a statement: false (with the error set) when there is no
    /// connection, or when the caller is GUI code and the open transaction belongs to GUI code
    /// that waits in a nested event loop below it. Otherwise waits until no other thread's
    /// transaction is open.
    /// `read`: the call only reads (a select, a count), and may run inside the read transaction
    /// its thread's selects share; any other call ends that transaction first.
    bool BeginCall(bool read = false);
    /// Records or forgets the transaction's owner after a statement ran.
    void NoteTransaction();

    void Close();
    void CloseCursors();

    /// Before a select of a thread that reads together (see Database::ReadsTogether): opens the
    /// read transaction its selects share in this turn, where none is open.
    void ReadTogether();
    /// Ends that read transaction; nothing when none is open.
    void EndReads();
    /// Whether an insert of the current thread now may run inside the read transaction its
    /// selects share in this turn (see FinishInsert).
    bool InSharedRead() const;
    /// Runs an insert to its end, as Finish does. `shared`: it runs inside the thread's shared
    /// read, whose commit then commits the insert at once, as autocommit would; the thread's
    /// next select may share a new read. Where SQLite takes no change inside it (its snapshot
    /// is older than the file, or another connection writes), the read ends and the insert runs
    /// on its own, as it would have without.
    bool FinishInsert(StatementPtr &st, bool shared);
    std::vector<Thread *> m_readers; // the threads reading together, once per scope

    /// Runs the statement to its end; false with the error set on failure. Leaves it reset.
    bool RunToEnd(sqlite3_stmt *stmt);
    /// As RunToEnd, with SQLite's result: SQLITE_DONE on success.
    int StepToEnd(sqlite3_stmt *stmt);
    /// The end of a call that runs a statement to its end: runs it, gives it back, notes the
    /// transaction, and clears the error when it succeeded (true) or leaves it set.
    bool Finish(StatementPtr &st);
    /// False with the error set when `sql` is longer than SQLite's interface takes.
    bool Fits(const std::string &sql);
    /// The first statement of `sql`, prepared (not cached); nil with the error set when it does
    /// not prepare or holds no statement.
    StatementPtr Prepare(const std::string &sql);
    /// A statement for `sql` from the execution cache, or newly prepared and cached; nil with the
    /// error set when it does not prepare.
    StatementPtr CachedStatement(const std::string &sql);
    /// `rowidAt`: where to try adding the rowid column; `parameters`: how many "?" `sql` holds.
    StatementPtr PrepareSelect(const std::string &sql, std::size_t rowidAt, std::size_t parameters);

private:
    bool OwnerIsCurrent() const;
    bool MustWait() const;
    bool OwnerEnded() const;
    void WaitOnce();
    /// A GUI statement while GUI code's transaction is open: whether it may run inside it.
    bool GuiMayJoin();
    /// Ends a transaction whose owner can no longer end it, with `why` in the debug log; false
    /// with the error set when it could not be rolled back.
    bool RollBackLeft(const char *why);
    static void RollBackLeftByGui();

    bool *m_error;
    int *m_code;
    std::string *m_message;

    // The cooperative thread whose transaction is open; m_txOwned is false in autocommit mode.
    bool m_txOwned = false;
    Thread *m_txOwner = nullptr; // nullptr: GUI code
    // Tells whether the owner still runs; empty for GUI code and for a thread not made by
    // make_shared, which is then taken to run until it ends its transaction.
    std::weak_ptr<Thread> m_txOwnerRef;
    bool m_txOwnerHasRef = false;
    // For GUI code: the event loops on its stack when it began the transaction.
    int m_txLoopDepth = 0;

    // The read transaction of a thread reading together: open or not, whose, and the scheduler
    // turn it was opened in (one a turn: a thread that wrote reads alone until its next turn).
    bool m_readOpen = false;
    Thread *m_readOwner = nullptr;
    uint64_t m_readTurn = 0;
    // The thread and turn the scheduler was last asked to end it for, before the thread leaves.
    Thread *m_hookOwner = nullptr;
    uint64_t m_hookTurn = 0;
    // Its BEGIN and COMMIT, prepared once: a first scan opens one for every new file.
    sqlite3_stmt *m_beginRead = nullptr;
    sqlite3_stmt *m_commitRead = nullptr;
    /// Runs the read's BEGIN or COMMIT, preparing it on first use; SQLite's result.
    int RunReadStatement(sqlite3_stmt *&stmt, const char *sql);
    /// Ends the shared read with COMMIT, or with ROLLBACK where that fails; COMMIT's result, set
    /// as the error when `report`.
    int CommitSharedRead(bool report);
};

} // namespace platform::dbdetail
