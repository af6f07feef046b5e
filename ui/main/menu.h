#pragma once

#include "platform/menu.h"
#include "platform/ref.h"

/// The application's menu bar: File and Edit. It holds no behaviour; windows register their
/// handlers by item name.
class Menu : public platform::MenuBar
{
public:
    /// Builds both menus: File, then Edit.
    Menu();

    void Untitled1();
    void Untitled2();
};

/// The one menu bar, built on the first call.
platform::Ref<Menu> Menu_();

/// Drops the menu bar at the end of the run (while Qt still exists).
void ReleaseMenu();
