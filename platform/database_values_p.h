#pragma once

// How the connection turns values into one another and hands them to SQLite. Every conversion
// reads a value as SQLite itself reads it, so a changed field reads the same before and after it
// is written.

#include "platform/database.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include <sqlite3.h>

namespace platform::dbdetail {

/// A name written into a statement, in double quotes.
std::string QuoteIdentifier(const std::string &name);

/// The leading integer of a text (after blanks and a sign), saturated at the ends of the range;
/// 0 when there is none. What sqlite3_column_int64 gives for a text.
int64_t TextToInteger(std::string_view s);
/// A real cut towards zero and saturated; NaN gives 0. What sqlite3_column_int64 gives for a real.
int64_t RealToInteger(double d);
/// The number a text begins with, read as SQLite reads a text as a real (decimal digits with an
/// optional point and exponent, never "inf", "nan" or hexadecimal; in no locale); 0 when there
/// is none.
double TextToReal(std::string_view s);
/// "true" and "false" (any case, blanks around) are themselves; otherwise true when the number
/// the text begins with is not zero.
bool TextToBoolean(std::string_view s);
/// As SQLite writes a real as text.
std::string DoubleToText(double d);

std::string VariantToString(const DatabaseField::Variant &v);
int64_t VariantToInteger(const DatabaseField::Variant &v);
bool VariantToBoolean(const DatabaseField::Variant &v);

/// The text of a result column, empty for NULL (and when SQLite cannot make it).
std::string_view ColumnText(sqlite3_stmt *stmt, int column);

/// Binds a value of a field or of a record entry; text and blobs are bound without a copy, so
/// the value must outlive the step. SQLite's result code.
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

} // namespace platform::dbdetail
