#pragma once

#include "platform/ref.h"
#include "platform/window.h"

#include <string>

/// A control of the main window, found by its name through the framework at its first use and
/// kept from then on: the scan is below the main window's layer and knows it only as the
/// registered main window. Finding it raises NilObjectException when there is no main window or
/// no control of that name and kind; a kept control raises the same once its window has gone,
/// as a fresh look-up would, so keeping it changes nothing but the cost of a write.
template<class T> class MainControl
{
public:
    explicit MainControl(std::string name)
        : m_name(std::move(name))
    {
    }

    T *operator->()
    {
        if (!m_control)
            m_control = platform::MainWindow()->template Control<T>(m_name);
        return m_control.Raw();
    }

private:
    std::string m_name;
    platform::Ref<T> m_control;
};
