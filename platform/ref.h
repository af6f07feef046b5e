#pragma once

#include "platform/exceptions.h"

#include <memory>
#include <utility>

namespace platform {

/// A framework reference: shared ownership like the framework's reference counting, with every
/// dereference checked. Dereferencing nil raises NilObjectException instead of crashing.
template<class T> class Ref
{
public:
    Ref() = default;
    Ref(std::nullptr_t) { }
    Ref(std::shared_ptr<T> p)
        : m_p(std::move(p))
    {
    }
    template<class U, class = std::enable_if_t<std::is_convertible_v<U *, T *>>>
    Ref(const Ref<U> &other)
        : m_p(other.Shared())
    {
    }

    T *operator->() const { return &Get(); }
    T &operator*() const { return Get(); }
    T &Get() const
    {
        if (!m_p)
            throw NilObjectException();
        return *m_p;
    }

    bool IsNil() const { return !m_p; }
    explicit operator bool() const { return bool(m_p); }
    const std::shared_ptr<T> &Shared() const { return m_p; }
    T *Raw() const { return m_p.get(); }

    /// The same object seen as `U`, or nil when it is not one.
    template<class U> Ref<U> As() const { return Ref<U>(std::dynamic_pointer_cast<U>(m_p)); }

    friend bool operator==(const Ref &a, const Ref &b) { return a.m_p == b.m_p; }
    friend bool operator==(const Ref &a, std::nullptr_t) { return !a.m_p; }

private:
    std::shared_ptr<T> m_p;
};

template<class T, class... Args> Ref<T> New(Args &&...args)
{
    return Ref<T>(std::make_shared<T>(std::forward<Args>(args)...));
}

} // namespace platform
