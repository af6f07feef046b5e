#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class Window;

namespace detail {
struct ControlCore;
}

/// A control of a window. Its bounds are given in the coordinates of the window's content area
/// (below the menu bar), also for a control inside another control such as a group box. A locked
/// edge keeps its distance to the same edge of the container (the content area, or the parent
/// control) whenever the container is resized; a control locked on two opposite edges stretches,
/// one locked only right or bottom moves, and one with neither keeps its position.
///
/// Controls are made with std::make_shared (or New) and added to a window with
/// Window::AddControl. Their properties may be set from any cooperative thread. A control does
/// not outlive its window: once the window has closed (after its Close event) or is destroyed,
/// every operation below raises NilObjectException, and the control's events no longer fire.
class Control : public std::enable_shared_from_this<Control>
{
public:
    virtual ~Control();
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    /// The name the control was added under; empty before it is added.
    const std::string &Name() const;
    /// The window that holds the control; nullptr before it is added.
    platform::Window *ParentWindow() const;
    /// The control that holds this one (a group box); nullptr for a control of the content area.
    Control *Parent() const;

    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetLeft(int left);
    void SetTop(int top);
    void SetWidth(int width);
    void SetHeight(int height);
    void SetBounds(int left, int top, int width, int height);

    bool LockLeft() const;
    bool LockTop() const;
    bool LockRight() const;
    bool LockBottom() const;
    void SetLocks(bool left, bool top, bool right, bool bottom);

    bool Enabled() const;
    void SetEnabled(bool enabled);
    /// The control's own visibility (true while the window is hidden, when the control is not).
    bool Visible() const;
    void SetVisible(bool visible);
    /// The tip shown while the mouse rests on the control.
    const std::string &HelpTag() const;
    void SetHelpTag(const std::string &tag);
    /// The position in the window's tab order, among the controls of the same container; a
    /// container's children follow it.
    int TabIndex() const;
    void SetTabIndex(int index);

    /// "System" (the default), "SmallSystem", or a font family.
    const std::string &TextFont() const;
    void SetTextFont(const std::string &family);
    /// In pixels; 0 is the default size of the chosen font.
    double TextSize() const;
    void SetTextSize(double size);

    /// Repaints the control at the next turn of the event loop.
    void Refresh();
    void SetFocus();

    /// The control's Open event: delivered when the window opens, before the window's own.
    std::function<void()> Open;

    /// The control's Qt widget, for the framework and for tests; nullptr once the window is gone.
    void *NativeHandle() const;

protected:
    Control();

private:
    friend struct detail::ControlCore;
    std::unique_ptr<detail::ControlCore> m_core;
};

} // namespace platform
