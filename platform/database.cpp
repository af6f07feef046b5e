#include "platform/database.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <list>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "platform/application.h"
#include "platform/thread.h"

#include <QCoreApplication>

#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace dbdetail {

constexpr std::size_t kStatementCacheSize = 64;
constexpr int kBusyTimeoutMs = 2000;

/// A prepared statement, shared by the cache and the one caller that uses it at a time.
struct Statement
{
    explicit Statement(sqlite3_stmt *s)
        : stmt(s)
    {
    }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *stmt;
    bool inUse = false;
    bool cached = false;
    // For selects: the last column is the rowid of `table`, added so that Update can find the row.
    bool hiddenRowid = false;
    std::string database;
    std::string table;
};
using StatementPtr = std::shared_ptr<Statement>;

/// Prepared statements by SQL text, least recently used first out. A statement in use by a
/// record set stays alive after eviction and is finalized when the record set lets it go.
class StatementCache
{
public:
    ~StatementCache() { Clear(); }

    /// The idle cached statement for `sql`, marked in use, or nil.
    StatementPtr Take(const std::string &sql)
    {
        auto it = m_index.find(sql);
        if (it == m_index.end() || it->second->second->inUse)
            return nullptr;
        m_lru.splice(m_lru.begin(), m_lru, it->second);
        it->second->second->inUse = true;
        return it->second->second;
    }
    bool Contains(const std::string &sql) const { return m_index.count(sql) != 0; }

    /// Keeps `st` (already in use by the caller) under `sql`.
    void Put(const std::string &sql, const StatementPtr &st)
    {
        st->cached = true;
        m_lru.emplace_front(sql, st);
        m_index.emplace(m_lru.front().first, m_lru.begin());
        while (m_lru.size() > kStatementCacheSize) {
            auto &victim = m_lru.back();
            victim.second->cached = false;
            m_index.erase(victim.first);
            m_lru.pop_back();
        }
    }

    void Clear()
    {
        for (auto &entry : m_lru)
            entry.second->cached = false;
        m_index.clear();
        m_lru.clear();
    }

private:
    std::list<std::pair<std::string, StatementPtr>> m_lru;
    std::unordered_map<std::string, std::list<std::pair<std::string, StatementPtr>>::iterator>
        m_index;
};

/// Gives a statement back to its cache (reset, ready for the next caller) or drops it.
void Release(StatementPtr &st)
{
    if (!st)
        return;
    sqlite3_reset(st->stmt);
    if (st->cached) {
        sqlite3_clear_bindings(st->stmt);
        st->inUse = false;
    }
    st.reset();
}

struct Cursor;

/// The state of one connection. Kept apart from Database so that record sets and waiting callers
/// can hold on to it; the error fields are the Database's own.
class Connection : public std::enable_shared_from_this<Connection>
{
public:
    Connection(bool *error, int *code, std::string *message)
        : m_error(error)
        , m_code(code)
        , m_message(message)
    {
    }
    ~Connection() { Close(); }

    sqlite3 *m_db = nullptr;
    StatementCache m_execCache;
    StatementCache m_selectCache;
    std::vector<Cursor *> m_cursors; // open record sets
    bool m_alive = true; // false once the Database object is gone

    void SetError(int code, const std::string &message)
    {
        if (!m_alive)
            return;
        *m_error = true;
        *m_code = code;
        *m_message = message;
    }
    void SetSqliteError(int rc)
    {
        SetError(rc & 0xff, m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
    }
    void ClearError()
    {
        if (!m_alive)
            return;
        *m_error = false;
        *m_code = 0;
        m_message->clear();
    }

    /// The entry of every call that runs a statement: false (with the error set) when there is no
    /// connection; otherwise waits until no other thread's transaction is open.
    bool BeginCall();
    /// Records or forgets the transaction's owner after a statement ran.
    void NoteTransaction();

    void Close();
    void CloseCursors();

    /// Runs the statement to its end; false with the error set on failure. Leaves it reset.
    bool RunToEnd(sqlite3_stmt *stmt);
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
};

/// The state of one record set.
struct Cursor
{
    Connection *m_conn = nullptr; // nil once the connection closed
    StatementPtr m_st;
    int m_columns = 0; // visible columns (the hidden rowid column excluded)
    bool m_eof = true;
    bool m_onFirstRow = true;
    bool m_editing = false;
    int64_t m_count = -1;
    std::vector<std::string> m_values; // bound to the statement's parameters
    std::vector<std::shared_ptr<DatabaseField>> m_fields; // one per column, made on first use
    std::vector<std::optional<DatabaseField::Variant>> m_pending; // changes of the current row

    bool OnRow() const { return m_st && !m_eof; }
    void Detach();
    void Close();
};

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

bool Connection::BeginCall()
{
    if (!m_db) {
        SetError(SQLITE_MISUSE, "The database is not connected.");
        return false;
    }
    if (!m_txOwned || sqlite3_get_autocommit(m_db) || OwnerIsCurrent())
        return true;
    // Other threads run while we wait; they may close the connection or drop the Database.
    const std::shared_ptr<Connection> keep = shared_from_this();
    while (MustWait()) {
        if (OwnerEnded()) {
            // The thread that opened the transaction ended without closing it.
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            NoteTransaction();
            break;
        }
        WaitOnce();
        if (!m_alive)
            return false;
    }
    if (!m_db) {
        SetError(SQLITE_MISUSE, "The database is not connected.");
        return false;
    }
    return true;
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
}

void Cursor::Detach()
{
    Release(m_st);
    m_conn = nullptr;
    m_eof = true;
    m_editing = false;
    m_pending.clear();
}

void Cursor::Close()
{
    if (m_conn) {
        auto &list = m_conn->m_cursors;
        for (auto &c : list) {
            if (c == this) {
                c = list.back();
                list.pop_back();
                break;
            }
        }
    }
    Detach();
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
    CloseCursors();
    m_execCache.Clear();
    m_selectCache.Clear();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
    NoteTransaction();
}

bool Connection::RunToEnd(sqlite3_stmt *stmt)
{
    int rc;
    do {
        rc = sqlite3_step(stmt);
    } while (rc == SQLITE_ROW);
    const bool ok = rc == SQLITE_DONE;
    if (!ok)
        SetSqliteError(rc);
    sqlite3_reset(stmt);
    return ok;
}

StatementPtr Connection::Prepare(const std::string &sql)
{
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

bool IsIdentChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'
        || static_cast<unsigned char>(c) >= 0x80;
}

/// A SELECT made ready for the statement cache. The catalogue's statements carry their values
/// as literals ("... WHERE fullpath = 'Disk:a:b'"), so each text would be prepared anew; the text
/// literals compared after the top-level WHERE become parameters instead, and the statement with
/// "?" in their place is prepared once and serves every value. The result is the same as the
/// text's: a bound text has no affinity and no collation, as a literal has none, so every
/// comparison means what it meant, and no result column takes its name from what follows the
/// WHERE (a later SELECT of a compound takes the first one's names).
struct SelectText
{
    std::string key; // the text with those literals replaced by "?"; empty: use the text as it is
    std::vector<std::string> values; // the literals' values, in parameter order
    // Where ", rowid" goes so that the rows can be updated: before the top-level FROM of a plain
    // SELECT (in the key and in the text alike, as no literal before it is replaced); npos for
    // any other statement.
    std::size_t rowidAt = std::string::npos;
};

SelectText ParseSelect(const std::string &sql)
{
    SelectText out;
    const std::size_t n = sql.size();
    std::size_t i = 0;
    std::size_t copied = 0; // sql[copied, i) is still to be appended to the key
    int depth = 0;
    int word = 0; // number of tokens seen at depth 0
    bool distinct = false;
    bool afterFrom = false;
    bool afterWhere = false;
    std::string_view previous; // the last token, for telling a compared literal
    const auto keepSql = [] { return SelectText(); };
    auto compares = [&] {
        for (const char *op :
            { "=", "==", "<>", "!=", "<", ">", "<=", ">=", "LIKE", "GLOB", "ESCAPE" }) {
            if (previous.size() == std::strlen(op)
                && strncasecmp(previous.data(), op, previous.size()) == 0)
                return true;
        }
        return false;
    };
    while (i < n) {
        const char c = sql[i];
        const std::size_t start = i;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n')
                ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const std::size_t end = sql.find("*/", i + 2);
            if (end == std::string::npos)
                return keepSql();
            i = end + 2;
            continue;
        }
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char close = c == '[' ? ']' : c;
            std::string value;
            ++i;
            for (;;) {
                if (i >= n)
                    return keepSql();
                if (sql[i] == close) {
                    if (close != ']' && i + 1 < n && sql[i + 1] == close) {
                        value += close;
                        i += 2;
                        continue;
                    }
                    break;
                }
                value += sql[i++];
            }
            ++i;
            if (c == '\'' && afterWhere && compares()) {
                out.key.append(sql, copied, start - copied);
                out.key += '?';
                copied = i;
                out.values.push_back(std::move(value));
            }
        } else if (c == '(') {
            ++depth;
            ++i;
        } else if (c == ')') {
            if (--depth < 0)
                return keepSql();
            ++i;
        } else if (c == ';') {
            break; // the rest is not part of the select
        } else if (c == '?' || c == ':' || c == '@' || c == '$') {
            return keepSql(); // parameters of the caller's own: leave the text alone
        } else if (IsIdentChar(c)) {
            while (i < n && IsIdentChar(sql[i]))
                ++i;
            const std::string_view w(sql.data() + start, i - start);
            auto is = [&](const char *k) {
                return w.size() == std::strlen(k) && strncasecmp(w.data(), k, w.size()) == 0;
            };
            if (depth == 0) {
                if (word == 0 && !is("SELECT"))
                    return keepSql();
                if (word == 1 && is("DISTINCT"))
                    distinct = true;
                if (word > 1 && !afterFrom && is("FROM")) {
                    afterFrom = true;
                    if (!distinct)
                        out.rowidAt = start;
                }
                if (afterFrom && is("WHERE"))
                    afterWhere = true;
            }
        } else if (c == '=' || c == '<' || c == '>' || c == '!') {
            while (i < n && (sql[i] == '=' || sql[i] == '<' || sql[i] == '>' || sql[i] == '!'))
                ++i;
        } else {
            ++i;
        }
        if (depth == 0)
            ++word;
        previous = std::string_view(sql.data() + start, i - start);
    }
    if (!afterFrom)
        return keepSql();
    out.key.append(sql, copied, std::string::npos);
    return out;
}

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

std::string QuoteIdentifier(const std::string &name)
{
    std::string out = "\"";
    for (char c : name) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

int64_t TextToInteger(const std::string &s)
{
    const char *p = s.c_str();
    char *endInt = nullptr;
    char *endReal = nullptr;
    const long long i = std::strtoll(p, &endInt, 10);
    const double d = std::strtod(p, &endReal);
    if (endReal > endInt && std::isfinite(d))
        return int64_t(d);
    return i;
}

bool TextToBoolean(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    if (s.size() == 4 && strncasecmp(s.data(), "true", 4) == 0)
        return true;
    if (s.empty() || (s.size() == 5 && strncasecmp(s.data(), "false", 5) == 0))
        return false;
    const std::string text(s);
    return std::strtod(text.c_str(), nullptr) != 0.0;
}

std::string DoubleToText(double d)
{
    // As SQLite writes a real as text.
    char buffer[64];
    sqlite3_snprintf(sizeof buffer, buffer, "%!.15g", d);
    return buffer;
}

std::string VariantToString(const DatabaseField::Variant &v)
{
    struct
    {
        std::string operator()(std::nullptr_t) const { return {}; }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return DoubleToText(d); }
        std::string operator()(const std::string &s) const { return s; }
        std::string operator()(const std::vector<uint8_t> &b) const
        {
            return std::string(b.begin(), b.end());
        }
    } visitor;
    return std::visit(visitor, v);
}

int64_t VariantToInteger(const DatabaseField::Variant &v)
{
    struct
    {
        int64_t operator()(std::nullptr_t) const { return 0; }
        int64_t operator()(int64_t i) const { return i; }
        int64_t operator()(double d) const { return std::isfinite(d) ? int64_t(d) : 0; }
        int64_t operator()(const std::string &s) const { return TextToInteger(s); }
        int64_t operator()(const std::vector<uint8_t> &b) const
        {
            return TextToInteger(std::string(b.begin(), b.end()));
        }
    } visitor;
    return std::visit(visitor, v);
}

bool VariantToBoolean(const DatabaseField::Variant &v)
{
    struct
    {
        bool operator()(std::nullptr_t) const { return false; }
        bool operator()(int64_t i) const { return i != 0; }
        bool operator()(double d) const { return d != 0.0; }
        bool operator()(const std::string &s) const { return TextToBoolean(s); }
        bool operator()(const std::vector<uint8_t> &) const { return false; }
    } visitor;
    return std::visit(visitor, v);
}

/// Binds a value of a field or of a record entry; text and blobs are bound without a copy, so
/// the value must outlive the step.
template<class V> int Bind(sqlite3_stmt *stmt, int index, const V &v)
{
    return std::visit(
        [&](const auto &x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::nullptr_t>)
                return sqlite3_bind_null(stmt, index);
            else if constexpr (std::is_same_v<T, int64_t>)
                return sqlite3_bind_int64(stmt, index, x);
            else if constexpr (std::is_same_v<T, double>)
                return sqlite3_bind_double(stmt, index, x);
            else if constexpr (std::is_same_v<T, std::string>)
                return sqlite3_bind_text64(
                    stmt, index, x.data(), x.size(), SQLITE_STATIC, SQLITE_UTF8);
            else
                return sqlite3_bind_blob64(stmt, index, x.data(), x.size(), SQLITE_STATIC);
        },
        v);
}

bool FileExists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace dbdetail

using namespace dbdetail;

struct RecordSet::Impl : Cursor
{
};

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

/// Opens `path` with `flags`, checks that it is a database and sets the connection up. On failure
/// the handle is closed and the error set. `creating`: the settings must be written, which puts
/// the new file's header on disk.
bool Open(Connection &c, const std::string &path, int flags, bool creating)
{
    c.Close();
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
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
        const bool ok = c.RunToEnd(st->stmt);
        Release(st);
        c.NoteTransaction();
        if (ok)
            c.ClearError();
        return;
    }
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
        const std::string_view rest(tail, end - tail);
        const bool single = first && rest.find_first_not_of(" \t\r\n;") == std::string_view::npos;
        if (single && !c.m_execCache.Contains(sql))
            c.m_execCache.Put(sql, st);
        first = false;
        const bool ok = c.RunToEnd(raw);
        Release(st);
        c.NoteTransaction();
        if (!ok)
            return;
        p = tail;
    }
    c.ClearError();
}

Ref<RecordSet> Database::SQLSelect(const std::string &sql)
{
    Connection &c = m_impl->m_conn;
    if (!c.BeginCall())
        return nullptr;
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
    for (std::size_t i = 0; i < text.values.size(); ++i)
        sqlite3_bind_text64(st->stmt, int(i + 1), text.values[i].data(), text.values[i].size(),
            SQLITE_TRANSIENT, SQLITE_UTF8);
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
    if (!c.BeginCall())
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
        const int rc = Bind(st->stmt, int(i + 1), entries[i].value);
        if (rc != SQLITE_OK) {
            c.SetSqliteError(rc);
            Release(st);
            return;
        }
    }
    const bool ok = c.RunToEnd(st->stmt);
    Release(st);
    c.NoteTransaction();
    if (ok)
        c.ClearError();
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
    StatementPtr st = c.CachedStatement(sql);
    if (!st)
        return;
    const bool ok = c.RunToEnd(st->stmt);
    Release(st);
    c.NoteTransaction();
    if (ok)
        c.ClearError();
}

} // namespace

void Database::Commit() { EndTransaction(m_impl->m_conn, "COMMIT"); }

void Database::Rollback() { EndTransaction(m_impl->m_conn, "ROLLBACK"); }

void Database::Close()
{
    m_impl->m_conn.Close();
    m_impl->m_conn.ClearError();
}

// --- RecordSet --------------------------------------------------------------------------------

RecordSet::RecordSet(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl))
{
}

RecordSet::~RecordSet()
{
    m_impl->Close();
    for (auto &f : m_impl->m_fields) {
        if (f)
            f->m_owner = nullptr;
    }
}

bool RecordSet::EOF_() const { return m_impl->m_eof; }

bool RecordSet::BOF() const { return m_impl->m_onFirstRow; }

void RecordSet::MoveNext()
{
    Cursor &cur = *m_impl;
    if (!cur.OnRow())
        return;
    cur.m_editing = false;
    cur.m_pending.clear();
    cur.m_onFirstRow = false;
    const int rc = sqlite3_step(cur.m_st->stmt);
    if (rc == SQLITE_ROW)
        return;
    cur.m_eof = true;
    if (rc != SQLITE_DONE && cur.m_conn)
        cur.m_conn->SetSqliteError(rc);
    sqlite3_reset(cur.m_st->stmt);
}

int64_t RecordSet::RecordCount()
{
    Cursor &cur = *m_impl;
    if (cur.m_count >= 0)
        return cur.m_count;
    if (!cur.m_conn)
        return -1;
    Connection &c = *cur.m_conn;
    if (!c.BeginCall())
        return -1;
    // Looked at after the wait, in which another thread may have closed the connection.
    if (!cur.m_st) {
        c.SetError(SQLITE_MISUSE, "The record set is closed.");
        return -1;
    }
    std::string inner = sqlite3_sql(cur.m_st->stmt);
    while (!inner.empty()
        && (inner.back() == ';' || std::isspace(static_cast<unsigned char>(inner.back()))))
        inner.pop_back();
    // The newline ends a comment the select may end with.
    StatementPtr st = c.CachedStatement("SELECT count(*) FROM (" + inner + "\n)");
    if (!st)
        return -1;
    for (std::size_t i = 0; i < cur.m_values.size(); ++i)
        sqlite3_bind_text64(st->stmt, int(i + 1), cur.m_values[i].data(), cur.m_values[i].size(),
            SQLITE_STATIC, SQLITE_UTF8);
    const int rc = sqlite3_step(st->stmt);
    if (rc == SQLITE_ROW) {
        cur.m_count = sqlite3_column_int64(st->stmt, 0);
        c.ClearError();
    } else {
        c.SetSqliteError(rc == SQLITE_DONE ? SQLITE_ERROR : rc);
    }
    Release(st);
    return cur.m_count;
}

int RecordSet::FieldCount() const { return m_impl->m_columns; }

Ref<DatabaseField> RecordSet::IdxField(int n)
{
    Cursor &cur = *m_impl;
    if (!cur.m_st || n < 1 || n > cur.m_columns)
        return nullptr;
    if (cur.m_fields.empty())
        cur.m_fields.resize(std::size_t(cur.m_columns));
    auto &f = cur.m_fields[std::size_t(n - 1)];
    if (!f)
        f.reset(new DatabaseField(this, n - 1));
    return Ref<DatabaseField>(f);
}

Ref<DatabaseField> RecordSet::Field(const std::string &name)
{
    Cursor &cur = *m_impl;
    if (!cur.m_st)
        return nullptr;
    for (int i = 0; i < cur.m_columns; ++i) {
        const char *column = sqlite3_column_name(cur.m_st->stmt, i);
        if (column && strcasecmp(column, name.c_str()) == 0)
            return IdxField(i + 1);
    }
    return nullptr;
}

void RecordSet::Edit()
{
    Cursor &cur = *m_impl;
    if (!cur.m_conn)
        return;
    if (!cur.OnRow()) {
        cur.m_conn->SetError(SQLITE_MISUSE, "The record set has no current record to edit.");
        return;
    }
    if (!cur.m_st->hiddenRowid) {
        cur.m_conn->SetError(SQLITE_MISUSE,
            "The record set cannot be edited: its columns are not those of the rows "
            "of one table.");
        return;
    }
    cur.m_editing = true;
    cur.m_pending.resize(std::size_t(cur.m_columns));
    cur.m_conn->ClearError();
}

void RecordSet::Update()
{
    Cursor &cur = *m_impl;
    if (!cur.m_conn)
        return;
    Connection &c = *cur.m_conn;
    if (!c.BeginCall())
        return;
    // Looked at after the wait, in which another thread may have closed the connection.
    if (!cur.m_editing || !cur.OnRow()) {
        c.SetError(SQLITE_MISUSE, "Update without Edit.");
        return;
    }
    sqlite3_stmt *select = cur.m_st->stmt;
    std::string sql = "UPDATE " + QuoteIdentifier(cur.m_st->database) + "."
        + QuoteIdentifier(cur.m_st->table) + " SET ";
    std::vector<int> changed;
    for (int i = 0; i < cur.m_columns; ++i) {
        if (!cur.m_pending[std::size_t(i)])
            continue;
        const char *table = sqlite3_column_table_name(select, i);
        const char *origin = sqlite3_column_origin_name(select, i);
        if (!table || !origin || cur.m_st->table != table) {
            c.SetError(SQLITE_MISUSE,
                std::string("The column ") + sqlite3_column_name(select, i) + " is not a column of "
                    + cur.m_st->table + ".");
            return;
        }
        if (!changed.empty())
            sql += ", ";
        sql += QuoteIdentifier(origin) + " = ?";
        changed.push_back(i);
    }
    cur.m_editing = false;
    if (changed.empty()) {
        c.ClearError();
        return;
    }
    sql += " WHERE rowid = ?";
    StatementPtr st = c.CachedStatement(sql);
    if (!st)
        return;
    int index = 1;
    for (int i : changed)
        Bind(st->stmt, index++, *cur.m_pending[std::size_t(i)]);
    sqlite3_bind_int64(st->stmt, index, sqlite3_column_int64(select, cur.m_columns));
    const bool ok = c.RunToEnd(st->stmt);
    Release(st);
    c.NoteTransaction();
    if (!ok)
        return;
    if (sqlite3_changes(c.m_db) != 1) {
        c.SetError(
            SQLITE_NOTFOUND, "The record to update no longer exists in " + cur.m_st->table + ".");
        return;
    }
    c.ClearError();
}

void RecordSet::Close() { m_impl->Close(); }

// --- DatabaseField ----------------------------------------------------------------------------

DatabaseField::DatabaseField(RecordSet *owner, int column)
    : m_owner(owner)
    , m_column(column)
{
}

namespace {

const std::optional<DatabaseField::Variant> *Pending(const Cursor &cur, int column)
{
    if (cur.m_pending.empty() || !cur.m_pending[std::size_t(column)])
        return nullptr;
    return &cur.m_pending[std::size_t(column)];
}

} // namespace

DatabaseField::Variant DatabaseField::Value() const
{
    if (!m_owner)
        return nullptr;
    const Cursor &cur = *m_owner->m_impl;
    if (auto p = Pending(cur, m_column))
        return **p;
    if (!cur.OnRow())
        return nullptr;
    sqlite3_stmt *s = cur.m_st->stmt;
    switch (sqlite3_column_type(s, m_column)) {
    case SQLITE_INTEGER:
        return int64_t(sqlite3_column_int64(s, m_column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(s, m_column);
    case SQLITE_TEXT: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(s, m_column));
        return std::string(text, std::size_t(sqlite3_column_bytes(s, m_column)));
    }
    case SQLITE_BLOB: {
        const auto *data = static_cast<const uint8_t *>(sqlite3_column_blob(s, m_column));
        return std::vector<uint8_t>(data, data + sqlite3_column_bytes(s, m_column));
    }
    default:
        return nullptr;
    }
}

bool DatabaseField::IsNull() const
{
    if (!m_owner)
        return true;
    const Cursor &cur = *m_owner->m_impl;
    if (auto p = Pending(cur, m_column))
        return std::holds_alternative<std::nullptr_t>(**p);
    return !cur.OnRow() || sqlite3_column_type(cur.m_st->stmt, m_column) == SQLITE_NULL;
}

std::string DatabaseField::StringValue() const
{
    if (!m_owner)
        return {};
    const Cursor &cur = *m_owner->m_impl;
    if (auto p = Pending(cur, m_column))
        return VariantToString(**p);
    if (!cur.OnRow())
        return {};
    sqlite3_stmt *s = cur.m_st->stmt;
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(s, m_column));
    if (!text)
        return {};
    return std::string(text, std::size_t(sqlite3_column_bytes(s, m_column)));
}

int64_t DatabaseField::IntegerValue() const
{
    if (!m_owner)
        return 0;
    const Cursor &cur = *m_owner->m_impl;
    if (auto p = Pending(cur, m_column))
        return VariantToInteger(**p);
    if (!cur.OnRow())
        return 0;
    return sqlite3_column_int64(cur.m_st->stmt, m_column);
}

bool DatabaseField::BooleanValue() const
{
    if (!m_owner)
        return false;
    const Cursor &cur = *m_owner->m_impl;
    if (auto p = Pending(cur, m_column))
        return VariantToBoolean(**p);
    if (!cur.OnRow())
        return false;
    sqlite3_stmt *s = cur.m_st->stmt;
    switch (sqlite3_column_type(s, m_column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(s, m_column) != 0;
    case SQLITE_FLOAT:
        return sqlite3_column_double(s, m_column) != 0.0;
    case SQLITE_TEXT:
        return TextToBoolean(
            std::string_view(reinterpret_cast<const char *>(sqlite3_column_text(s, m_column)),
                std::size_t(sqlite3_column_bytes(s, m_column))));
    default:
        return false;
    }
}

std::string DatabaseField::Name() const
{
    if (!m_owner || !m_owner->m_impl->m_st)
        return {};
    const char *name = sqlite3_column_name(m_owner->m_impl->m_st->stmt, m_column);
    return name ? name : "";
}

namespace {

void SetPending(Cursor &cur, int column, DatabaseField::Variant v)
{
    if (!cur.m_conn)
        return;
    if (!cur.m_editing) {
        cur.m_conn->SetError(SQLITE_MISUSE, "A field was changed without Edit.");
        return;
    }
    cur.m_pending[std::size_t(column)] = std::move(v);
}

} // namespace

void DatabaseField::SetStringValue(const std::string &v)
{
    if (m_owner)
        SetPending(*m_owner->m_impl, m_column, v);
}

void DatabaseField::SetIntegerValue(int64_t v)
{
    if (m_owner)
        SetPending(*m_owner->m_impl, m_column, v);
}

void DatabaseField::SetBooleanValue(bool v)
{
    if (m_owner)
        SetPending(*m_owner->m_impl, m_column, int64_t(v ? 1 : 0));
}

} // namespace platform
