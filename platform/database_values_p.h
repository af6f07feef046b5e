#pragma once

// How the connection turns values into one another and hands them to SQLite.

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

int64_t TextToInteger(const std::string &s);
bool TextToBoolean(std::string_view s);
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
