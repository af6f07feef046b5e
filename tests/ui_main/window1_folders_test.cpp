#include "scanstart_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/database.h"

using namespace platform;
using scanstart::FolderRow;

namespace {

using AncestorRows = scanstart::ScanStartFixture;

struct DropCase
{
    const char *name;
    /// Folders made first (below the test's folder); then the items handed over in this order.
    std::vector<const char *> folders;
    std::vector<const char *> items;
    std::vector<FolderRow> expected;
};

const DropCase kCases[] = {
    { "a file at the top of a volume", {}, { "Vol/top.txt" }, { { "Vol:", "Drive", "" } } },
    { "a folder two levels down", { "Vol/A/B" }, { "Vol/A/B" },
        { { "Vol:", "Drive", "" }, { "Vol:A:", "A", "Vol:" } } },
    { "the same folder twice", { "Vol/A/B" }, { "Vol/A/B", "Vol/A/B" },
        { { "Vol:", "Drive", "" }, { "Vol:A:", "A", "Vol:" } } },
    { "a folder three levels down", { "Vol/A/B/C" }, { "Vol/A/B/C" },
        { { "Vol:", "Drive", "" }, { "Vol:A:", "A", "Vol:" }, { "Vol:A:B:", "B", "Vol:A:" } } },
    // The first volume seen has the only drive row; the second's folders hang below it.
    { "a second volume", { "Vol/A/B", "Vol2/C/D" }, { "Vol/A/B", "Vol2/C/D" },
        { { "Vol:", "Drive", "" }, { "Vol:A:", "A", "Vol:" }, { "Vol2:C:", "C", "Vol:" } } },
    // Rows are found by the tail of their path: Vol:A: is taken as present.
    { "a stored tail under another parent", { "Vol/X/A/B", "Vol/A/B" }, { "Vol/X/A/B", "Vol/A/B" },
        { { "Vol:", "Drive", "" }, { "Vol:X:", "X", "Vol:" }, { "Vol:X:A:", "A", "Vol:X:" } } },
    { "an underscore matches only itself", { "Vol/aXb/c", "Vol/a_b/c" },
        { "Vol/aXb/c", "Vol/a_b/c" },
        { { "Vol:", "Drive", "" }, { "Vol:aXb:", "aXb", "Vol:" }, { "Vol:a_b:", "a_b", "Vol:" } } },
    { "a percent sign matches only itself", { "Vol/50 percent/c", "Vol/50%/c" },
        { "Vol/50 percent/c", "Vol/50%/c" },
        { { "Vol:", "Drive", "" }, { "Vol:50 percent:", "50 percent", "Vol:" },
            { "Vol:50%:", "50%", "Vol:" } } },
    { "a backslash matches only itself", { "Vol/aXb/c", "Vol/a\\b/c", "Vol/a\\b/d" },
        { "Vol/aXb/c", "Vol/a\\b/c", "Vol/a\\b/d" },
        { { "Vol:", "Drive", "" }, { "Vol:aXb:", "aXb", "Vol:" },
            { "Vol:a\\b:", "a\\b", "Vol:" } } },
    { "a single quote, stored as it stands and found again", { "Vol/it's/c", "Vol/it's/d" },
        { "Vol/it's/c", "Vol/it's/d" },
        { { "Vol:", "Drive", "" }, { "Vol:it's:", "it's", "Vol:" } } },
    // Its tail ":" matches every stored folder path, so once any exists nothing more is done.
    { "a dropped volume", { "Vol/A" }, { "Vol", "Vol/A", "Vol" }, { { "Vol:", "Drive", "" } } },
};

TEST_F(AncestorRows, ProcessFolders_Table)
{
    for (const DropCase &c : kCases) {
        SCOPED_TRACE(c.name);
        Globals::g_DB->SQLExecute("DELETE FROM fileinfo;");
        for (const char *folder : c.folders)
            Folder(folder);
        for (const char *item : c.items)
            w->ProcessFolders(Item(item));
        EXPECT_EQ(FolderRows(), c.expected);
    }
    EXPECT_TRUE(m_dialogs->shown.empty());
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(AncestorRows, ProcessFolders_ItemAlreadyCatalogued_StoresNothing)
{
    DatabaseRecord record;
    record.Column("fullpath", "Other:A:f.txt"); // the same tail on another volume counts too
    record.Column("name", "f.txt");
    record.BooleanColumn("isfolder", false);
    Globals::g_DB->InsertRecord("fileinfo", record);
    ASSERT_FALSE(Globals::g_DB->Error());
    File("Vol/A/f.txt");
    w->ProcessFolders(Item("Vol/A/f.txt"));
    const std::vector<std::string> paths = { "Other:A:f.txt" };
    EXPECT_EQ(AllPaths(), paths);
}

TEST_F(AncestorRows, ProcessFolders_ReadyThread_GetsATurnAtEveryPass)
{
    Folder("Vol/A/B/C");
    int turns = 0;
    bool stop = false;
    auto probe = std::make_shared<platform::testing::LambdaThread>([&] {
        while (!stop) {
            ++turns;
            Yield();
        }
    });
    probe->Run();
    w->ProcessFolders(Item("Vol/A/B/C"));
    // Three ancestors (Vol:, A:, B:): a pass each to end them with ":", 1 + 2 + 3 to join the
    // levels' paths, and one per level.
    EXPECT_EQ(turns, 3 + 6 + 3);
    stop = true;
    ASSERT_TRUE(WaitForThreads());
    EXPECT_EQ(FolderRows().size(), 3u);
}

/// Refuses every insert of a row called "Refused", as a constraint of the catalogue would.
void RefuseRowsNamedRefused()
{
    Globals::g_DB->SQLExecute(
        "CREATE TRIGGER refuse BEFORE INSERT ON fileinfo "
        "WHEN NEW.name = 'Refused' BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    ASSERT_FALSE(Globals::g_DB->Error()) << Globals::g_DB->ErrorMessage();
}

TEST_F(AncestorRows, ProcessFolders_InsertRefusedMidChain_OneBoxAndNothingStored)
{
    RefuseRowsNamedRefused();
    Folder("Vol/Refused/inner/item");
    w->ProcessFolders(Item("Vol/Refused/inner/item"));
    // The id read after the failed insert clears the connection's error: the failure must still
    // be seen, and the chain not stored with inner: hanging under the drive row.
    const std::vector<std::string> boxes = { std::string("Database Error") + EndOfLine
        + "Number: 19" + EndOfLine + "Message: refused" };
    EXPECT_EQ(m_dialogs->Messages(), boxes);
    EXPECT_TRUE(AllPaths().empty());
    EXPECT_TRUE(m_reports.empty());
    // The transaction has ended: what comes next is stored and committed on its own.
    w->ProcessFolders(Item("Vol/top.txt"));
    const std::vector<FolderRow> rows = { { "Vol:", "Drive", "" } };
    EXPECT_EQ(FolderRows(), rows);
}

TEST_F(AncestorRows, AddFolderItem_ExceptionInsideTheTransaction_RolledBackReportedScanStarts)
{
    RefuseRowsNamedRefused();
    m_dialogs->throwFromBoxes = true;
    File("Vol/Refused/inner/item/f.txt", "f");
    w->AddFolderItem(Item("Vol/Refused/inner/item"));
    const std::vector<std::string> reports = { "RuntimeException winMain.Methods.ProcessFolders" };
    EXPECT_EQ(m_reports, reports);
    EXPECT_EQ(Scheduler::LiveCount(), 1u); // the item's scan, started all the same
    // The next writer's commit must find nothing of the broken chain left open to commit.
    Globals::g_DB->Commit();
    EXPECT_TRUE(AllPaths().empty());
    auto other = New<Database>();
    other->DatabaseFile = FolderItem::FromNativePath(Catalogue());
    ASSERT_TRUE(other->Connect());
    other->SQLExecute("BEGIN IMMEDIATE;"); // no write lock is left behind either
    EXPECT_FALSE(other->Error()) << other->ErrorMessage();
    other->Rollback();
    other->Close();

    ASSERT_TRUE(WaitForThreads());
    const std::vector<std::string> paths = { "Vol:Refused:inner:item:f.txt" };
    EXPECT_EQ(AllPaths(), paths);
}

} // namespace
