#pragma once

// The Qt side of a framework control, shared by the controls and the window.

#include "platform/control.h"

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <source_location>
#include <string>
#include <vector>

namespace platform::detail {

struct ControlCore
{
    explicit ControlCore(Control *owner)
        : owner(owner)
    {
    }

    static ControlCore &Of(const Control &c) { return *c.m_core; }
    /// The core of `c` for one of its operations; raises NilObjectException, naming the
    /// operation, once the control's window is gone.
    static ControlCore &Live(
        const Control &c, std::source_location where = std::source_location::current())
    {
        if (c.m_core->gone) [[unlikely]]
            ThrowGone(*c.m_core, where);
        return *c.m_core;
    }
    [[noreturn]] static void ThrowGone(const ControlCore &core, std::source_location where);

    /// The window has closed (after its Close event) or been destroyed: the control lets go of
    /// it, and every operation on the control raises from now on.
    void WindowGone();

    /// Gives the control its widget; the control owns it until the window's widget takes it.
    void Attach(QWidget *w);
    /// Puts the control into `window` (inside `parentControl` when given) under `name`.
    void Add(Window *window, const std::string &name, Control *parentControl);

    QWidget *Widget() const { return widget.data(); }
    /// The widget that holds the control's children (the control's own widget).
    QWidget *ChildArea() const { return widget.data(); }
    /// Size of what the control's locks refer to: the content area or the parent control.
    QSize ContainerSize() const;
    /// Offset of the container's origin in content coordinates.
    QPoint ContainerOrigin() const;
    /// Recomputes the edge distances from the current bounds and the container's size.
    void Anchor();
    /// Applies the locks for a container of the given size, then the children's.
    void Place(QSize container);
    void ApplyGeometry();
    void ApplyFont();

    Control *owner;
    QPointer<QWidget> widget;
    std::string name;
    Window *window = nullptr; // cleared when the window goes
    bool gone = false; // the window has gone; the control is a dead reference
    Control *parent = nullptr;
    std::vector<Control *> children; // in order of addition

    QRect local { 0, 0, 80, 20 }; // inside the container
    bool lockLeft = false;
    bool lockTop = false;
    bool lockRight = false;
    bool lockBottom = false;
    int distLeft = 0;
    int distTop = 0;
    int distRight = 0;
    int distBottom = 0;

    bool enabled = true;
    bool visible = true;
    std::string helpTag;
    int tabIndex = 0;
    std::string textFont = "System";
    double textSize = 0;
};

/// The application font, or its smaller variant for "SmallSystem", or `family`, at `size` pixels
/// (0: the family's default size).
QFont FontFor(const std::string &family, double size);

} // namespace platform::detail
