#include "forks.h"
#include "scanfixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace platform;
using scantest::AppleDouble;
using scantest::BuildFork;
using scantest::Row;
using scantest::ScanFixture;
using scantest::StatusWrite;

namespace {

/// A write of both status lines.
StatusWrite Lines(const std::string &text1, const std::string &text2)
{
    return { text1, text2, {}, {} };
}
/// A write of the first status line alone.
StatusWrite Line1(const std::string &text1) { return { text1, {}, {}, {} }; }

class WalkTest : public ScanFixture
{
protected:
    /// Scans `root` with a probe beside it and waits until every thread has ended; returns the
    /// walk's status writes. The comparison that follows a walk with records (its first texts
    /// replace "Complete" within the same turn) is cut off, and the records are kept in
    /// m_records, as the comparison takes them out of NewFiles.
    std::vector<StatusWrite> ScanAndTrace(const std::string &root)
    {
        const Ref<Loadthread> scan = StartScan(root);
        const auto probe = Probe(scan);
        EXPECT_TRUE(WaitForThreads());
        m_scan = scan;
        m_records = probe->records;
        std::vector<StatusWrite> walk = probe->writes;
        const auto comparing = std::find_if(walk.begin(), walk.end(),
            [](const StatusWrite &w) { return w.text1 == "Comparing Data...."; });
        // Every record is compared, even with nothing stored: none is left in NewFiles.
        EXPECT_EQ(comparing != walk.end(), !m_records.empty());
        walk.erase(comparing, walk.end());
        EXPECT_TRUE(Globals::NewFiles.empty());
        return walk;
    }

    /// The paths of the walk's records, in order.
    std::vector<std::string> NewPaths() const
    {
        std::vector<std::string> paths;
        for (const auto &r : m_records)
            paths.push_back(r->Path);
        return paths;
    }

    using NameAndCount = std::pair<std::string, int64_t>;
    /// Each row's name and referenceidx, in idx order.
    static std::vector<NameAndCount> NamesAndCounts()
    {
        std::vector<NameAndCount> out;
        for (const Row &row : Rows())
            out.emplace_back(row.name, row.referenceidx);
        return out;
    }

    Ref<Loadthread> m_scan;
    std::vector<Ref<TheNewFiles>> m_records;
};

TEST_F(WalkTest, ThreeFilesAndASubfolderOfTwo_FiveRowsAndRecordsCountedInVisitingOrder)
{
    for (const char *name : { "1.txt", "m/x.txt", "m/y.txt", "n.txt", "z.txt" })
        Write(name, std::string("contents of ") + name);
    App_().SetMouseCursor(Application::MouseCursor::Wait);

    const std::vector<StatusWrite> trace = ScanAndTrace(Root());

    // Depth first: the subfolder's files before the root's later ones.
    const std::vector<std::string> visited = { "1.txt", "m/x.txt", "m/y.txt", "n.txt", "z.txt" };
    const std::vector<StatusWrite> expected = {
        Lines(PathOf("1.txt"), "Scanning file 1"),
        Lines(PathOf("m/x.txt"), "Scanning file 2"),
        Lines(PathOf("m/y.txt"), "Scanning file 3"),
        Line1(PathOf("m")),
        Lines(PathOf("n.txt"), "Scanning file 4"),
        Lines(PathOf("z.txt"), "Scanning file 5"),
    };
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(PathOf("m").back(), ':');

    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 5u);
    ASSERT_EQ(m_records.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(visited[i]);
        const std::string digest = DigestOf(visited[i]);
        EXPECT_EQ(rows[i].fullpath, PathOf(visited[i]));
        EXPECT_EQ(rows[i].referenceidx, int64_t(i));
        EXPECT_EQ(rows[i].crc, digest);
        const TheNewFiles &record = *m_records[i];
        EXPECT_EQ(record.Path, PathOf(visited[i]));
        EXPECT_EQ(record.MyID, int32_t(i));
        EXPECT_EQ(record.CRC, digest);
        EXPECT_EQ(record.name, rows[i].name);
        EXPECT_EQ(record.f->NativePath(), Root() + "/" + visited[i]);
    }
    EXPECT_EQ(m_scan->s, "z.txt");
    EXPECT_EQ(m_scan->p, PathOf(""));
    EXPECT_EQ(m_scan->iCRC, DigestOf("z.txt"));
    EXPECT_EQ(App_().CurrentMouseCursor(), Application::MouseCursor::Arrow);
    // The loader that followed the walk.
    EXPECT_EQ(lstFiles->ListCount(), 5);
    EXPECT_EQ(Globals::OldFiles.size(), 5u);
    EXPECT_TRUE(m_reports.Entries().empty());
}

TEST_F(WalkTest, FileWithAResourceForkOf3And1Resources_NoRowNoRecordAndTheCountUpBy4)
{
    Write("a.txt", "alpha");
    Write("b.rsrc", "data fork of b");
    Write("._b.rsrc",
        AppleDouble(BuildFork({ { "TEXT", { { 1, "one" }, { 2, "two" }, { 3, "three" } } },
            { "ICON", { { 128, "icon" } } } })));
    Write("c.txt", "gamma");
    ASSERT_GT(FolderItem::FromNativePath(Root() + "/b.rsrc")->ResourceForkLength(), 0);

    const std::vector<StatusWrite> trace = ScanAndTrace(Root());

    // The forked file writes no status line.
    const std::vector<StatusWrite> expected = {
        Lines(PathOf("a.txt"), "Scanning file 1"),
        Lines(PathOf("c.txt"), "Scanning file 6"),
    };
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(NamesAndCounts(), (std::vector<NameAndCount> { { "a.txt", 0 }, { "c.txt", 5 } }));
    ASSERT_EQ(m_records.size(), 2u);
    EXPECT_EQ(m_records[0]->MyID, 0);
    EXPECT_EQ(m_records[1]->MyID, 5);
}

TEST_F(WalkTest, SkippedFileBetweenTwoDigested_StatusLinesRepeatTheFirstAndItsCount)
{
    Write("a.txt", "alpha");
    Write("b.plist", "skipped by name");
    Write("c.txt", "gamma");

    const std::vector<StatusWrite> trace = ScanAndTrace(Root());

    const std::vector<StatusWrite> expected = {
        Lines(PathOf("a.txt"), "Scanning file 1"),
        Lines(PathOf("a.txt"), "Scanning file 1"),
        Lines(PathOf("c.txt"), "Scanning file 2"),
    };
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(NamesAndCounts(), (std::vector<NameAndCount> { { "a.txt", 0 }, { "c.txt", 1 } }));
}

TEST_F(WalkTest, TrashesAndVolumes_FilesDirectlyInsideSkippedOneLevelDeeperDigested)
{
    for (const char *name : { ".Trashes/f.txt", ".Trashes/inner/g.txt", "Volumes/h.txt",
             "Volumes/x/i.txt", "plain.txt" })
        Write(name, name);
    struct Case
    {
        const char *root;
        std::vector<std::string> digested;
    };
    const Case cases[] = {
        { "", { ".Trashes/inner/g.txt", "Volumes/x/i.txt", "plain.txt" } },
        { "Volumes", { "Volumes/x/i.txt" } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("root ") + c.root);
        ScanAndTrace(Root() + "/" + c.root);
        std::vector<std::string> expected;
        for (const std::string &name : c.digested)
            expected.push_back(PathOf(name));
        EXPECT_EQ(NewPaths(), expected);
    }
}

TEST_F(WalkTest, EmptyRootOrRootThatIsAFile_NothingDigestedAndTheWalkEndsAsUsual)
{
    Write("a file.txt", "not a folder");
    std::filesystem::create_directory(Root() + "/empty");
    for (const char *root : { "empty", "a file.txt" }) {
        SCOPED_TRACE(root);
        App_().SetMouseCursor(Application::MouseCursor::Wait);
        const std::vector<StatusWrite> trace = ScanAndTrace(Root() + "/" + root);
        EXPECT_EQ(trace, std::vector<StatusWrite> { Lines("Complete", "Processed 0 files.") });
        EXPECT_TRUE(Rows().empty());
        EXPECT_EQ(App_().CurrentMouseCursor(), Application::MouseCursor::Arrow);
    }
}

TEST_F(WalkTest, FifoSocketLinkToItsParentAndLoopOfLinks_WalkEndsWithTheRealFilesOnly)
{
    Write("a.txt", "alpha");
    Write("d/b.txt", "beta");
    ASSERT_EQ(mkfifo((Root() + "/fifo").c_str(), 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = Root() + "/socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(symlink("..", (Root() + "/d/up").c_str()), 0);
    ASSERT_EQ(symlink(".", (Root() + "/d/here").c_str()), 0);
    ASSERT_EQ(symlink("loop2", (Root() + "/loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", (Root() + "/loop2").c_str()), 0);

    StartScan(Root());
    EXPECT_TRUE(WaitForThreads());
    close(sock);

    std::vector<std::string> paths;
    for (const Row &row : Rows())
        paths.push_back(row.fullpath);
    EXPECT_EQ(paths, (std::vector<std::string> { PathOf("a.txt"), PathOf("d/b.txt") }));
}

TEST_F(WalkTest, ScanEndsThroughAnException_ReportedAsUnhandledAndTheArrowCursorBack)
{
    // A main window without the second status line: the first file's status write fails.
    const Ref<Window> broken = MainWindowStandIn(/*withStaticText2=*/false);
    SetMainWindow(broken);
    Write("a.txt", "alpha");
    Write("b.txt", "beta");
    App_().SetMouseCursor(Application::MouseCursor::Wait);

    StartScan(Root());
    ASSERT_TRUE(WaitForThreads());

    EXPECT_EQ(m_dialogs->Messages(),
        std::vector<std::string> { "An exception of class NilObjectException was not handled." });
    EXPECT_EQ(App_().CurrentMouseCursor(), Application::MouseCursor::Arrow);
    // What the walk did before the fault stays; the end-of-walk steps did not run.
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Globals::NewFiles.size(), 1u);
    EXPECT_EQ(broken->Control<StaticText>("StaticText1")->Text(), PathOf("a.txt"));
}

} // namespace
