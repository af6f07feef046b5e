#include "scanfixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace platform;
using platform::testing::LambdaThread;
using scantest::Row;
using scantest::ScanFixture;

namespace {

class ConcurrencyTest : public ScanFixture
{
protected:
    /// Scans Root() once and waits, so that the catalogue and the stored snapshot hold the tree.
    void Baseline()
    {
        StartScan(Root());
        ASSERT_TRUE(WaitForThreads());
        ASSERT_EQ(Globals::OldFiles.size(), Rows().size());
    }

    /// Once every thread has ended: one row per path, and the list and the stored snapshot hold
    /// exactly one entry per row.
    void ExpectConsistent()
    {
        std::multiset<std::string> stored;
        for (const Row &row : Rows())
            stored.insert(row.fullpath);
        EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()).size(), stored.size())
            << "a path has two rows";
        std::multiset<std::string> listed, snapshot;
        for (int r = 0; r < lstFiles->ListCount(); ++r)
            listed.insert(lstFiles->RowTag(r).As<std::string>());
        for (const auto &record : Globals::OldFiles)
            snapshot.insert(record->Path);
        EXPECT_EQ(listed, stored);
        EXPECT_EQ(snapshot, stored);
    }

    /// The paths of the shown warnings, each window holding one row, sorted.
    static std::vector<std::string> WarnedPaths()
    {
        std::vector<std::string> paths;
        for (const auto &window : ShownWarnings()) {
            EXPECT_EQ(window.size(), 1u);
            for (const auto &row : window)
                paths.push_back(row.path);
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

TEST_F(ConcurrencyTest, TwoScansSideBySideOverOverlappingTrees_OneRowPerPathEachChangeWarnedOnce)
{
    // The wider scan walks on long after the narrower one has compared and started its reload.
    for (int i = 1; i <= 6; ++i)
        Write("a/" + std::to_string(i) + ".txt", "a" + std::to_string(i));
    for (int i = 1; i <= 30; ++i)
        Write("b/" + std::to_string(i) + ".txt", "b" + std::to_string(i));
    Baseline();
    Write("a/2.txt", "changed, and in both trees");
    Write("b/3.txt", "changed, in one tree");
    Write("a/new.txt", "new, in both trees");

    StartScan(Root());
    StartScan(Root() + "/a");
    ASSERT_TRUE(WaitForThreads());

    EXPECT_EQ(Rows().size(), 37u);
    EXPECT_EQ(WarnedPaths(), (std::vector<std::string> { PathOf("a/2.txt"), PathOf("b/3.txt") }));
    // Both scans compared: nothing is left over, unseen.
    EXPECT_TRUE(Globals::NewFiles.empty());
    ExpectConsistent();
    EXPECT_TRUE(m_reports.Entries().empty());
}

TEST_F(ConcurrencyTest, ScanStartedWhileALoaderFillsTheList_ListAndSnapshotConsistentAfterwards)
{
    for (int i = 0; i < 40; ++i)
        Write("f" + std::to_string(i) + ".txt", std::to_string(i));
    Baseline();
    Write("f7.txt", "changed");
    Write("g1.txt", "new");
    Write("g2.txt", "new too");

    New<StartThread>(/*emptyOldFiles=*/true)->Run();
    // The scan starts once the loader is in its list pass, and walks while the loader fills.
    auto starter = New<LambdaThread>([this] {
        while (StaticText1->Text().rfind("Loading Record", 0) != 0)
            Yield();
        StartScan(Root());
    });
    starter->Run();
    ASSERT_TRUE(WaitForThreads());

    EXPECT_EQ(Rows().size(), 42u);
    EXPECT_EQ(WarnedPaths(), std::vector<std::string> { PathOf("f7.txt") });
    ExpectConsistent();
}

TEST_F(ConcurrencyTest, LoaderOfANewCatalogueEndsDuringTheComparison_SnapshotNotDoubled)
{
    // A catalogue made at start-up: every walk starts a loader before it compares, and another
    // after. Here the first one has loaded everything before the comparison ends.
    App_().DBExists = false;
    for (const char *name : { "a.txt", "b.txt", "c.txt", "d.txt", "e.txt" })
        Write(name, name);
    Baseline();
    // Records no row matches make the comparison long, by turns.
    for (int i = 0; i < 60; ++i) {
        auto record = New<TheNewFiles>();
        record->Path = "Disk:nowhere:" + std::to_string(i);
        Globals::NewFiles.push_back(record);
    }

    StartScan(Root());
    // Holds the comparison at its second record by holding the catalogue, and lets go at a
    // deadline later than that of the first loader's 750 ms sleep, which began at the
    // comparison's first yield: timers fire in the order of their deadlines, so that loader is
    // awake and waiting for the catalogue by then, and loads it all while the comparison, 60
    // records long, goes on.
    auto holder = New<LambdaThread>([this] {
        while (StaticText1->Text() != "Comparing Data....")
            Yield();
        Globals::g_DB->SQLExecute("BEGIN TRANSACTION;");
        CurrentThread()->Sleep(1000);
        Globals::g_DB->Commit();
    });
    holder->Run();
    ASSERT_TRUE(WaitForThreads());

    EXPECT_EQ(Rows().size(), 5u);
    ExpectConsistent();
}

} // namespace
