#include "platform/filelist.h"

#include <algorithm>
#include <fcntl.h>
#include <optional>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <ctime>
#include <unistd.h>

#include "platform/application.h"
#include "platform/folderitem.h"
#include "platform/thread.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

using platform::FileListMBS;
using platform::FolderItem;
using platform::Ref;
using platform::testing::RunAsUnprivilegedUser;
using platform::testing::TempFolder;
using platform::testing::WriteFile;

namespace {

void MakeFolder(const std::string &path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

void MakeLink(const std::string &target, const std::string &link)
{
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
}

std::string AppleDoubleHeader()
{
    // Magic, version, filler, no entries.
    return std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8) + std::string(16, ' ')
        + std::string(2, '\0');
}

std::vector<std::string> Names(const FileListMBS &list)
{
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i)
        names.push_back(list.Name(i));
    return names;
}

Ref<FolderItem> Item(const std::string &path) { return FolderItem::FromNativePath(path); }

// The folder of the test: files, folders, a link to a folder, a FIFO, a socket, a sidecar
// "._x" beside "x" and an orphan "._y".
class FileListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteFile(m_folder / "x", "x data");
        WriteFile(m_folder / "._x", AppleDoubleHeader());
        WriteFile(m_folder / "._y", AppleDoubleHeader());
        WriteFile(m_folder / "B", "capital");
        WriteFile(m_folder / "a", "small");
        WriteFile(m_folder / "\xc3\xa9t\xc3\xa9", "accented");
        MakeFolder(m_folder / "sub");
        WriteFile(m_folder / "sub/inner", "");
        MakeFolder(m_folder / "Sub2");
        MakeLink("sub", m_folder / "link-to-sub");
        ASSERT_EQ(mkfifo((m_folder / "fifo").c_str(), 0644), 0);
        MakeSocket(m_folder / "socket");
    }

    void MakeSocket(const std::string &path)
    {
        m_socket = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(m_socket, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        ASSERT_LT(path.size(), sizeof address.sun_path);
        path.copy(address.sun_path, path.size());
        ASSERT_EQ(bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    }

    void TearDown() override
    {
        if (m_socket >= 0)
            close(m_socket);
    }

    TempFolder m_folder;
    int m_socket = -1;
};

TEST_F(FileListTest, Listing_MixedFolder_SortedByteOrderWithoutSpecialFilesOrSidecar)
{
    const FileListMBS list(Item(m_folder.Path()));
    const std::vector<std::string> expected
        = { "._y", "B", "Sub2", "a", "link-to-sub", "sub", "x", "\xc3\xa9t\xc3\xa9" };
    EXPECT_EQ(Names(list), expected);
}

TEST_F(FileListTest, Directory_TrueOnlyForRealFolders)
{
    const FileListMBS list(Item(m_folder.Path()));
    for (int i = 0; i < list.Count(); ++i) {
        SCOPED_TRACE(list.Name(i));
        const bool folder = list.Name(i) == "sub" || list.Name(i) == "Sub2";
        EXPECT_EQ(list.Directory(i), folder);
    }
}

TEST_F(FileListTest, Items_LinkEntry_TrueItemIsTheLinkItemIsTheTarget)
{
    const FileListMBS list(Item(m_folder.Path()));
    const std::vector<std::string> names = Names(list);
    const int link = int(std::find(names.begin(), names.end(), "link-to-sub") - names.begin());
    const int file = int(std::find(names.begin(), names.end(), "a") - names.begin());
    ASSERT_LT(link, list.Count());

    EXPECT_EQ(list.TrueItem(link)->NativePath(), m_folder / "link-to-sub");
    EXPECT_TRUE(list.TrueItem(link)->Alias());
    char *real = realpath((m_folder / "sub").c_str(), nullptr);
    ASSERT_TRUE(real);
    EXPECT_EQ(list.Item(link)->NativePath(), real);
    std::free(real);
    EXPECT_FALSE(list.Item(link)->Alias());
    EXPECT_TRUE(list.Item(link)->Directory());

    EXPECT_EQ(list.TrueItem(file)->NativePath(), m_folder / "a");
    EXPECT_EQ(list.Item(file)->NativePath(), m_folder / "a");
}

TEST_F(FileListTest, Index_OutOfRange_RaisesOutOfBounds)
{
    const FileListMBS list(Item(m_folder.Path()));
    for (int i : { -1, list.Count(), list.Count() + 100 }) {
        SCOPED_TRACE(i);
        EXPECT_THROW(list.Directory(i), platform::OutOfBoundsException);
        EXPECT_THROW(list.Name(i), platform::OutOfBoundsException);
        EXPECT_THROW(list.Item(i), platform::OutOfBoundsException);
        EXPECT_THROW(list.TrueItem(i), platform::OutOfBoundsException);
    }
}

TEST_F(FileListTest, Listing_ReadOnce_LaterChangesNotSeen)
{
    const FileListMBS list(Item(m_folder.Path()));
    const int count = list.Count();
    WriteFile(m_folder / "late", "");
    EXPECT_EQ(list.Count(), count);
}

TEST(FileList, Name_ColonInLinuxName_IsTheColonFormLikeFolderItem)
{
    TempFolder folder;
    WriteFile(folder / "a:b", "");
    const FileListMBS list(Item(folder.Path()));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Name(0), "a/b");
    EXPECT_EQ(list.Name(0), list.TrueItem(0)->Name());
    EXPECT_EQ(list.TrueItem(0)->DisplayName(), "a:b");
}

struct SidecarCase
{
    const char *name;
    std::function<void(const TempFolder &)> make;
    std::vector<std::string> expected;
};

void PrintTo(const SidecarCase &c, std::ostream *os) { *os << c.name; }

class FileListSidecar : public ::testing::TestWithParam<SidecarCase>
{
};

TEST_P(FileListSidecar, Listing_ShowsOnlyWhatIsNoSidecar)
{
    TempFolder folder;
    GetParam().make(folder);
    EXPECT_EQ(Names(FileListMBS(Item(folder.Path()))), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(FileList, FileListSidecar,
    ::testing::Values(SidecarCase { "BesideAFile",
                          [](const TempFolder &f) {
                              WriteFile(f / "x", "");
                              WriteFile(f / "._x", AppleDoubleHeader());
                          },
                          { "x" } },
        SidecarCase { "BesideAFolder",
            [](const TempFolder &f) {
                MakeFolder(f / "d");
                WriteFile(f / "._d", AppleDoubleHeader());
            },
            { "d" } },
        SidecarCase { "Orphan",
            [](const TempFolder &f) { WriteFile(f / "._y", AppleDoubleHeader()); }, { "._y" } },
        SidecarCase { "NotAppleDouble",
            [](const TempFolder &f) {
                WriteFile(f / "x", "");
                WriteFile(f / "._x", "my own notes");
            },
            { "._x", "x" } },
        SidecarCase { "AFolderCalledLikeASidecar",
            [](const TempFolder &f) {
                WriteFile(f / "x", "");
                MakeFolder(f / "._x");
            },
            { "._x", "x" } },
        SidecarCase { "BareDotUnderscore",
            [](const TempFolder &f) { WriteFile(f / "._", AppleDoubleHeader()); }, { "._" } }),
    [](const ::testing::TestParamInfo<SidecarCase> &info) { return info.param.name; });

// A walk that enters what the listing calls a folder; links never are, so a loop of links (and
// a link back up the tree) ends.
int CountFoldersWalked(const Ref<FolderItem> &folder, int budget)
{
    if (budget <= 0)
        return 1000000;
    const FileListMBS list(folder);
    int walked = 1;
    for (int i = 0; i < list.Count(); ++i)
        if (list.Directory(i))
            walked += CountFoldersWalked(list.TrueItem(i), budget - walked);
    return walked;
}

TEST(FileList, LinkLoops_AreListedAsNonFoldersAndNotEntered)
{
    TempFolder folder;
    MakeFolder(folder / "d");
    MakeLink("../d", folder / "d/up");
    MakeLink("loop2", folder / "loop1");
    MakeLink("loop1", folder / "loop2");
    MakeLink("self", folder / "self");
    MakeLink("missing", folder / "dangling");

    const FileListMBS list(Item(folder.Path()));
    EXPECT_EQ(
        Names(list), (std::vector<std::string> { "d", "dangling", "loop1", "loop2", "self" }));
    for (int i = 0; i < list.Count(); ++i) {
        SCOPED_TRACE(list.Name(i));
        EXPECT_EQ(list.Directory(i), list.Name(i) == "d");
        // Following a loop ends at the link's immediate target.
        EXPECT_TRUE(list.Item(i));
    }
    EXPECT_EQ(list.Item(2)->NativePath(), folder / "loop2");
    EXPECT_EQ(list.Item(1)->NativePath(), folder / "missing");
    EXPECT_EQ(CountFoldersWalked(Item(folder.Path()), 100), 2);
}

TEST(FileList, FolderThatCannotBeListed_GivesNoEntries)
{
    TempFolder folder;
    WriteFile(folder / "file", "");
    MakeLink("file", folder / "link");
    for (const char *name : { "missing", "file", "link" }) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FileListMBS(Item(folder / name)).Count(), 0);
    }
}

TEST(FileList, UnreadableFolder_GivesNoEntries)
{
    TempFolder folder;
    MakeFolder(folder / "locked");
    WriteFile(folder / "locked/inside", "");
    ASSERT_EQ(chmod((folder / "locked").c_str(), 0), 0);
    RunAsUnprivilegedUser(
        folder, [&] { EXPECT_EQ(FileListMBS(Item(folder / "locked")).Count(), 0); });
}

TEST(FileList, NilFolder_RaisesNilObject)
{
    EXPECT_THROW(FileListMBS(Ref<FolderItem>()), platform::NilObjectException);
}

TEST(FileList, LinkToAFolder_ListsItsTargetUnderTheLinkPath)
{
    TempFolder folder;
    MakeFolder(folder / "real");
    WriteFile(folder / "real/f", "");
    MakeLink("real", folder / "link");
    const FileListMBS list(Item(folder / "link"));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.TrueItem(0)->NativePath(), folder / "link/f");
}

// The kernel and memory file systems mounted in this folder, from the mount table.
std::vector<std::string> KernelMountsIn(const std::string &folder)
{
    std::ifstream in("/proc/self/mountinfo");
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        const auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 5 || dash == f.end() || dash + 1 == f.end())
            continue;
        const std::string &point = f[4], &type = *(dash + 1);
        const std::string prefix = folder == "/" ? "/" : folder + "/";
        const bool kernel = type == "proc" || type == "sysfs" || type == "tmpfs"
            || type == "devtmpfs" || type == "devpts";
        if (kernel && point.compare(0, prefix.size(), prefix) == 0
            && point.find('/', prefix.size()) == std::string::npos && point.size() > prefix.size())
            names.push_back(point.substr(prefix.size()));
    }
    return names;
}

TEST(FileList, KernelFileSystemMountPoints_AreNotListed)
{
    int checked = 0;
    for (const char *folder : { "/", "/dev", "/sys", "/sys/fs" }) {
        SCOPED_TRACE(folder);
        const std::vector<std::string> hidden = KernelMountsIn(folder);
        const std::vector<std::string> names = Names(FileListMBS(Item(folder)));
        for (const std::string &name : hidden) {
            SCOPED_TRACE(name);
            EXPECT_EQ(std::count(names.begin(), names.end(), name), 0);
            ++checked;
        }
    }
    if (checked == 0)
        GTEST_SKIP() << "no kernel file system is mounted on this machine where the test looks";
    // The ordinary folders beside them are there.
    const std::vector<std::string> root = Names(FileListMBS(Item("/")));
    EXPECT_EQ(std::count(root.begin(), root.end(), "etc"), 1);
}

// A listed item reads its status once for each turn its thread is given: what it read holds while
// no other code runs, is read again once the thread has let other code run, and is dropped when
// the item deletes its file. Outside a thread it reads afresh each time.
TEST(FileList, ListedItem_ReadsItsStatusOncePerTurnOfItsThread)
{
    TempFolder tmp;
    WriteFile(tmp / "f", "data");
    const FileListMBS list(Item(tmp.Path()));
    ASSERT_EQ(list.Count(), 1);

    std::vector<bool> seen;
    bool sameItem = false;
    Ref<FolderItem> kept;
    auto thread = std::make_shared<platform::testing::LambdaThread>([&] {
        const Ref<FolderItem> f = list.TrueItem(0);
        kept = f;
        seen.push_back(f->Exists());
        ::unlink((tmp / "f").c_str());
        seen.push_back(f->Exists() && !f->Alias() && !f->Directory()); // as read
        sameItem = list.Item(0) == f;
        platform::Scheduler::EndSlice();
        platform::Yield();
        seen.push_back(f->Exists()); // read again
        WriteFile(tmp / "f", "data");
        platform::Scheduler::EndSlice();
        platform::Yield();
        seen.push_back(f->Exists());
        seen.push_back(f->Delete());
        seen.push_back(f->Exists());
    });
    thread->Run();
    ASSERT_TRUE(platform::ProcessEventsUntil(
        [&] { return platform::Scheduler::LiveCount() == 0; }, 10'000));
    EXPECT_EQ(seen, (std::vector<bool> { true, true, false, true, true, false }));
    EXPECT_TRUE(sameItem);

    WriteFile(tmp / "f", "data");
    const Ref<FolderItem> outside = list.TrueItem(0);
    EXPECT_TRUE(outside->Exists());
    ::unlink((tmp / "f").c_str());
    EXPECT_FALSE(outside->Exists());

    // Once the listing has made its next item, an item kept from it is a plain one.
    WriteFile(tmp / "f", "data");
    auto later = std::make_shared<platform::testing::LambdaThread>([&] {
        seen.assign({ kept->Exists() });
        ::unlink((tmp / "f").c_str());
        seen.push_back(kept->Exists());
    });
    later->Run();
    ASSERT_TRUE(platform::ProcessEventsUntil(
        [&] { return platform::Scheduler::LiveCount() == 0; }, 10'000));
    EXPECT_EQ(seen, (std::vector<bool> { true, false }));
}

// --- work done ahead ---------------------------------------------------------------------------

std::mutex g_workedMutex;
std::set<std::string> g_worked; // the names of the files the work was done on

std::string NameAndBytes(FileListMBS::AheadFile &file)
{
    std::string bytes(64, '\0');
    bytes.resize(file.ReadInto(bytes.data(), bytes.size()));
    const std::lock_guard lock(g_workedMutex);
    g_worked.insert(file.DisplayName());
    return file.DisplayName() + ":" + bytes;
}

std::set<std::string> Worked()
{
    const std::lock_guard lock(g_workedMutex);
    return g_worked;
}

void ForgetWorked()
{
    const std::lock_guard lock(g_workedMutex);
    g_worked.clear();
}

// Work done ahead is used only for the file as it stands when the walk reaches it: not for a
// file rewritten, replaced or cut after the work, not for a link, a folder, a file over the size
// or a FIFO swapped in (which must not hold a worker up either).
TEST(FileList, WorkAhead_UsedOnlyForTheFileAsItIsNow)
{
    TempFolder tmp;
    WriteFile(tmp / "a", "alpha");
    WriteFile(tmp / "b", "bravo");
    WriteFile(tmp / "big", std::string(17, 'x'));
    MakeLink(tmp / "a", tmp / "c");
    MakeFolder(tmp / "d");
    WriteFile(tmp / "e", "echo");
    WriteFile(tmp / "fifo", "");
    WriteFile(tmp / "g", "golf");
    WriteFile(tmp / "h", "hotel");
    FileListMBS list(Item(tmp.Path()));
    ASSERT_EQ(list.Count(), 9);
    ASSERT_EQ(::unlink((tmp / "fifo").c_str()), 0);
    ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0644), 0);

    ForgetWorked();
    list.WorkAhead(&NameAndBytes, 16, 0);
    const std::set<std::string> all { "a", "b", "e", "g", "h" };
    ASSERT_TRUE(platform::ProcessEventsUntil([&] { return Worked() == all; }, 10'000));

    WriteFile(tmp / "e", "ECHO"); // same size; a time of its own, as a later write would have
    const timespec later[2] = { { 0, UTIME_OMIT }, { time(nullptr) + 5, 0 } };
    ASSERT_EQ(utimensat(AT_FDCWD, (tmp / "e").c_str(), later, 0), 0);
    ASSERT_EQ(::unlink((tmp / "g").c_str()), 0);
    WriteFile(tmp / "g", "GOLF");
    ASSERT_EQ(truncate((tmp / "h").c_str(), 2), 0);

    std::vector<std::string> results;
    for (int i = 0; i < list.Count(); ++i) {
        list.TrueItem(i);
        results.push_back(list.Name(i) + "=" + list.WorkedAhead(i).value_or("-"));
    }
    EXPECT_EQ(results,
        (std::vector<std::string> {
            "a=a:alpha", "b=b:bravo", "big=-", "c=-", "d=-", "e=-", "fifo=-", "g=-", "h=-" }));
}

// The work keeps a window ahead of the entry asked for, through a folder many windows long, and
// a listing that ends with work still queued or under way leaves the workers nothing to trip on.
TEST(FileList, WorkAhead_MovesOnThroughALongFolderAndStopsWithItsListing)
{
    TempFolder tmp;
    constexpr int kFiles = 700;
    for (int i = 0; i < kFiles; ++i)
        WriteFile(tmp / ("f" + std::to_string(1000 + i)), std::to_string(i));
    ForgetWorked();
    {
        FileListMBS list(Item(tmp.Path()));
        list.WorkAhead(&NameAndBytes, 16, 0);
        for (int i = 0; i < list.Count(); ++i) {
            list.TrueItem(i);
            const std::string name = "f" + std::to_string(1000 + i);
            // Now and then the walk lets the workers get to the entry it comes to next: far
            // past the first window, so the window must have moved on for that entry to be in it.
            const bool waited = i % 100 == 1;
            if (waited) {
                ASSERT_TRUE(platform::ProcessEventsUntil(
                    [&] { return Worked().count(name) == 1; }, 10'000))
                    << name;
            }
            const std::optional<std::string> result = list.WorkedAhead(i);
            const std::string expected = name + ":" + std::to_string(i);
            EXPECT_EQ(result.value_or(expected), expected);
            if (waited) {
                EXPECT_TRUE(result.has_value()) << name;
            }
        }
    }
    for (int k = 0; k < 20; ++k) {
        FileListMBS list(Item(tmp.Path()));
        list.WorkAhead(&NameAndBytes, 16, 0);
        list.TrueItem(3);
        (void)list.WorkedAhead(3);
    }
}

} // namespace
