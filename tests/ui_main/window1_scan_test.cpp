#include "scanstart_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dragitem.h"
#include "platform/menu.h"
#include "tests/support/widgetprobes.h"

using namespace platform;
using scanstart::FolderRow;
using scanstart::TestWindow1;
using Cursor = platform::Application::MouseCursor;

namespace {

using ScanStart = scanstart::ScanStartFixture;

/// The two ways of starting a scan with the folder dialog.
struct Start
{
    const char *name;
    bool menu;
};
const Start kStarts[] = { { "button", false }, { "menu item", true } };

/// Starts as the user does from the button or the menu item; gives the menu handler's answer
/// (the button has none: true).
bool StartFrom(TestWindow1 &w, const Start &start)
{
    if (!start.menu) {
        w.pbMBS_Action();
        return true;
    }
    return w.RunMenuHandler("FileOpenFolder");
}

TEST_F(ScanStart, DialogCancelled_OneLogLineArrowBackNoScanTheFolderNil)
{
    for (const Start &start : kStarts) {
        SCOPED_TRACE(start.name);
        m_events.clear();
        w->TheFolder = Item("Vol"); // a folder from an earlier dialog
        const bool handled = StartFrom(*w, start);
        if (start.menu) {
            EXPECT_FALSE(handled);
        }
        const std::vector<std::string> expected = { "log", "dialog (wait cursor)" };
        EXPECT_EQ(EventKinds(), expected);
        EXPECT_EQ(LogLines(), 1);
        EXPECT_EQ(Cursor(), Cursor::Arrow);
        EXPECT_TRUE(w->TheFolder.IsNil());
        EXPECT_EQ(Scheduler::LiveCount(), 0u);
        ASSERT_TRUE(platform::testing::RunPostedCalls(5000));
        EXPECT_EQ(Scheduler::LiveCount(), 0u);
    }
    EXPECT_TRUE(AllPaths().empty());
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(ScanStart, FolderChosen_LogLineBeforeTheDialogThenOneScanOfThatRoot)
{
    for (const Start &start : kStarts) {
        SCOPED_TRACE(start.name);
        m_events.clear();
        const std::string root = std::string("chosen-") + (start.menu ? "menu" : "button");
        File(root + "/a.txt", "a");
        File(root + "/sub/b.txt", "b");
        File("beside-" + root + ".txt", "not below the chosen folder");
        m_dialogs->folderAnswers.push_back(Item(root));

        const bool handled = StartFrom(*w, start);
        if (start.menu) {
            EXPECT_FALSE(handled);
        }
        const std::vector<std::string> expected = { "log", "dialog (wait cursor)" };
        EXPECT_EQ(EventKinds(), expected);
        ASSERT_FALSE(w->TheFolder.IsNil());
        EXPECT_EQ(w->TheFolder->NativePath(), m_tmp / root);
        EXPECT_EQ(Scheduler::LiveCount(), 1u); // the scan, ready to run
        EXPECT_EQ(Cursor(), Cursor::Wait);

        ASSERT_TRUE(WaitForThreads());
        EXPECT_EQ(Cursor(), Cursor::Arrow); // the scan's end brings it back
        EXPECT_EQ(LogLines(), 1);
    }
    const std::vector<std::string> expected = { Item("chosen-button/a.txt")->AbsolutePath(),
        Item("chosen-button/sub/b.txt")->AbsolutePath(), Item("chosen-menu/a.txt")->AbsolutePath(),
        Item("chosen-menu/sub/b.txt")->AbsolutePath() };
    EXPECT_EQ(AllPaths(), expected);
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(ScanStart, OpenFolderItem_ChosenFromTheMenuBar_RunsTheWindowsHandler)
{
    w->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return FrontmostWindow().Raw() == w.Raw(); }, 5000));
    File("menu-root/a.txt", "a");
    m_dialogs->folderAnswers.push_back(Item("menu-root"));
    auto item = w->InstalledMenuBar()->Child("UntitledMenu2")->Child("FileOpenFolder");
    ASSERT_TRUE(item);
    item->Choose();
    EXPECT_EQ(LogLines(), 1);
    EXPECT_EQ(w->TheFolder->NativePath(), m_tmp / "menu-root");
    ASSERT_TRUE(WaitForThreads());
    const std::vector<std::string> expected = { Item("menu-root/a.txt")->AbsolutePath() };
    EXPECT_EQ(AllPaths(), expected);
}

TEST_F(ScanStart, DropOfOneFolder_TwoLogLinesItsAncestorRowsThenItsScan)
{
    File("Vol/A/B/f.txt", "f");
    w->Show();
    ASSERT_TRUE(platform::testing::DropFiles(*w->lstFiles, { m_tmp / "Vol/A/B" }));
    ASSERT_TRUE(ProcessEventsUntil([&] { return LogLines() == 2; }, 5000));
    ASSERT_TRUE(WaitForThreads());
    EXPECT_EQ(LogLines(), 2);
    const std::vector<FolderRow> folders = { { "Vol:", "Drive", "" }, { "Vol:A:", "A", "Vol:" } };
    EXPECT_EQ(FolderRows(), folders);
    // Stored in this order: the ancestors before the scan's own row.
    const std::vector<std::string> paths = { "Vol:", "Vol:A:", "Vol:A:B:f.txt" };
    EXPECT_EQ(AllPaths(), paths);
    EXPECT_EQ(Cursor(), Cursor::Arrow);
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(ScanStart, DropOfThreeItems_FourLogLinesThreeScansInDropOrder)
{
    // Each item has ancestors of its own and an empty file, whose row its scan stores in its
    // first turn.
    for (const char *item : { "Vol/a/x/e.txt", "Vol/b/y/e.txt", "Vol/c/z/e.txt" })
        File(item);
    w->Show();
    ASSERT_TRUE(platform::testing::DropFiles(
        *w->lstFiles, { m_tmp / "Vol/a/x", m_tmp / "Vol/b/y", m_tmp / "Vol/c/z" }));
    ASSERT_TRUE(ProcessEventsUntil([&] { return LogLines() == 4; }, 5000));
    ASSERT_TRUE(WaitForThreads());
    EXPECT_EQ(LogLines(), 4);
    // The drop yields after each item: the first scan has stored its row before the second
    // item's ancestor rows are, and so on, in drop order.
    const std::vector<std::string> paths = { "Vol:", "Vol:a:", "Vol:a:x:e.txt",
        "Vol:b:", "Vol:b:y:e.txt", "Vol:c:", "Vol:c:z:e.txt" };
    EXPECT_EQ(AllPaths(), paths);
    EXPECT_EQ(Cursor(), Cursor::Arrow);
    EXPECT_TRUE(m_reports.empty());
}

/// A drop payload built directly: the drop filter never lets an item without a file reference
/// through, so only such a payload can carry one.
struct NilItemCase
{
    const char *name;
    std::vector<const char *> items; // nullptr: an item without a file reference
    int logLines;
    std::vector<std::string> paths;
};

TEST_F(ScanStart, DropWithItemsWithoutFileReference_ThoseArePassedOver)
{
    File("Vol/p/one/1.txt");
    File("Vol/q/two/2.txt");
    const NilItemCase cases[] = {
        { "first item", { nullptr, "Vol/p/one" }, 0, {} },
        { "only item", { nullptr }, 0, {} },
        { "middle item", { "Vol/p/one", nullptr, "Vol/q/two" }, 3,
            { "Vol:", "Vol:p:", "Vol:p:one:1.txt", "Vol:q:", "Vol:q:two:2.txt" } },
    };
    for (const NilItemCase &c : cases) {
        SCOPED_TRACE(c.name);
        Globals::g_DB->SQLExecute("DELETE FROM fileinfo;");
        m_events.clear();
        std::vector<Ref<FolderItem>> items;
        for (const char *item : c.items)
            items.push_back(item ? Item(item) : nullptr);
        w->lstFiles_DropObject(New<DragItem>(items), 1);
        if (c.logLines == 0) {
            // Nothing started: the wait cursor would otherwise stay until some later scan.
            EXPECT_EQ(Cursor(), Cursor::Arrow);
            EXPECT_EQ(Scheduler::LiveCount(), 0u);
        }
        ASSERT_TRUE(WaitForThreads());
        EXPECT_EQ(LogLines(), c.logLines);
        EXPECT_EQ(AllPaths(), c.paths);
        EXPECT_EQ(Cursor(), Cursor::Arrow);
    }
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(ScanStart, DropWithoutPayload_ReportedUnderTheDropsTagArrowBack)
{
    w->lstFiles_DropObject(nullptr, 1);
    const std::vector<std::string> reports
        = { "NilObjectException winMain.Controls.lstFiles.DropObject" };
    EXPECT_EQ(m_reports, reports);
    EXPECT_EQ(Cursor(), Cursor::Arrow);
    EXPECT_EQ(LogLines(), 0);
    EXPECT_EQ(Scheduler::LiveCount(), 0u);
}

} // namespace
