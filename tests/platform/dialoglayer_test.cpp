#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/dialogs_p.h"
#include "tests/support/scripteddialogs.h"

#include <gtest/gtest.h>

#include <memory>

using namespace platform;

TEST(DialogLayer, NoneAtAll_RaisesNilObjectUntilTheRunInstallsQtsOwn)
{
    SetDialogProvider(nullptr);
    detail::SetDefaultDialogProvider(nullptr);
    EXPECT_THROW(Dialogs(), NilObjectException);
    EXPECT_THROW(MsgBox("nobody to ask"), NilObjectException);

    static char arg0[] = "test";
    char *argv[] = { arg0, nullptr };
    EXPECT_EQ(platform::Run(
                  1, argv, [] { Quit(0); }, nullptr),
        0);
    EXPECT_NO_THROW(Dialogs());
}

TEST(DialogLayer, ProviderSetThenCleared_AnswersThenGivesWayToTheFrameworksOwn)
{
    DialogProvider &own = Dialogs();
    auto scripted = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(scripted);
    MsgBox("scripted");
    EXPECT_EQ(&Dialogs(), scripted.get());
    SetDialogProvider(nullptr);
    EXPECT_EQ(&Dialogs(), &own);
    EXPECT_EQ(scripted->Messages(), std::vector<std::string> { "scripted" });
}
