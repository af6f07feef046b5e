#include "ui/warnings/finderselect.h"

#include "platform/application.h"
#include "platform/debuglog.h"
#include "platform/exceptions.h"
#include "platform/scriptrun.h"
#include "tests/ui_warnings/actionsfixture.h"
#include "tests/ui_warnings/scriptfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace platform;

namespace {

constexpr int kWaitMs = 5000;

struct ParameterCase
{
    const char *name;
    std::vector<Variant> values;
    std::string arguments; // as the script wrote them: the count, then one a line
};

void PrintTo(const ParameterCase &c, std::ostream *os) { *os << c.name; }

class FinderSelectTest : public ::testing::TestWithParam<ParameterCase>
{
};

const ParameterCase kParameters[] = {
    { "NoValues", {}, "0\n" },
    { "Integer7ThenTextAbc", { 7, std::string("abc") }, "2\n7\nabc\n" },
    { "TextWithBlanksAndQuote", { std::string("Disk:a b:it's") }, "1\nDisk:a b:it's\n" },
    { "BooleanAndNumber", { true, 2.5 }, "2\nTrue\n2.5\n" },
};

} // namespace

TEST_P(FinderSelectTest, FinderSelect_Values_ReachTheScriptInOrder)
{
    const ScriptFolder folder;
    folder.SetScript(RecordingScript(folder / "out"));
    FinderSelect(GetParam().values);
    EXPECT_EQ(ScriptFolder::AwaitFile(folder / "out"), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(WinAlertActions, FinderSelectTest, ::testing::ValuesIn(kParameters),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ScriptRun, Complete_ScriptStillRunning_ReturnsWithoutWaiting)
{
    const ScriptFolder folder;
    ASSERT_EQ(mkfifo((folder / "go").c_str(), 0600), 0);
    // The script can end only once the test has opened the pipe for writing, or after 10 s.
    folder.SetScript("#!/bin/sh\ntimeout 10 sh -c 'read x < \"$1\"' sh \"$1\"\n"
                     "echo done > \"$2.part\" && mv \"$2.part\" \"$2\"\n");
    ScriptRun run(168);
    run.AddTextParameter(folder / "go");
    run.AddTextParameter(folder / "out");
    run.Complete();
    EXPECT_FALSE(std::filesystem::exists(folder / "out"));
    platform::testing::WriteFile(folder / "go", "go\n");
    EXPECT_EQ(ScriptFolder::AwaitFile(folder / "out"), "done\n");
}

TEST(ScriptRun, Complete_ScriptWritesErrorsAndFails_LinesAndEndInTheDebugLog)
{
    const ScriptFolder folder;
    folder.SetScript("#!/bin/sh\necho first >&2\nprintf 'second' >&2\nexit 3\n");
    std::vector<std::string> lines;
    System::SetDebugLogObserver([&](const std::string &line) { lines.push_back(line); });
    RunScript(168);
    const std::vector<std::string> expected { "[script 168]: first", "[script 168]: second",
        "[script 168]: ended with exit code 3" };
    EXPECT_TRUE(ProcessEventsUntil([&] { return lines.size() >= expected.size(); }, kWaitMs));
    System::SetDebugLogObserver(nullptr);
    EXPECT_EQ(lines, expected);
}

TEST(ScriptRun, Complete_NoSuchResource_Raises)
{
    const ScriptFolder folder;
    EXPECT_THROW(RunScript(168), RuntimeException);
}

namespace {

/// A warnings window whose double click reaches a recording script resource 168.
class RevealTest : public ActionsFixture
{
protected:
    ScriptFolder folder;

    void SetUp() override
    {
        ActionsFixture::SetUp();
        folder.SetScript(RecordingScript(folder / "out"));
    }

    void DoubleClickRow(int row, DialogAnswer answer)
    {
        w->AlertList->SetListIndex(row);
        dialogs->buttonAnswers.push_back(answer);
        Dispatch([&] { w->AlertList_DoubleClick(); });
    }
};

} // namespace

TEST_F(RevealTest, DoubleClick_AnsweredNo_RevealsNothing)
{
    DoubleClickRow(0, DialogAnswer::Cancel);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].texts,
        (std::vector<std::string> { "Reveal File", "Reveal file?", "", "3", "&Yes", "&No" }));
    // A run started afterwards is the only one the script records.
    FinderSelect({ std::string("sentinel") });
    EXPECT_EQ(ScriptFolder::AwaitFile(folder / "out"), "1\nsentinel\n");
}

TEST_F(RevealTest, DoubleClick_YesForAFileDeletedSinceItsFolderStays_PassesItsPath)
{
    const std::string path = FolderItem::FromNativePath(tmp / "gone it's.txt")->AbsolutePath();
    w->AlertList->SetCellTag(1, 0, path);
    DoubleClickRow(1, DialogAnswer::Action);
    EXPECT_EQ(ScriptFolder::AwaitFile(folder / "out"), "1\n" + path + "\n");
    EXPECT_TRUE(dialogs->Messages().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(RevealTest, DoubleClick_PathOnNoVolume_UnableToDisplay)
{
    w->AlertList->SetCellTag(2, 0, std::string("Nowhere:x.txt"));
    DoubleClickRow(2, DialogAnswer::Action);
    EXPECT_EQ(dialogs->Messages(), std::vector<std::string> { "Unable to display file." });
    EXPECT_TRUE(reports.empty());
}

TEST_F(RevealTest, DoubleClick_NoRowSelected_Reported)
{
    DoubleClickRow(-1, DialogAnswer::Action);
    EXPECT_EQ(reports, std::vector<std::string> { "winAlert.Controls.lstFiles.DoubleClick" });
    EXPECT_TRUE(dialogs->Messages().empty());
}
