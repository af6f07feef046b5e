#include "platform/database.h"

#include <algorithm>

#include <string_view>

#include "platform/database_connection_p.h"
#include "platform/database_recordset_p.h"
#include "platform/database_selecttext_p.h"
#include "platform/database_values_p.h"
#include "platform/database_walwrites_p.h"
#include "platform/thread.h"

#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

using namespace dbdetail;

// --- DatabaseRecord ---------------------------------------------------------------------------

namespace {

void SetEntry(std::vector<DatabaseRecord::Entry> &entries, const std::string &name,
    std::variant<std::string, int64_t, double> value)
{
    for (auto &e : entries) {
        if (strcasecmp(e.name.c_str(), name.c_str()) == 0) {
            e.value = std::move(value);
            return;
        }
    }
    entries.push_back({ name, std::move(value) });
}

} // namespace

void DatabaseRecord::Column(const std::string &name, const std::string &value)
{
    SetEntry(m_entries, name, value);
}

void DatabaseRecord::IntegerColumn(const std::string &name, int64_t value)
{
    SetEntry(m_entries, name, value);
}

void DatabaseRecord::BooleanColumn(const std::string &name, bool value)
{
    SetEntry(m_entries, name, int64_t(value ? 1 : 0));
}

void DatabaseRecord::DoubleColumn(const std::string &name, double value)
{
    SetEntry(m_entries, name, value);
}

// --- Database ---------------------------------------------------------------------------------

struct Database::Impl
{
    Impl(bool *error, int *code, std::string *message)
        : m_shared(std::make_shared<Connection>(error, code, message))
        , m_conn(*m_shared)
    {
    }
    std::shared_ptr<Connection> m_shared;
    Connection &m_conn;
};

Database::Database()
    : m_impl(std::make_unique<Impl>(&m_error, &m_errorCode, &m_errorMessage))
{
}

Database::~Database()
{
    m_impl->m_conn.m_alive = false;
    m_impl->m_conn.Close();
}

bool Database::IsConnected() const { return m_impl->m_conn.m_db != nullptr; }

namespace {

bool FileExists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool InWalMode(sqlite3 *db)
{
    bool wal = false;
    sqlite3_exec(
        db, "PRAGMA journal_mode",
        [](void *out, int, char **values, char **) {
            *static_cast<bool *>(out) = values[0] && strcasecmp(values[0], "wal") == 0;
            return 0;
        },
        &wal, nullptr);
    return wal;
}

/// Opens `path` with `flags`, checks that it is a database and sets the connection up. On failure
/// the handle is closed and the error set. `creating`: the settings must be written, which puts
/// the new file's header on disk.
bool Open(Connection &c, const std::string &path, int flags, bool creating)
{
    c.Close();
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, WalWritesVfs());
    auto fail = [&](int code) {
        c.SetError(code & 0xff,
            std::string(db ? sqlite3_errmsg(db) : sqlite3_errstr(code)) + " (" + path + ")");
        sqlite3_close_v2(db);
        return false;
    };
    if (rc != SQLITE_OK)
        return fail(rc);
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // SQLite reads the file lazily: reading the schema is what checks the header, so a file that
    // is not a database fails here.
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc);
    // On an existing file the settings are a wish: a read-only file or a file system without
    // shared memory keeps its journal mode and still serves reads.
    rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && creating)
        return fail(rc);
    sqlite3_exec(db, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
    rc = sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && creating)
        return fail(rc);
    c.m_db = db;
    c.m_path = path;
    if (InWalMode(db))
        c.m_checkpointer = Checkpointer::Start(db, path);
    c.ClearError();
    return true;
}

/// Ends any connection and sets the error: the file cannot be opened as asked.
bool Refuse(Connection &c, int code, const std::string &message)
{
    c.Close();
    c.SetError(code, message);
    return false;
}

} // namespace

bool Database::Connect()
{
    Connection &c = m_impl->m_conn;
    if (!DatabaseFile)
        return Refuse(c, SQLITE_MISUSE, "The database has no file.");
    const std::string path = DatabaseFile->NativePath();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return Refuse(c, SQLITE_CANTOPEN, "The database file does not exist (" + path + ")");
    return Open(c, path, SQLITE_OPEN_READWRITE, /*creating=*/false);
}

bool Database::CreateDatabaseFile()
{
    Connection &c = m_impl->m_conn;
    if (!DatabaseFile)
        return Refuse(c, SQLITE_MISUSE, "The database has no file.");
    const std::string path = DatabaseFile->NativePath();
    if (FileExists(path))
        return Refuse(c, SQLITE_CANTOPEN, "The database file exists already (" + path + ")");
    if (Open(c, path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, /*creating=*/true)
        && FileExists(path))
        return true;
    // Leave nothing half made behind.
    const bool wasOpen = c.m_db != nullptr;
    c.Close();
    if (wasOpen)
        c.SetError(SQLITE_CANTOPEN, "The database file was not created (" + path + ")");
    ::unlink(path.c_str());
    ::unlink((path + "-wal").c_str());
    ::unlink((path + "-shm").c_str());
    return false;
}

void Database::SQLExecute(const std::string &sql)
{
    Connection &c = m_impl->m_conn;
    if (!c.BeginCall())
        return;
    if (StatementPtr st = c.m_execCache.Take(sql)) {
        c.Finish(st);
        return;
    }
    if (!c.Fits(sql))
        return;
    const char *p = sql.data();
    const char *end = p + sql.size();
    bool first = true;
    while (p < end) {
        sqlite3_stmt *raw = nullptr;
        const char *tail = nullptr;
        const int rc = sqlite3_prepare_v2(c.m_db, p, int(end - p), &raw, &tail);
        if (rc != SQLITE_OK) {
            c.SetSqliteError(rc);
            return;
        }
        if (!raw) { // only blanks or comments were left
            p = tail;
            continue;
        }
        auto st = std::make_shared<Statement>(raw);
        st->inUse = true;
        const std::string_view rest(tail, std::size_t(end - tail));
        const bool single = first && rest.find_first_not_of(" \t\r\n;") == std::string_view::npos;
        if (single && !c.m_execCache.Contains(sql))
            c.m_execCache.Put(sql, st);
        first = false;
        if (!c.Finish(st))
            return;
        p = tail;
    }
    c.ClearError();
}

Ref<RecordSet> Database::SQLSelect(const std::string &sql)
{
    Connection &c = m_impl->m_conn;
    if (!c.BeginCall(/*read=*/true))
        return nullptr;
    c.ReadTogether();
    SelectText text = ParseSelect(sql);
    const bool parameterised = !text.key.empty();
    const std::string &key = parameterised ? text.key : sql;
    StatementPtr st = c.m_selectCache.Take(key);
    if (!st) {
        st = c.PrepareSelect(key, text.rowidAt, text.values.size());
        if (!st && parameterised) {
            // A literal where SQLite takes no parameter, or one that a compound's ORDER BY term
            // must match as written: the text itself. The rowid goes before every literal that
            // was replaced, so its place is the same.
            text.values.clear();
            st = c.PrepareSelect(sql, text.rowidAt, 0);
        }
        if (!st)
            return nullptr;
        st->inUse = true;
        const std::string &cacheKey = text.values.empty() ? sql : key;
        if (!c.m_selectCache.Contains(cacheKey))
            c.m_selectCache.Put(cacheKey, st);
    }
    for (std::size_t i = 0; i < text.values.size(); ++i) {
        if (!c.Bound(sqlite3_bind_text64(st->stmt, int(i + 1), text.values[i].data(),
                text.values[i].size(), SQLITE_TRANSIENT, SQLITE_UTF8))) {
            Release(st);
            return nullptr;
        }
    }
    const int rc = sqlite3_step(st->stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        c.SetSqliteError(rc);
        Release(st);
        c.NoteTransaction();
        return nullptr;
    }
    auto impl = std::make_unique<RecordSet::Impl>();
    Cursor &cur = *impl;
    cur.m_conn = &c;
    cur.m_columns = sqlite3_column_count(st->stmt) - (st->hiddenRowid ? 1 : 0);
    cur.m_eof = rc == SQLITE_DONE;
    if (cur.m_eof) {
        cur.m_count = 0;
        sqlite3_reset(st->stmt); // ends the read
    }
    cur.m_st = std::move(st);
    cur.m_values = std::move(text.values);
    c.m_cursors.push_back(&cur);
    c.NoteTransaction();
    c.ClearError();
    return Ref<RecordSet>(std::shared_ptr<RecordSet>(new RecordSet(std::move(impl))));
}

void Database::InsertRecord(const std::string &table, const DatabaseRecord &record)
{
    Connection &c = m_impl->m_conn;
    // Right after the thread's own selects of this turn, the insert commits their read with it:
    // one lock on the WAL index taken and given back fewer than on its own.
    const bool shared = c.InSharedRead();
    if (!shared && !c.BeginCall())
        return;
    const auto &entries = record.Entries();
    std::string sql = "INSERT INTO " + QuoteIdentifier(table);
    if (entries.empty()) {
        sql += " DEFAULT VALUES";
    } else {
        sql += " (";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (i)
                sql += ", ";
            sql += QuoteIdentifier(entries[i].name);
        }
        sql += ") VALUES (";
        for (std::size_t i = 0; i < entries.size(); ++i)
            sql += i ? ", ?" : "?";
        sql += ")";
    }
    StatementPtr st = c.CachedStatement(sql);
    if (!st)
        return;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!c.Bound(Bind(st->stmt, int(i + 1), entries[i].value))) {
            Release(st);
            return;
        }
    }
    c.FinishInsert(st, shared);
}

int64_t Database::LastRowID() const
{
    return m_impl->m_conn.m_db ? sqlite3_last_insert_rowid(m_impl->m_conn.m_db) : 0;
}

namespace {

void EndTransaction(Connection &c, const char *sql)
{
    if (!c.BeginCall())
        return;
    if (sqlite3_get_autocommit(c.m_db)) {
        c.NoteTransaction();
        c.ClearError();
        return;
    }
    if (StatementPtr st = c.CachedStatement(sql))
        c.Finish(st);
}

} // namespace

void Database::Commit() { EndTransaction(m_impl->m_conn, "COMMIT"); }

void Database::Rollback() { EndTransaction(m_impl->m_conn, "ROLLBACK"); }

Database::ReadsTogether::ReadsTogether(const Ref<Database> &db)
{
    if (!db || !CurrentThread())
        return;
    m_conn = db->m_impl->m_shared;
    m_thread = CurrentThread();
    m_conn->m_readers.push_back(m_thread);
}

Database::ReadsTogether::~ReadsTogether()
{
    if (!m_conn)
        return;
    auto &readers = m_conn->m_readers;
    if (const auto at = std::find(readers.begin(), readers.end(), m_thread); at != readers.end())
        readers.erase(at);
    if (std::find(readers.begin(), readers.end(), m_thread) == readers.end())
        m_conn->EndReads();
}

void Database::Close()
{
    m_impl->m_conn.Close();
    m_impl->m_conn.ClearError();
}

} // namespace platform
