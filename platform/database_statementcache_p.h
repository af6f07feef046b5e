#pragma once

// Prepared statements of the catalogue connection and the cache that keeps them by SQL text.

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include <sqlite3.h>

namespace platform::dbdetail {

inline constexpr std::size_t kStatementCacheSize = 64;

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
    StatementCache() = default;
    ~StatementCache() { Clear(); }
    StatementCache(const StatementCache &) = delete;
    StatementCache &operator=(const StatementCache &) = delete;

    /// The idle cached statement for `sql`, marked in use, or nil.
    StatementPtr Take(const std::string &sql);
    bool Contains(const std::string &sql) const { return m_index.count(sql) != 0; }
    /// Keeps `st` (already in use by the caller) under `sql`.
    void Put(const std::string &sql, const StatementPtr &st);
    void Clear();

private:
    using Entry = std::pair<std::string, StatementPtr>;
    std::list<Entry> m_lru;
    std::unordered_map<std::string, std::list<Entry>::iterator> m_index;
};

/// Gives a statement back to its cache (reset, ready for the next caller) or drops it.
void Release(StatementPtr &st);

} // namespace platform::dbdetail
