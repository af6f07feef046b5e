#include "ui/main/menu.h"

#include <vector>

using namespace platform;

namespace {

Ref<Menu> g_menu;

struct ItemDesign
{
    const char *name;
    bool quit;
    const char *text;
    const char *shortcut; // nullptr: the shortcut is not set at all (the separator)
    bool autoEnable;
};

/// One menu: its title item is appended to the bar, then each item to the menu found by name.
void BuildMenu(
    Menu &bar, const char *titleName, const char *title, const std::vector<ItemDesign> &items)
{
    auto head = New<MenuItem>();
    head->SetName(titleName);
    head->SetAutoEnable(false);
    head->SetText(title);
    head->SetKeyboardShortcut("");
    bar.Append(head);
    for (const ItemDesign &d : items) {
        Ref<MenuItem> item = d.quit ? Ref<MenuItem>(New<QuitMenuItem>()) : New<MenuItem>();
        item->SetName(d.name);
        item->SetAutoEnable(d.autoEnable);
        item->SetText(d.text);
        if (d.shortcut)
            item->SetKeyboardShortcut(d.shortcut);
        bar.Child(titleName)->Append(item);
    }
}

} // namespace

Menu::Menu()
{
    Untitled1();
    Untitled2();
}

void Menu::Untitled1()
{
    BuildMenu(*this, "UntitledMenu2", "File",
        {
            { "FileOpenFolder", false, "Open Folder", "Cmd+O", true },
            { "FileQuit", true, "Quit", "Cmd+Q", true },
        });
}

void Menu::Untitled2()
{
    BuildMenu(*this, "UntitledMenu0", "Edit",
        {
            { "EditUndo", false, "Undo", "Cmd+Z", false },
            { "UntitledMenu1", false, "-", nullptr, false },
            { "EditCut", false, "Cut", "Cmd+X", false },
            { "EditCopy", false, "Copy", "Cmd+C", false },
            { "EditPaste", false, "Paste", "Cmd+V", false },
            { "EditClear", false, "Clear", "", false },
        });
}

Ref<Menu> Menu_()
{
    if (!g_menu)
        g_menu = New<Menu>();
    return g_menu;
}

void ReleaseMenu() { g_menu = nullptr; }
