#pragma once

// The Qt side of the framework's menus.

#include "platform/menu.h"

class QAction;
class QMenuBar;
class QWidget;

namespace platform {

struct MenuAccess
{
    static void MarkAsBar(MenuItem &item);
    /// Shows the menus of `bar` in `qbar`, now and as more are appended.
    static void Install(MenuBar &bar, QMenuBar *qbar);
    static void ConnectMenu(MenuItem &item);
};

namespace detail {

enum class EditCommand { Undo, Cut, Copy, Paste, Clear };
/// The editing command a standard item name stands for; false for other names.
bool EditCommandFor(const std::string &itemName, EditCommand &command);
/// True when `focus` is a text field that can carry out `command` now.
bool CanEdit(QWidget *focus, EditCommand command);
/// Carries out `command` in the text field `focus` if it can; false when `focus` is none.
bool DoEdit(QWidget *focus, EditCommand command);

} // namespace detail

} // namespace platform
