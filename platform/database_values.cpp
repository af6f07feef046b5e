#include "platform/database_values_p.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

#include <strings.h>

namespace platform::dbdetail {

namespace {

/// The blanks SQLite skips around a number (whatever the locale says).
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

/// The length of the decimal number `s` begins with: a sign, digits with an optional point (at
/// least one digit), then an exponent when digits follow its "e". 0 when there is none.
std::size_t NumberLength(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i)
        ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        for (; i < s.size() && IsDigit(s[i]); ++i)
            ++digits;
    }
    if (digits == 0)
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        if (j < s.size() && IsDigit(s[j])) {
            while (j < s.size() && IsDigit(s[j]))
                ++j;
            i = j;
        }
    }
    return i;
}

/// The "C" locale, so that a point is the decimal point whatever the user's locale is.
locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c;
}

} // namespace

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

int64_t TextToInteger(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    const bool negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        ++i;
    uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        const unsigned digit = unsigned(s[i] - '0');
        if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    constexpr uint64_t kMax = uint64_t(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (overflow || magnitude > kMax)
            return std::numeric_limits<int64_t>::min();
        return -int64_t(magnitude);
    }
    return overflow || magnitude > kMax ? int64_t(kMax) : int64_t(magnitude);
}

int64_t RealToInteger(double d)
{
    // 2^63 is exact as a double; every double below it and above -2^63 fits when cut.
    constexpr double kLimit = 9223372036854775808.0;
    if (std::isnan(d))
        return 0;
    if (d >= kLimit)
        return std::numeric_limits<int64_t>::max();
    if (d <= -kLimit)
        return std::numeric_limits<int64_t>::min();
    return int64_t(d);
}

double TextToReal(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    const std::size_t length = NumberLength(s);
    if (length == 0)
        return 0.0;
    // strtod alone would also take "inf", "nan" and hexadecimal, and read the user's locale.
    const std::string number(s.substr(0, length));
    return strtod_l(number.c_str(), nullptr, CLocale());
}

bool TextToBoolean(std::string_view s)
{
    s = Trimmed(s);
    if (s.size() == 4 && strncasecmp(s.data(), "true", 4) == 0)
        return true;
    if (s.size() == 5 && strncasecmp(s.data(), "false", 5) == 0)
        return false;
    return TextToReal(s) != 0.0;
}

std::string DoubleToText(double d)
{
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
        int64_t operator()(double d) const { return RealToInteger(d); }
        int64_t operator()(const std::string &s) const { return TextToInteger(s); }
        int64_t operator()(const std::vector<uint8_t> &b) const
        {
            return TextToInteger(
                std::string_view(reinterpret_cast<const char *>(b.data()), b.size()));
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
        bool operator()(double d) const { return d != 0.0 && !std::isnan(d); }
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
