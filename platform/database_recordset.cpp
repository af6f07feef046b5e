#include "platform/database.h"

#include <cctype>
#include <optional>
#include <string_view>

#include "platform/database_connection_p.h"
#include "platform/database_recordset_p.h"
#include "platform/database_values_p.h"

#include <sqlite3.h>
#include <strings.h>

namespace platform {

using namespace dbdetail;

void dbdetail::Cursor::Detach()
{
    Release(m_st);
    m_conn = nullptr;
    m_eof = true;
    m_editing = false;
    m_pending.clear();
}

void dbdetail::Cursor::Close()
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
    if (!c.BeginCall(/*read=*/true))
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
    for (std::size_t i = 0; i < cur.m_values.size(); ++i) {
        if (!c.Bound(sqlite3_bind_text64(st->stmt, int(i + 1), cur.m_values[i].data(),
                cur.m_values[i].size(), SQLITE_STATIC, SQLITE_UTF8))) {
            Release(st);
            return -1;
        }
    }
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
            "The record set cannot be edited: its rows are not each a row of one table.");
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
    for (int i : changed) {
        if (!c.Bound(Bind(st->stmt, index++, *cur.m_pending[std::size_t(i)]))) {
            Release(st);
            return;
        }
    }
    if (!c.Bound(
            sqlite3_bind_int64(st->stmt, index, sqlite3_column_int64(select, cur.m_columns)))) {
        Release(st);
        return;
    }
    if (!c.Finish(st))
        return;
    if (sqlite3_changes(c.m_db) != 1)
        c.SetError(
            SQLITE_NOTFOUND, "The record to update no longer exists in " + cur.m_st->table + ".");
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
    case SQLITE_TEXT:
        return std::string(ColumnText(s, m_column));
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
    return std::string(ColumnText(cur.m_st->stmt, m_column));
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
        return TextToBoolean(ColumnText(s, m_column));
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
