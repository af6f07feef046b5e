#include "platform/database_values_p.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include <strings.h>

namespace platform::dbdetail {

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

std::string_view ColumnText(sqlite3_stmt *stmt, int column)
{
    // The text first, then its length in bytes, as SQLite asks.
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    if (!text)
        return {};
    return std::string_view(text, std::size_t(sqlite3_column_bytes(stmt, column)));
}

} // namespace platform::dbdetail
