#pragma once

#include "core/globals.h"
#include "platform/application.h"
#include "platform/database.h"
#include "platform/debuglog.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "platform/window.h"

/// The end of a main-window test's run, as the program's end would have it: every window closed
/// (the main window's Close runs), the catalogue closed, the globals dropped, and the seams the
/// test set put back.
inline void EndMainWindowRun()
{
    platform::CloseAllWindows();
    if (Globals::g_DB)
        Globals::g_DB->Close();
    Globals::Finalize();
    platform::System::SetDebugLogObserver(nullptr);
    platform::SetExceptionReporter(nullptr);
    platform::SetDialogProvider(nullptr);
    platform::SetApplicationFolder("");
}
