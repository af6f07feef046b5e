#include "scanfixture.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "scan/startthread.h"

using namespace platform;
using scantest::Row;
using scantest::ScanFixture;
using scantest::StatusWrite;

namespace {

/// A loader whose never-called name test the tests can reach.
class Loader : public StartThread
{
public:
    using StartThread::DisplayFolderAsFolder;
    using StartThread::StartThread;
};

class StartThreadTest : public ScanFixture
{
protected:
    /// Three catalogue rows: a plain file, an exempt one, and an ancestor-folder row with no
    /// checksum and no exempt flag. None of the files exists.
    void InsertThreeRows()
    {
        m_ids.push_back(InsertRow("Disk:gone:a.txt", "a.txt", std::string(64, 'A'), false));
        m_ids.push_back(InsertRow("Disk:gone:b.txt", "b.txt", std::string(64, 'B'), true));
        m_ids.push_back(InsertRow("Disk:", "Drive", std::nullopt, std::nullopt, true));
    }

    static Ref<TheOldFiles> OldRecord(const std::string &path)
    {
        auto record = New<TheOldFiles>();
        record->Path = path;
        return record;
    }

    std::vector<int64_t> m_ids;
};

TEST_F(StartThreadTest, EmptyTable_ListEmptiedButtonEnabledBarHiddenAndNothingElseTouched)
{
    lstFiles->AddRow("stale");
    StaticText1->SetText("before");
    Globals::OldFiles.push_back(OldRecord("Disk:kept"));
    pbMBS->SetEnabled(false);
    pb->SetVisible(true);

    New<StartThread>()->Run();
    ASSERT_TRUE(WaitForThreads());

    EXPECT_EQ(lstFiles->ListCount(), 0);
    EXPECT_TRUE(pbMBS->Enabled());
    EXPECT_FALSE(pb->Visible());
    EXPECT_EQ(StaticText1->Text(), "before");
    ASSERT_EQ(Globals::OldFiles.size(), 1u);
    EXPECT_EQ(Globals::OldFiles[0]->Path, "Disk:kept");
}

TEST_F(StartThreadTest, ThreeRecords_TextsAndBarValuesOfBothPassesButtonDisabledMeanwhile)
{
    InsertThreeRows();
    const auto loader = New<StartThread>();
    loader->Run();
    const auto probe = Probe(loader);
    ASSERT_TRUE(WaitForThreads());

    auto write = [](std::optional<std::string> text, std::optional<int> value,
                     std::optional<int> maximum) {
        return StatusWrite { std::move(text), std::nullopt, value, maximum };
    };
    // N is the index of the row added last: -1 right after the list was emptied.
    const std::vector<StatusWrite> expected = {
        write("Loading Record -1 of 3", -1, 3),
        write("Loading Record 0 of 3", 0, std::nullopt),
        write("Loading Record 1 of 3", 1, std::nullopt),
        write("Building Database...", 1, 3),
        write(std::nullopt, 2, std::nullopt),
        write(std::nullopt, 3, std::nullopt),
        write("Files loaded Successfully!", std::nullopt, std::nullopt),
    };
    EXPECT_EQ(probe->writes, expected);
    const std::vector<bool> busy(expected.size() - 1, false);
    std::vector<bool> enabled = busy;
    enabled.push_back(true);
    EXPECT_EQ(probe->buttonEnabled, enabled);
    std::vector<bool> shown(expected.size() - 1, true);
    shown.push_back(false);
    EXPECT_EQ(probe->barVisible, shown);
    EXPECT_TRUE(m_reports.Entries().empty());
}

TEST_F(StartThreadTest, ThreeRecords_RowsAndSnapshotAsStoredWithBoxesFromTheFlagsAndNoWrites)
{
    InsertThreeRows();
    const std::vector<Row> before = Rows();
    New<StartThread>()->Run();
    ASSERT_TRUE(WaitForThreads());

    struct Expected
    {
        std::string name, crc, path;
        bool checked;
    };
    const Expected expected[] = {
        { "a.txt", std::string(64, 'A'), "Disk:gone:a.txt", false },
        { "b.txt", std::string(64, 'B'), "Disk:gone:b.txt", true },
        { "Drive", "", "Disk:", false },
    };
    ASSERT_EQ(lstFiles->ListCount(), 3);
    ASSERT_EQ(Globals::OldFiles.size(), 3u);
    for (int r = 0; r < 3; ++r) {
        const Expected &e = expected[r];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(lstFiles->Cell(r, 0), e.name);
        EXPECT_EQ(lstFiles->Cell(r, 1), "<data>");
        EXPECT_EQ(lstFiles->Cell(r, 2), e.crc);
        EXPECT_EQ(lstFiles->Cell(r, 3), "");
        EXPECT_EQ(lstFiles->CellTag(r, 0).As<int64_t>(), m_ids[std::size_t(r)]);
        EXPECT_TRUE(lstFiles->CellTag(r, 1).IsNil());
        EXPECT_EQ(lstFiles->CellType(r, 3), Listbox::TypeCheckbox);
        EXPECT_EQ(lstFiles->CellCheck(r, 3), e.checked);
        EXPECT_EQ(lstFiles->RowTag(r).As<std::string>(), e.path);
        EXPECT_TRUE(lstFiles->RowPicture(r));

        const TheOldFiles &record = *Globals::OldFiles[std::size_t(r)];
        EXPECT_EQ(record.Path, e.path);
        EXPECT_EQ(record.CRC, e.crc);
        EXPECT_EQ(record.MyID, m_ids[std::size_t(r)]);
        EXPECT_EQ(record.name, e.name);
        // Made for the stored path, whether or not the file is there.
        ASSERT_TRUE(record.f);
        EXPECT_EQ(record.f->AbsolutePath(), e.path);
    }
    EXPECT_FALSE(Globals::OldFiles[0]->f->Exists());
    // Setting the boxes is no click: the stored flags are as they were.
    const std::vector<Row> after = Rows();
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i].exempt, before[i].exempt);
}

TEST_F(StartThreadTest, RunWhileOldFilesHasRecords_AppendsBehindThem)
{
    InsertThreeRows();
    Globals::OldFiles = { OldRecord("Disk:first"), OldRecord("Disk:second") };
    New<StartThread>()->Run();
    ASSERT_TRUE(WaitForThreads());

    ASSERT_EQ(Globals::OldFiles.size(), 5u);
    EXPECT_EQ(Globals::OldFiles[0]->Path, "Disk:first");
    EXPECT_EQ(Globals::OldFiles[1]->Path, "Disk:second");
    EXPECT_EQ(Globals::OldFiles[2]->Path, "Disk:gone:a.txt");
    EXPECT_EQ(Globals::OldFiles[4]->Path, "Disk:");
}

TEST_F(StartThreadTest, SelectFails_ReportedWithItsTagAndTheScanButtonEnabledAgain)
{
    lstFiles->AddRow("stale");
    Globals::g_DB->SQLExecute("DROP TABLE fileinfo;");
    ASSERT_FALSE(Globals::g_DB->Error());

    New<StartThread>()->Run();
    ASSERT_TRUE(WaitForThreads());

    ASSERT_EQ(m_reports.Entries().size(), 1u);
    EXPECT_EQ(m_reports.Entries()[0].kind, "NilObjectException");
    EXPECT_EQ(m_reports.Entries()[0].tag, "winMain.Methods.PopulateListFromDB");
    EXPECT_TRUE(pbMBS->Enabled());
    EXPECT_FALSE(pb->Visible());
    // The run ended where it failed: before the list was emptied.
    EXPECT_EQ(lstFiles->ListCount(), 1);
}

TEST_F(StartThreadTest, StartsWhileOneRuns_OneQueuedTheRestMergedAndEachRowLoadedOnce)
{
    InsertThreeRows();
    struct Case
    {
        const char *name;
        bool emptyOldFiles[3]; // the running one, the queued one, the one that merges into it
    };
    const Case cases[] = {
        { "a reload merges into a queued loader", { false, false, true } },
        { "a loader merges into a queued reload", { false, true, false } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Globals::OldFiles.clear();
        for (bool empty : c.emptyOldFiles)
            New<StartThread>(empty)->Run();
        ASSERT_TRUE(WaitForThreads());
        // The running loader appends 3; the queued one, which empties OldFiles when it begins,
        // loads them again; the third never runs on its own.
        EXPECT_EQ(Globals::OldFiles.size(), 3u);
        EXPECT_EQ(lstFiles->ListCount(), 3);
    }
}

TEST(StartThread, DisplayFolderAsFolder_FalseForBundleSuffixesInAnyCase)
{
    const struct
    {
        const char *name;
        bool asFolder;
    } cases[] = {
        { "Mail.app", false },
        { "Notes.rtfd", false },
        { "Flash.plugin", false },
        { "LOUD.APP", false },
        { "Documents", true },
        { "app", true },
        { "Mail.app copy", true },
        { "", true },
    };
    const auto loader = New<Loader>();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(loader->DisplayFolderAsFolder(c.name), c.asFolder);
    }
}

} // namespace
