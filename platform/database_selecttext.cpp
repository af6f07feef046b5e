#include "platform/database_selecttext_p.h"

#include <string_view>

#include <strings.h>

namespace platform::dbdetail {

namespace {

// ASCII classes, as SQLite's own tokenizer has them; the C library's would ask the locale.
bool IsIdentChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '_'
        || c == '$' || u >= 0x80;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool IsOperatorChar(char c) { return c == '=' || c == '<' || c == '>' || c == '!'; }

/// Compares a word with a keyword, ignoring the case of ASCII letters. Every select of the
/// program goes through here many times over (a scan reads one per file): the lengths first.
bool Is(std::string_view word, std::string_view keyword)
{
    return word.size() == keyword.size()
        && strncasecmp(word.data(), keyword.data(), word.size()) == 0;
}

enum class Kind {
    Literal, // a single-quoted text
    Quoted, // a quoted name: "x", `x`, [x]
    Open,
    Close,
    Parameter, // ?, :name, @name, $name
    Word, // a name, keyword or number
    Operator, // a run of = < > !
    Other, // any other single character
    End, // the end of the text, or a ";" (what follows is not part of the select)
    Bad, // an unterminated literal, name or comment
};

struct Token
{
    Kind kind;
    std::size_t start;
    std::size_t end;
    std::string value; // a literal's text, its quotes undoubled
};

/// The tokens of a statement, comments and blanks left out.
class Tokens
{
public:
    explicit Tokens(const std::string &sql)
        : m_sql(sql)
    {
    }
    Token Next();

private:
    const std::string &m_sql;
    std::size_t m_i = 0;
};

Token Tokens::Next()
{
    const std::string &sql = m_sql;
    const std::size_t n = sql.size();
    std::size_t &i = m_i;
    for (;;) {
        if (i >= n)
            return { Kind::End, n, n, {} };
        if (IsBlank(sql[i])) {
            ++i;
        } else if (sql.compare(i, 2, "--") == 0) {
            while (i < n && sql[i] != '\n')
                ++i;
        } else if (sql.compare(i, 2, "/*") == 0) {
            const std::size_t end = sql.find("*/", i + 2);
            if (end == std::string::npos)
                return { Kind::Bad, i, n, {} };
            i = end + 2;
        } else {
            break;
        }
    }
    const std::size_t start = i;
    const char c = sql[i++];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
        const char close = c == '[' ? ']' : c;
        Token t { c == '\'' ? Kind::Literal : Kind::Quoted, start, 0, {} };
        for (;;) {
            const std::size_t at = sql.find(close, i);
            if (at == std::string::npos)
                return { Kind::Bad, start, n, {} };
            t.value.append(sql, i, at - i);
            i = at;
            if (close != ']' && i + 1 < n && sql[i + 1] == close) {
                t.value += close;
                i += 2;
                continue;
            }
            break;
        }
        t.end = ++i;
        return t;
    }
    Kind kind = Kind::Other;
    if (c == '(') {
        kind = Kind::Open;
    } else if (c == ')') {
        kind = Kind::Close;
    } else if (c == ';') {
        kind = Kind::End;
    } else if (c == '?' || c == ':' || c == '@' || c == '$') {
        kind = Kind::Parameter;
    } else if (IsIdentChar(c)) {
        kind = Kind::Word;
        while (i < n && IsIdentChar(sql[i]))
            ++i;
    } else if (IsOperatorChar(c)) {
        kind = Kind::Operator;
        while (i < n && IsOperatorChar(sql[i]))
            ++i;
    }
    return { kind, start, i, {} };
}

/// Whether a literal after `previous` is compared: such literals become parameters.
bool Compares(std::string_view previous)
{
    for (std::string_view op :
        { "=", "==", "<>", "!=", "<", ">", "<=", ">=", "LIKE", "GLOB", "ESCAPE" }) {
        if (Is(previous, op))
            return true;
    }
    return false;
}

/// SQLite's aggregate functions; `minMax`: min and max, which aggregate only with one argument.
bool IsAggregateName(std::string_view word, bool &minMax)
{
    minMax = Is(word, "min") || Is(word, "max");
    if (minMax)
        return true;
    for (std::string_view name : { "count", "sum", "total", "avg", "group_concat", "string_agg",
             "json_group_array", "json_group_object", "jsonb_group_array", "jsonb_group_object",
             "median", "percentile", "percentile_cont", "percentile_disc" }) {
        if (Is(word, name))
            return true;
    }
    return false;
}

/// Follows the calls of aggregate functions in one select, not in its subqueries: a call such as
/// count(*), sum(x) or min(x) makes one row of many (min and max with two arguments are scalar
/// functions), unless OVER follows it (after any FILTER clause): a window function leaves every
/// row as it is.
class AggregateCalls
{
public:
    /// Takes the select's next token; `depth`: the parentheses open after it. True when the
    /// token shows that a call aggregates.
    bool Take(Kind kind, std::string_view text, int depth);
    /// At the end of the select: true when its last call aggregates.
    bool End() const { return m_after == After::Call; }

private:
    struct Call
    {
        int depth; // the parentheses open inside the call
        int commas;
        bool minMax;
    };
    std::vector<Call> m_open;
    bool m_named = false; // the last token names an aggregate function
    bool m_namedMinMax = false;
    enum class After { Nothing, Call, Filter } m_after = After::Nothing;
    int m_filterDepth = 0;
};

bool AggregateCalls::Take(Kind kind, std::string_view text, int depth)
{
    bool aggregates = false;
    if (m_after == After::Filter) {
        if (kind == Kind::Close && depth == m_filterDepth)
            m_after = After::Call;
        return false;
    }
    if (m_after == After::Call) {
        m_after = After::Nothing;
        if (kind == Kind::Word && Is(text, "FILTER")) {
            m_after = After::Filter;
            m_filterDepth = depth;
            return false;
        }
        aggregates = !(kind == Kind::Word && Is(text, "OVER"));
    }
    const bool named = m_named;
    m_named = false;
    if (kind == Kind::Word) {
        m_named = IsAggregateName(text, m_namedMinMax);
    } else if (kind == Kind::Open) {
        if (named)
            m_open.push_back({ depth, 0, m_namedMinMax });
    } else if (kind == Kind::Other && text == ",") {
        if (!m_open.empty() && m_open.back().depth == depth)
            ++m_open.back().commas;
    } else if (kind == Kind::Close && !m_open.empty() && m_open.back().depth == depth + 1) {
        const Call call = m_open.back();
        m_open.pop_back();
        if (!call.minMax || call.commas == 0)
            m_after = After::Call;
    }
    return aggregates;
}

} // namespace

SelectText ParseSelect(const std::string &sql)
{
    SelectText out;
    Tokens tokens(sql);
    std::size_t copied = 0; // sql[copied, token start) is still to be appended to the key
    int depth = 0; // parentheses open
    std::vector<bool> opensSubquery; // for each open parenthesis
    int subqueries = 0; // open parentheses that hold a select
    int word = 0; // number of tokens seen at depth 0
    bool onePerRow = true; // each row of the result is one row of the table
    bool afterFrom = false;
    bool afterWhere = false;
    std::size_t fromAt = std::string::npos;
    AggregateCalls calls;
    Kind previousKind = Kind::End;
    std::string_view previous; // the last token, for telling a compared literal
    for (;;) {
        Token t = tokens.Next();
        if (t.kind == Kind::Bad || t.kind == Kind::Parameter)
            return {}; // not read as SQLite would, or parameters of the caller's own
        if (t.kind == Kind::End)
            break;
        const std::string_view text(sql.data() + t.start, t.end - t.start);
        switch (t.kind) {
        case Kind::Literal:
            if (afterWhere && Compares(previous)) {
                out.key.append(sql, copied, t.start - copied);
                out.key += '?';
                copied = t.end;
                out.values.push_back(std::move(t.value));
            }
            break;
        case Kind::Open:
            ++depth;
            opensSubquery.push_back(false);
            break;
        case Kind::Close:
            if (depth == 0)
                return {};
            --depth;
            subqueries -= opensSubquery.back() ? 1 : 0;
            opensSubquery.pop_back();
            break;
        case Kind::Word:
            if (previousKind == Kind::Open
                && (Is(text, "SELECT") || Is(text, "VALUES") || Is(text, "WITH"))) {
                opensSubquery.back() = true;
                ++subqueries;
            }
            if (depth == 0) {
                if (word == 0 && !Is(text, "SELECT"))
                    return {};
                if (word == 1 && Is(text, "DISTINCT"))
                    onePerRow = false;
                if (word > 1 && !afterFrom && Is(text, "FROM")) {
                    afterFrom = true;
                    fromAt = t.start;
                }
                if (afterFrom && Is(text, "WHERE"))
                    afterWhere = true;
                if (Is(text, "GROUP") || Is(text, "HAVING") || Is(text, "UNION")
                    || Is(text, "INTERSECT") || Is(text, "EXCEPT"))
                    onePerRow = false;
            }
            break;
        default:
            break;
        }
        if (subqueries == 0 && calls.Take(t.kind, text, depth))
            onePerRow = false;
        if (depth == 0)
            ++word;
        previousKind = t.kind;
        previous = text;
    }
    if (!afterFrom)
        return {};
    if (calls.End())
        onePerRow = false;
    out.key.append(sql, copied, std::string::npos);
    if (onePerRow)
        out.rowidAt = fromAt;
    return out;
}

} // namespace platform::dbdetail
