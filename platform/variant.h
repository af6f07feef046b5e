#pragma once

#include "platform/exceptions.h"

#include <any>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace platform {

/// A value of any type, as list tags hold them. Booleans, integers, floating-point numbers and
/// texts are kept as such; anything else is kept as it is given. A value is read back with its
/// own kind: any integer type reads an integer, `double` or `float` a number, `std::string` a
/// text, other types exactly the type stored. Reading another kind raises TypeMismatchException;
/// a nil value reads as the type's default (0, false, "", a nil reference).
class Variant
{
public:
    enum class Kind { Nil, Boolean, Integer, Double, Text, Object };

    Variant() = default;

    template<class T, class = std::enable_if_t<!std::is_same_v<std::decay_t<T>, Variant>>>
    Variant(T &&value)
    {
        using D = std::decay_t<T>;
        if constexpr (std::is_same_v<D, bool>)
            m_v = static_cast<bool>(value);
        else if constexpr (std::is_integral_v<D> || std::is_enum_v<D>)
            m_v = static_cast<int64_t>(value);
        else if constexpr (std::is_floating_point_v<D>)
            m_v = static_cast<double>(value);
        else if constexpr (std::is_same_v<D, std::nullptr_t>)
            m_v = std::monostate();
        else if constexpr (std::is_convertible_v<T, std::string_view>)
            m_v = std::string(std::string_view(value));
        else
            m_v = std::any(std::forward<T>(value));
    }

    Kind GetKind() const { return static_cast<Kind>(m_v.index()); }
    bool IsNil() const { return m_v.index() == 0; }
    /// The stored object of a value of kind Object, nullptr otherwise.
    const std::any *ObjectValue() const { return std::get_if<std::any>(&m_v); }

    template<class T> T As() const
    {
        if (IsNil()) {
            if constexpr (std::is_default_constructible_v<T>)
                return T {};
            else
                throw TypeMismatchException("a nil value has no value of the asked type");
        }
        if constexpr (std::is_same_v<T, bool>) {
            if (auto *b = std::get_if<bool>(&m_v))
                return *b;
        } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
            if (auto *i = std::get_if<int64_t>(&m_v))
                return static_cast<T>(*i);
        } else if constexpr (std::is_floating_point_v<T>) {
            if (auto *d = std::get_if<double>(&m_v))
                return static_cast<T>(*d);
        } else if constexpr (std::is_same_v<T, std::string>) {
            if (auto *s = std::get_if<std::string>(&m_v))
                return *s;
        } else {
            if (auto *a = std::get_if<std::any>(&m_v)) {
                if (auto *p = std::any_cast<T>(a))
                    return *p;
            }
        }
        throw TypeMismatchException("the value is not of the asked type");
    }

private:
    // The order of the alternatives follows Kind.
    std::variant<std::monostate, bool, int64_t, double, std::string, std::any> m_v;
};

} // namespace platform
