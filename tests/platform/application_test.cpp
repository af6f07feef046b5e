#include "platform/application.h"
#include "platform/debuglog.h"
#include "platform/dialogs.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace platform;

namespace {

// Long enough for any run that ends by itself; only a hung one meets it.
constexpr int kGuardMs = 10000;

std::vector<std::string> g_events;

class OrderApp : public Application
{
public:
    void Event_Open() override { g_events.push_back("app open"); }
};

class OrderWindow : public Window
{
public:
    std::function<void()> onOpen;

protected:
    void Layout() override { g_events.push_back("layout"); }
    void CreateControls() override { g_events.push_back("controls"); }
    void AddMenuHandlers() override { g_events.push_back("menu handlers"); }
    void Event_Open() override
    {
        g_events.push_back("window open");
        if (onOpen)
            onOpen();
    }
    void Event_Close() override { g_events.push_back("window close"); }
};

int RunWith(const std::function<void()> &startup)
{
    static char arg0[] = "test";
    char *argv[] = { arg0, nullptr };
    return Run(1, argv, startup, [] { g_events.push_back("finalize"); });
}

} // namespace

TEST(Run, StartUp_ApplicationOpensBeforeTheWindowsItMade)
{
    g_events.clear();
    const int code = RunWith([] {
        RegisterApplication(std::make_shared<OrderApp>());
        auto w = MakeWindow<OrderWindow>();
        w->onOpen = [] { Quit(0); };
        g_events.push_back("startup done");
    });
    EXPECT_EQ(code, 0);
    const std::vector<std::string> expected = { "layout", "controls", "menu handlers",
        "startup done", "app open", "window open", "finalize" };
    EXPECT_EQ(g_events, expected);
}

TEST(Run, Quit_TheFirstRequestedCodeIsTheExitCode)
{
    struct Case
    {
        std::vector<int> codes;
        int expected;
    };
    for (const Case &c : { Case { { 0 }, 0 }, Case { { 1 }, 1 }, Case { { 1, 0 }, 1 } }) {
        const int code = RunWith([&] {
            auto w = MakeWindow<OrderWindow>();
            w->onOpen = [&] {
                for (int q : c.codes)
                    Quit(q);
            };
        });
        EXPECT_EQ(code, c.expected);
    }
}

TEST(Run, WindowClosedByUser_RunsItsCloseEvent)
{
    g_events.clear();
    const int code = RunWith([] {
        auto w = MakeWindow<OrderWindow>();
        std::weak_ptr<OrderWindow> weak = w.Shared();
        w->onOpen = [weak] {
            weak.lock()->Close();
            Quit(4);
        };
    });
    EXPECT_EQ(code, 4);
    EXPECT_NE(std::find(g_events.begin(), g_events.end(), "window close"), g_events.end());
}

TEST(Dispatch, EscapingException_GoesToTheUnhandledHandlerAndTheProgramRunsOn)
{
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);
    std::vector<std::string> log;
    System::SetDebugLogObserver([&](const std::string &line) { log.push_back(line); });
    bool after = false;
    Dispatch([] { throw NilObjectException(); });
    Dispatch([&] { after = true; });
    System::SetDebugLogObserver(nullptr);
    SetDialogProvider(nullptr);

    EXPECT_TRUE(after);
    ASSERT_EQ(dialogs->Messages().size(), 1u);
    EXPECT_NE(dialogs->Messages()[0].find("NilObjectException"), std::string::npos);
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log[0].find("NilObjectException"), std::string::npos);
}

TEST(Dispatch, ThreadEndException_IsNotReported)
{
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);
    Dispatch([] { throw ThreadEndException(); });
    SetDialogProvider(nullptr);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST(Run, StartUpFails_ReportsThenEndsWithOne)
{
    struct Case
    {
        const char *where;
        bool stepThrows;
        bool openThrows;
    };
    class FailingApp : public Application
    {
    public:
        bool throws = false;
        void Event_Open() override
        {
            g_events.push_back("app open");
            if (throws)
                throw NilObjectException("no catalogue");
        }
    };
    for (const Case &c : { Case { "a start-up step", true, false },
             Case { "the application's Open event", false, true } }) {
        SCOPED_TRACE(c.where);
        g_events.clear();
        auto dialogs = std::make_shared<ScriptedDialogs>();
        SetDialogProvider(dialogs);
        std::size_t boxesAtFinalize = 0;
        // Only a run that wrongly goes on into the event loop meets this; it ends it with 99.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { Quit(99); });
        guard.start(kGuardMs);
        static char arg0[] = "test";
        char *argv[] = { arg0, nullptr };
        const int code = platform::Run(
            1, argv,
            [&] {
                auto app = std::make_shared<FailingApp>();
                app->throws = c.openThrows;
                RegisterApplication(app);
                (void)MakeWindow<OrderWindow>();
                if (c.stepThrows)
                    throw OutOfBoundsException("step failed");
                g_events.push_back("startup done");
            },
            [&] {
                boxesAtFinalize = dialogs->shown.size();
                g_events.push_back("finalize");
            });
        guard.stop();
        SetDialogProvider(nullptr);

        EXPECT_EQ(code, 1);
        EXPECT_EQ(boxesAtFinalize, 1u);
        ASSERT_EQ(dialogs->Messages().size(), 1u);
        EXPECT_NE(dialogs->Messages()[0].find(
                      c.stepThrows ? "OutOfBoundsException" : "NilObjectException"),
            std::string::npos);
        // The windows of a failed start-up get no Open event.
        EXPECT_EQ(std::count(g_events.begin(), g_events.end(), "window open"), 0);
        EXPECT_EQ(g_events.back(), "finalize");
    }
}
