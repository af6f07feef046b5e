#include "platform/database_statementcache_p.h"

namespace platform::dbdetail {

StatementPtr StatementCache::Take(const std::string &sql)
{
    auto it = m_index.find(sql);
    if (it == m_index.end() || it->second->second->inUse)
        return nullptr;
    m_lru.splice(m_lru.begin(), m_lru, it->second);
    it->second->second->inUse = true;
    return it->second->second;
}

void StatementCache::Put(const std::string &sql, const StatementPtr &st)
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

void StatementCache::Clear()
{
    for (auto &entry : m_lru)
        entry.second->cached = false;
    m_index.clear();
    m_lru.clear();
}

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

} // namespace platform::dbdetail
