#include "scanfixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace platform;
using platform::testing::LambdaThread;
using scantest::ScanFixture;
using scantest::ScanThread;
using scantest::StatusWrite;
using scantest::WarningRow;

namespace {

class CompareDataTest : public ScanFixture
{
protected:
    /// Runs CompareData on a thread of its own and waits until every thread has ended.
    Ref<Thread> StartComparison(ScanThread &scan)
    {
        auto thread = New<LambdaThread>([&scan] { scan.CompareData(); });
        thread->Run();
        return thread;
    }

    static Ref<TheNewFiles> Record(const std::string &path, const std::string &crc)
    {
        auto record = New<TheNewFiles>();
        record->Path = path;
        record->CRC = crc;
        return record;
    }

    static void CloseShownWarnings()
    {
        for (const auto &window : OpenWindows()) {
            if (window.As<winAlert>() && window->Visible())
                window->Close();
        }
    }

    ScanThread m_scan;
};

const std::string kA(64, 'A'), kB(64, 'B'), kX(64, 'F');

TEST_F(CompareDataTest, Cases_AWarningWindowForEachChangedFileThatIsNotExempt)
{
    struct StoredRow
    {
        std::string path, name;
        std::optional<std::string> crc;
        std::optional<bool> exempt;
        bool isFolder = false;
    };
    struct Fresh
    {
        std::string path, crc;
    };
    struct Case
    {
        const char *name;
        std::vector<StoredRow> rows;
        std::vector<Fresh> records;
        std::vector<int> warned; // the rows each warning names, in order
    };
    const Case cases[] = {
        { "unchanged",
            { { "Disk:d:a.txt", "a.txt", kA, false }, { "Disk:d:b.txt", "b.txt", kB, false } },
            { { "Disk:d:a.txt", kA }, { "Disk:d:b.txt", kB } }, {} },
        { "changed last file",
            { { "Disk:d:a.txt", "a.txt", kA, false }, { "Disk:d:b.txt", "b.txt", kB, false } },
            { { "Disk:d:a.txt", kA }, { "Disk:d:b.txt", kX } }, { 1 } },
        { "exempt", { { "Disk:d:a.txt", "a.txt", kA, true } }, { { "Disk:d:a.txt", kX } }, {} },
        { "exempt flag NULL", { { "Disk:d:a.txt", "a.txt", kA, std::nullopt } },
            { { "Disk:d:a.txt", kX } }, { 0 } },
        { "single quote in the path", { { "Disk:Bob's:it's.txt", "it's.txt", kA, false } },
            { { "Disk:Bob's:it's.txt", kX } }, { 0 } },
        { "blank at the end of the path", { { "Disk:d:a.txt ", "a.txt ", kA, false } },
            { { "Disk:d:a.txt ", kX } }, { 0 } },
        { "NULL crc", { { "Disk:d:", "d", std::nullopt, std::nullopt, true } },
            { { "Disk:d:", kX } }, {} },
        { "two rows for one path, the first differs",
            { { "Disk:d:a.txt", "a.txt", kA, false }, { "Disk:d:a.txt", "a.txt", kX, false } },
            { { "Disk:d:a.txt", kX } }, { 0 } },
        { "two rows for one path, the first matches",
            { { "Disk:d:a.txt", "a.txt", kX, false }, { "Disk:d:a.txt", "a.txt", kA, false } },
            { { "Disk:d:a.txt", kX } }, {} },
        { "no row for the path", {}, { { "Disk:d:new.txt", kX } }, {} },
        { "not readable in this walk", { { "Disk:d:a.txt", "a.txt", kA, false } },
            { { "Disk:d:a.txt", "" } }, { 0 } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Globals::g_DB->SQLExecute("DELETE FROM fileinfo;");
        std::vector<int64_t> ids;
        for (const StoredRow &row : c.rows)
            ids.push_back(InsertRow(row.path, row.name, row.crc, row.exempt, row.isFolder));
        for (const Fresh &fresh : c.records)
            Globals::NewFiles.push_back(Record(fresh.path, fresh.crc));
        const Ref<winAlert> first = Globals::g_winAlert;

        StartComparison(m_scan);
        ASSERT_TRUE(WaitForThreads());

        std::vector<std::vector<WarningRow>> expected;
        for (int r : c.warned) {
            const StoredRow &row = c.rows[std::size_t(r)];
            const Fresh &fresh = *std::find_if(c.records.begin(), c.records.end(),
                [&](const Fresh &f) { return f.path == row.path; });
            expected.push_back({ { row.name, row.path, "<data>", *row.crc, fresh.crc, row.path,
                ids[std::size_t(r)] } });
        }
        EXPECT_EQ(ShownWarnings(), expected);
        // The window that took the warning stays on screen; a fresh hidden one waits for the next.
        ASSERT_TRUE(Globals::g_winAlert);
        EXPECT_FALSE(Globals::g_winAlert->Visible());
        EXPECT_EQ(Globals::g_winAlert == first, c.warned.empty());
        EXPECT_TRUE(Globals::NewFiles.empty());
        EXPECT_EQ(StaticText1->Text(), "Scan Completed.");
        EXPECT_EQ(StaticText2->Text(), " ");
        EXPECT_FALSE(pb->Visible());
        CloseShownWarnings();
    }
    EXPECT_TRUE(m_reports.Entries().empty());
}

TEST_F(CompareDataTest, FiveUnchangedFiles_EachRecordCountedAgainstTheLastIndexThenCompleted)
{
    for (const char *name : { "a", "b", "c", "d", "e" }) {
        const std::string path = std::string("Disk:d:") + name;
        InsertRow(path, name, kA, false);
        Globals::NewFiles.push_back(Record(path, kA));
    }
    m_scan.SetCount(7);
    const Ref<winAlert> hidden = Globals::g_winAlert;

    const auto comparison = StartComparison(m_scan);
    const auto probe = Probe(comparison);
    ASSERT_TRUE(WaitForThreads());

    std::vector<StatusWrite> expected
        = { { "Comparing Data....", "Processing 0 of 4 values.", 0, 4 } };
    for (int i = 1; i <= 4; ++i)
        expected.push_back(
            { std::nullopt, "Processing " + std::to_string(i) + " of 4 values.", i, std::nullopt });
    expected.push_back({ "Scan Completed.", " ", std::nullopt, std::nullopt });
    EXPECT_EQ(probe->writes, expected);
    EXPECT_EQ(probe->barVisible, std::vector<bool>({ true, true, true, true, true, false }));
    EXPECT_TRUE(ShownWarnings().empty());
    EXPECT_EQ(Globals::g_winAlert, hidden);
}

TEST_F(CompareDataTest, SecondComparisonWhileOneRuns_WaitsThenTakesWhatIsThereLaterRecordsStay)
{
    const char *const names[] = { "r1", "r2", "r3", "r4", "r5" };
    for (const char *name : names)
        InsertRow(std::string("Disk:d:") + name, name, kA, false);
    auto changed = [](const char *name) { return Record(std::string("Disk:d:") + name, kX); };
    for (const char *name : { "r1", "r2", "r3" })
        Globals::NewFiles.push_back(changed(name));

    // The first takes r1 to r3; r4 comes while it runs, and its comparison waits; r5 comes
    // once the second comparison has warned about r4.
    ScanThread second;
    bool secondStarted = false;
    int warningsBeforeR4 = -1;
    auto first = StartComparison(m_scan);
    auto later = New<LambdaThread>([&] {
        while (StaticText1->Text() != "Comparing Data....")
            Yield();
        Globals::NewFiles.push_back(changed("r4"));
        secondStarted = true;
        second.CompareData();
    });
    later->Run();
    auto last = New<LambdaThread>([&] {
        auto warned = [](const std::string &path) {
            for (const auto &window : ShownWarnings()) {
                if (window.at(0).path == path)
                    return true;
            }
            return false;
        };
        while (!warned("Disk:d:r4"))
            Yield();
        warningsBeforeR4 = int(ShownWarnings().size()) - 1;
        Globals::NewFiles.push_back(changed("r5"));
    });
    last->Run();
    ASSERT_TRUE(WaitForThreads());

    ASSERT_TRUE(secondStarted);
    // The second comparison began only once the first had ended.
    EXPECT_EQ(warningsBeforeR4, 3);
    std::vector<std::string> warnedPaths;
    for (const auto &window : ShownWarnings()) {
        ASSERT_EQ(window.size(), 1u);
        warnedPaths.push_back(window[0].path);
    }
    std::sort(warnedPaths.begin(), warnedPaths.end());
    EXPECT_EQ(warnedPaths,
        (std::vector<std::string> { "Disk:d:r1", "Disk:d:r2", "Disk:d:r3", "Disk:d:r4" }));
    ASSERT_EQ(Globals::NewFiles.size(), 1u);
    EXPECT_EQ(Globals::NewFiles[0]->Path, "Disk:d:r5");
}

TEST_F(CompareDataTest, EndsThroughAnException_TheRecordsNotReachedGoBackForTheNextComparison)
{
    for (const char *name : { "r1", "r2", "r3" })
        InsertRow(std::string("Disk:d:") + name, name, kA, false);
    Globals::NewFiles
        = { Record("Disk:d:r1", kA), Record("Disk:d:r2", kX), Record("Disk:d:r3", kX) };
    Globals::g_winAlert = nullptr; // the warning for r2 finds no window

    StartComparison(m_scan);
    ASSERT_TRUE(WaitForThreads());

    EXPECT_EQ(m_dialogs->Messages(),
        std::vector<std::string> { "An exception of class NilObjectException was not handled." });
    // r1 and r2 were looked up; r3 was not reached.
    ASSERT_EQ(Globals::NewFiles.size(), 1u);
    EXPECT_EQ(Globals::NewFiles[0]->Path, "Disk:d:r3");
}

TEST_F(CompareDataTest, ScanWithOneCatalogueRecordAndAChangedFile_Warns)
{
    Write("only.txt", "first contents");
    StartScan(Root());
    ASSERT_TRUE(WaitForThreads());
    ASSERT_EQ(Globals::OldFiles.size(), 1u);
    const std::string before = DigestOf("only.txt");

    Write("only.txt", "first contentz");
    StartScan(Root());
    ASSERT_TRUE(WaitForThreads());

    const std::vector<std::vector<WarningRow>> expected = { { { "only.txt", PathOf("only.txt"),
        "<data>", before, DigestOf("only.txt"), PathOf("only.txt"), Rows().at(0).idx } } };
    EXPECT_EQ(ShownWarnings(), expected);
    // Compared, so taken out: the fresh snapshot does not grow scan after scan.
    EXPECT_TRUE(Globals::NewFiles.empty());
}

TEST_F(CompareDataTest, FirstScanThenARowTakesTheFileNewDigest_RescanWarnsOfNothing)
{
    // Into an empty catalogue: nothing stored to compare with.
    Write("a.txt", "first contents");
    StartScan(Root());
    ASSERT_TRUE(WaitForThreads());
    EXPECT_TRUE(Globals::NewFiles.empty());

    // The file changes and its row takes the new digest, as "Update Checksum" after a re-check
    // of the row does. A record of the first scan still waiting would now warn of a change back.
    Write("a.txt", "second contents");
    Globals::g_DB->SQLExecute("UPDATE fileinfo SET crc = '" + DigestOf("a.txt") + "';");
    Globals::g_DB->Commit();
    ASSERT_FALSE(Globals::g_DB->Error());

    StartScan(Root());
    ASSERT_TRUE(WaitForThreads());
    EXPECT_TRUE(ShownWarnings().empty());
    EXPECT_EQ(Rows().at(0).crc, DigestOf("a.txt"));
}

} // namespace
