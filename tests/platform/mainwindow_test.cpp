#include "platform/application.h"
#include "platform/window.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(MainWindow, Set_IsThatWindowWhateverIsInFrontUntilItCloses)
{
    EXPECT_FALSE(MainWindow());
    auto main = MakeWindow<Window>();
    SetMainWindow(main);
    auto other = MakeWindow<Window>();
    other->Show();
    EXPECT_EQ(MainWindow(), Ref<Window>(main));
    main->Close();
    EXPECT_FALSE(MainWindow());
    other->Close();
}

TEST(MainWindow, EndOfTheRun_ReleasedWithTheOtherWindows)
{
    static char arg0[] = "test";
    char *argv[] = { arg0, nullptr };
    Ref<Window> duringTheRun;
    const int code = platform::Run(
        1, argv,
        [&] {
            SetMainWindow(MakeWindow<Window>());
            duringTheRun = MainWindow();
            Quit(0);
        },
        nullptr);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(duringTheRun);
    EXPECT_FALSE(MainWindow());
}
