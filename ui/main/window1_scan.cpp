#include "ui/main/window1.h"

#include "core/app.h"
#include "platform/date.h"
#include "platform/debuglog.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/thread.h"
#include "scan/loadthread.h"

using namespace platform;

namespace {

void SetCursor(Application::MouseCursor cursor) { App_().SetMouseCursor(cursor); }

void LogScanStarted() { System::DebugLog("[TLM]: Scan started: " + Date().SQLDateTime()); }

/// The button's and the menu item's start: the wait cursor and the log line, then the folder
/// dialog. A chosen folder gets a scan of its own; a cancel brings the arrow back and starts
/// nothing. Gives the dialog's result.
Ref<FolderItem> ScanChosenFolder()
{
    auto scan = New<Loadthread>();
    SetCursor(Application::MouseCursor::Wait);
    LogScanStarted();
    Ref<FolderItem> chosen = SelectFolder();
    if (!chosen) {
        SetCursor(Application::MouseCursor::Arrow);
        return nullptr;
    }
    scan->folder = chosen;
    scan->Run();
    return chosen;
}

} // namespace

void Window1::pbMBS_Action() { TheFolder = ScanChosenFolder(); }

bool Window1::FileOpenFolder_Action_()
{
    TheFolder = ScanChosenFolder();
    return false;
}

void Window1::lstFiles_DropObject(const Ref<DragItem> &obj, int32_t)
{
    bool scanStarted = false;
    CatchAll("winMain.Controls.lstFiles.DropObject", [&] {
        SetCursor(Application::MouseCursor::Wait);
        if (!obj->FolderItemAvailable())
            return;
        LogScanStarted();
        do {
            // The drop filter lets only files and folders through; an item that still carries
            // no reference has nothing to scan.
            if (obj->FolderItemAvailable()) {
                AddFolderItem(obj->FolderItem());
                scanStarted = true;
            }
            Yield();
        } while (obj->NextItem());
    });
    // Only a scan brings the arrow back at its end: a drop that started none must do it itself,
    // or the program would look busy until some later scan ends.
    if (!scanStarted)
        SetCursor(Application::MouseCursor::Arrow);
}

void Window1::AddFolderItem(const Ref<FolderItem> &f)
{
    auto scan = New<Loadthread>();
    LogScanStarted();
    ProcessFolders(f);
    scan->folder = f;
    scan->Run();
}
