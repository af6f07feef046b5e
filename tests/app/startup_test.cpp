#include "app/startup.h"
#include "core/app.h"
#include "core/filetypes.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "ui/main/menu.h"
#include "ui/main/window1.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace platform;
using platform::testing::TempFolder;

namespace {

/// What the program's start-up had made by the first turn of the event loop.
struct Seen
{
    bool loopTurned = false;
    bool mainIsWindow1 = false;
    std::string title;
    bool menuBarInstalled = false;
    bool fileTypesMade = false;
    bool dbExists = false;
    bool connected = false;
};

struct RunResult
{
    int exitCode = -1;
    Seen seen;
    std::vector<std::string> messages;
    /// The tags of the catch-all handlers' reports.
    std::vector<std::string> reports;
};

/// Runs the program itself, Main_ as main() calls it, in `appFolder` with scripted dialogs. A user
/// thread, ready before the run, looks at the program when the event loop first turns (after
/// start-up and the Open events), then closes the main window. The preferences go to
/// `configHome` (by default a new folder in `appFolder`), never to the user's own.
RunResult RunTheProgram(const std::string &appFolder, std::string configHome = "")
{
    RunResult r;
    if (configHome.empty()) {
        configHome = appFolder + "/config";
        std::filesystem::create_directories(configHome);
    }
    const platform::testing::EnvironmentVariable config("XDG_CONFIG_HOME", configHome.c_str());
    SetExceptionReporter(
        [&r](const RuntimeException &, const std::string &tag) { r.reports.push_back(tag); });
    SetApplicationFolder(appFolder);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);
    auto user = std::make_shared<platform::testing::LambdaThread>([&r] {
        Seen &s = r.seen;
        s.loopTurned = true;
        const Ref<Window> main = MainWindow();
        s.mainIsWindow1 = bool(main.As<Window1>());
        s.title = main->Title();
        s.menuBarInstalled = main->InstalledMenuBar() == Ref<MenuBar>(Menu_());
        s.fileTypesMade = FileTypes::pText && FileTypes::pSpecialAny;
        s.dbExists = App_().DBExists;
        s.connected = Globals::g_DB && Globals::g_DB->IsConnected();
        main->Close();
    });
    user->Run();
    static char arg0[] = "tallowmere";
    char *argv[] = { arg0, nullptr };
    r.exitCode = Main_(1, argv);
    r.messages = dialogs->Messages();
    SetDialogProvider(nullptr);
    SetApplicationFolder("");
    SetExceptionReporter(nullptr);
    return r;
}

} // namespace

TEST(Startup, FirstRun_MainWindowMadeBeforeTheApplicationOpensAndTitledByIt)
{
    TempFolder app;
    const RunResult r = RunTheProgram(app.Path());
    // Without the main window registered before the application's Open, titling it would have
    // raised, and the unhandled exception would have shown a box.
    EXPECT_TRUE(r.messages.empty());
    ASSERT_TRUE(r.seen.loopTurned);
    EXPECT_TRUE(r.seen.mainIsWindow1);
    EXPECT_EQ(r.seen.title, "Tallowmere -  Version 1.0.0");
    EXPECT_TRUE(r.seen.menuBarInstalled);
    EXPECT_TRUE(r.seen.fileTypesMade);
    EXPECT_FALSE(r.seen.dbExists);
    EXPECT_TRUE(r.seen.connected);
    // Closing the main window ended the run with 0, and its end dropped the globals.
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(Globals::g_DB);
    EXPECT_FALSE(Globals::g_winAlert);
    EXPECT_FALSE(FileTypes::pText);
    EXPECT_FALSE(FileTypes::pSpecialAny);
    EXPECT_FALSE(MainWindow());
    EXPECT_TRUE(FolderItem::FromNativePath(app / "crcData.rsd")->Exists());
}

TEST(Startup, CorruptCatalogue_EndsWithExitCode1BeforeTheEventLoopTurns)
{
    TempFolder app;
    platform::testing::WriteFile(app / "crcData.rsd", std::string(4096, 'x'));
    const RunResult r = RunTheProgram(app.Path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.messages, std::vector<std::string> { "crcData is corrupt." });
    EXPECT_FALSE(r.seen.loopTurned);
    EXPECT_FALSE(Globals::g_DB);
}

TEST(Startup, Close_MissingPreferencesFolder_OneReportAndExitCode0)
{
    TempFolder app;
    const RunResult r = RunTheProgram(app.Path(), app / "no-such-config");
    EXPECT_TRUE(r.seen.loopTurned);
    EXPECT_EQ(r.reports, std::vector<std::string> { "winMain.Methods.SaveWindowPrefs" });
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(Globals::g_DB);
}
