#include "platform/database_selecttext_p.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include <strings.h>

namespace platform::dbdetail {

namespace {

bool IsIdentChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'
        || static_cast<unsigned char>(c) >= 0x80;
}

bool IsOperatorChar(char c) { return c == '=' || c == '<' || c == '>' || c == '!'; }

/// Compares a word with a keyword, ignoring the case of ASCII letters.
bool Is(std::string_view word, const char *keyword)
{
    return word.size() == std::strlen(keyword)
        && strncasecmp(word.data(), keyword, word.size()) == 0;
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
        if (std::isspace(static_cast<unsigned char>(sql[i]))) {
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
            if (i >= n)
                return { Kind::Bad, start, n, {} };
            if (sql[i] == close) {
                if (close != ']' && i + 1 < n && sql[i + 1] == close) {
                    t.value += close;
                    i += 2;
                    continue;
                }
                break;
            }
            t.value += sql[i++];
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
    for (const char *op :
        { "=", "==", "<>", "!=", "<", ">", "<=", ">=", "LIKE", "GLOB", "ESCAPE" }) {
        if (Is(previous, op))
            return true;
    }
    return false;
}

} // namespace

SelectText ParseSelect(const std::string &sql)
{
    SelectText out;
    Tokens tokens(sql);
    std::size_t copied = 0; // sql[copied, token start) is still to be appended to the key
    int depth = 0; // parentheses open
    int word = 0; // number of tokens seen at depth 0
    bool distinct = false;
    bool afterFrom = false;
    bool afterWhere = false;
    std::size_t fromAt = std::string::npos;
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
            break;
        case Kind::Close:
            if (depth == 0)
                return {};
            --depth;
            break;
        case Kind::Word:
            if (depth == 0) {
                if (word == 0 && !Is(text, "SELECT"))
                    return {};
                if (word == 1 && Is(text, "DISTINCT"))
                    distinct = true;
                if (word > 1 && !afterFrom && Is(text, "FROM")) {
                    afterFrom = true;
                    fromAt = t.start;
                }
                if (afterFrom && Is(text, "WHERE"))
                    afterWhere = true;
            }
            break;
        default:
            break;
        }
        if (depth == 0)
            ++word;
        previous = text;
    }
    if (!afterFrom)
        return {};
    out.key.append(sql, copied, std::string::npos);
    if (!distinct)
        out.rowidAt = fromAt;
    return out;
}

} // namespace platform::dbdetail
