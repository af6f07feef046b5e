#pragma once

#include "platform/ref.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

/// An entry of a menu bar: a menu (an item with children) or a command. Choosing a command runs
/// the handler that the frontmost window registered under the item's Name
/// (Window::AddMenuHandler); where there is none, or it declines, the standard editing items
/// (EditUndo, EditCut, EditCopy, EditPaste, EditClear) do the platform's text
/// editing in the focused text field, and the quit item quits.
///
/// Enabling: when a menu opens, each of its items is disabled, then enabled when it has
/// AutoEnable, when the frontmost window registered a handler for it, or when it is a standard
/// editing item that the focused text field can carry out now.
class MenuItem : public std::enable_shared_from_this<MenuItem>
{
public:
    MenuItem();
    explicit MenuItem(const std::string &text);
    virtual ~MenuItem();
    MenuItem(const MenuItem &) = delete;
    MenuItem &operator=(const MenuItem &) = delete;

    const std::string &Name() const;
    void SetName(const std::string &name);
    /// What the user sees; "-" makes a separator.
    const std::string &Text() const;
    void SetText(const std::string &text);
    /// "Cmd+O", "Shift+Cmd+S", or a single key ("O", meaning Cmd+O); Cmd is the Ctrl key.
    /// Empty for none.
    const std::string &KeyboardShortcut() const;
    void SetKeyboardShortcut(const std::string &shortcut);
    bool AutoEnable() const;
    void SetAutoEnable(bool on);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    bool IsSeparator() const;

    /// Adds `item` at the end of this menu (of the bar, for a menu bar).
    void Append(const Ref<MenuItem> &item);
    int Count() const;
    /// The child at `index` (0-based); OutOfBoundsException outside.
    Ref<MenuItem> Item(int index) const;
    /// The direct child called `name`, nil when there is none.
    Ref<MenuItem> Child(const std::string &name) const;
    MenuItem *Parent() const;

    /// Whether the enabling rule enables the item now.
    bool EnabledByRule() const;
    /// Applies the enabling rule to the items of this menu, as when it opens.
    void EnableMenuItems();
    /// Does what choosing the item does, if the enabling rule allows it now.
    void Choose();

    /// The item's QAction, for the framework and for tests.
    void *NativeHandle() const;

protected:
    /// What the item does when no window handled it.
    virtual void DefaultAction();

private:
    friend struct MenuAccess;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// The item that quits the application: its default action closes every window (each with its
/// Close event) and then quits with exit code 0.
class QuitMenuItem : public MenuItem
{
public:
    using MenuItem::MenuItem;

protected:
    void DefaultAction() override;
};

/// A window's menu bar: its children are the menus.
class MenuBar : public MenuItem
{
public:
    MenuBar();
};

/// The shortcut text in Qt's portable form ("Cmd+X" gives "Ctrl+X", "O" gives "Ctrl+O").
std::string NativeShortcutText(const std::string &shortcut);

} // namespace platform
