#pragma once

// The state of one record set, which its connection detaches when it closes.

#include "platform/database.h"
#include "platform/database_statementcache_p.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::dbdetail {

class Connection;

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

} // namespace platform::dbdetail

namespace platform {

struct RecordSet::Impl : dbdetail::Cursor
{
};

} // namespace platform
