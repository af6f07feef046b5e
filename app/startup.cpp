#include "app/startup.h"

#include "core/app.h"
#include "core/filetypes.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/window.h"
#include "ui/main/menu.h"
#include "ui/main/window1.h"

#include <memory>

int Main_(int argc, char **argv)
{
    Globals::Initialize();
    return platform::Run(argc, argv, Startup_, ModuleFinalize);
}

void Startup_()
{
    // The framework's external classes and the directory-listing, digest and CRC-32 components
    // are linked into the program: there is nothing to bind at run time.
    InitFileTypes_();
    NewAppInstance_();
    ApplicationAddMenuHandlers_();
    MakeDefaultView_();
}

void InitFileTypes_() { FileTypes::Initialize_(); }

void NewAppInstance_() { platform::RegisterApplication(std::make_shared<App>()); }

void ApplicationAddMenuHandlers_()
{
    // The application object handles no menu item of its own.
}

void MakeDefaultView_()
{
    // The framework keeps the window, and knows it as the main window: the lower layers reach it
    // that way, by the names of its controls.
    platform::SetMainWindow(Window1_());
}

void ModuleFinalize()
{
    ReleaseMenu();
    Globals::Finalize();
}
