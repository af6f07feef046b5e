#pragma once

#include "platform/control.h"
#include "platform/exceptions.h"
#include "platform/ref.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class MenuBar;

/// A top-level window. Subclasses build themselves in the hooks Layout, CreateControls and
/// AddMenuHandlers, which MakeWindow calls in that order after construction.
///
/// Sizes and control coordinates are those of the content area: a menu bar sits above it,
/// inside the window, so a window with a menu bar is taller by the bar's height.
class Window : public std::enable_shared_from_this<Window>
{
public:
    Window();
    virtual ~Window();
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;

    std::string Title() const;
    void SetTitle(const std::string &title);

    /// Position of the window's frame on the screen.
    int Left() const;
    int Top() const;
    /// Moves the window so that Left (Top) reads `left` (`top`); a window placed this way before
    /// its first showing keeps the place instead of its placement's.
    void SetLeft(int left);
    void SetTop(int top);
    /// Size of the content area.
    int Width() const;
    int Height() const;
    /// Sizes the content area (kept within the minimum and maximum size).
    void SetSize(int width, int height);
    void SetMinimumSize(int width, int height);
    void SetMaximumSize(int width, int height);
    int MinWidth() const;
    int MinHeight() const;
    int MaxWidth() const;
    int MaxHeight() const;

    enum class Frame { Document = 0, Floating = 3 };
    void SetFrame(Frame frame);
    /// Which buttons the title bar offers, whatever the frame; a window has all three unless
    /// told otherwise. Set before the window is first shown.
    void SetTitleBarButtons(bool close, bool minimize, bool maximize);
    enum class Placement { Default = 0, MainScreen = 2, ParentScreen = 3 };
    void SetPlacement(Placement placement);

    bool Visible() const;
    void SetVisible(bool visible);
    /// Shows the window and brings it to the front.
    void Show();
    /// Closes the window: the Close event runs, the window disappears for good.
    void Close();
    bool IsClosed() const;

    /// Adds `control` under `name`, inside `parent` when given (a group box), else in the
    /// content area. The control's bounds and locks may be set before or after. A name used
    /// twice raises RuntimeException.
    void AddControl(const std::string &name, const Ref<platform::Control> &control,
        const Ref<platform::Control> &parent = nullptr);
    /// The control of that name, nil when there is none.
    Ref<platform::Control> FindControl(const std::string &name) const;
    /// The control of that name as a `T`; raises NilObjectException when there is none or it
    /// is of another kind. Usable from any cooperative thread.
    template<class T> Ref<T> Control(const std::string &name) const
    {
        Ref<T> c = FindControl(name).template As<T>();
        if (!c)
            throw NilObjectException(
                "no control \"" + name + "\" of the asked kind in window \"" + Title() + "\"");
        return c;
    }
    /// Every control, in the order of addition.
    std::vector<Ref<platform::Control>> Controls() const;

    /// Installs `bar` at the top of the window (nil removes it); the content keeps its size.
    void SetMenuBar(const Ref<platform::MenuBar> &bar);
    Ref<platform::MenuBar> InstalledMenuBar() const;
    /// Registers what choosing the menu item `itemName` does while this window is frontmost.
    /// The handler returns true when it has handled the command.
    void AddMenuHandler(const std::string &itemName, std::function<bool()> handler);
    bool HasMenuHandler(const std::string &itemName) const;
    /// Runs the handler registered for `itemName`; false when there is none or it declined.
    bool RunMenuHandler(const std::string &itemName);

    /// The window's Qt widget, for the framework's controls; nullptr once closed.
    void *NativeHandle() const;

protected:
    virtual void Layout() { }
    virtual void CreateControls() { }
    virtual void AddMenuHandlers() { }
    virtual void Event_Open() { }
    virtual void Event_Close() { }
    /// The content area was resized (after the controls followed their locks).
    virtual void Event_Resized() { }
    /// The content area is being resized; called for every step, before Event_Resized.
    virtual void Event_Resizing() { }

private:
    template<class W, class... Args> friend Ref<W> MakeWindow(Args &&...args);
    friend struct WindowAccess;
    void Construct();
    void ApplyWindowFlags();
    void MoveTo(int left, int top);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// Makes a window and builds it through its hooks; its Open event follows at once, or, while the
/// application is starting, after the application's Open event. The controls' Open events come
/// before the window's.
template<class W, class... Args> Ref<W> MakeWindow(Args &&...args)
{
    auto w = std::make_shared<W>(std::forward<Args>(args)...);
    w->Construct();
    return Ref<W>(w);
}

/// The open windows, frontmost first.
std::vector<Ref<Window>> OpenWindows();
/// The window in front (the active one, else the one most recently shown or activated); nil when
/// no window is visible.
Ref<Window> FrontmostWindow();
/// Makes `window` the application's main window: the one that the program's lower layers reach
/// through the framework, finding its controls by name, since they cannot know its class.
void SetMainWindow(const Ref<Window> &window);
/// The main window while it is open; nil before one is set and once it is closed or released.
Ref<Window> MainWindow();
/// The frontmost open window of class `W`, nil when there is none.
template<class W> Ref<W> OpenWindowOf()
{
    for (const auto &w : OpenWindows()) {
        if (auto found = w.template As<W>())
            return found;
    }
    return nullptr;
}
/// The accessor of a window class with one instance: the frontmost open window of class `W`, or
/// a new one (made, shown and opened as MakeWindow does) when there is none.
template<class W> Ref<W> OpenOrMakeWindow()
{
    if (auto open = OpenWindowOf<W>())
        return open;
    return MakeWindow<W>();
}
/// Closes every open window, frontmost first, each with its Close event.
void CloseAllWindows();

/// The area of one screen in the desktop's coordinates, in pixels.
struct ScreenArea
{
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};
/// The number of screens; the main screen is screen 0.
int ScreenCount();
/// The screen `index`, from 0 to ScreenCount() - 1; another index raises OutOfBoundsException.
ScreenArea Screen(int index);

} // namespace platform
