#include "platform/folderitem.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::FolderItem;
using platform::GetFolderItem;
using platform::Ref;
using platform::testing::EnvironmentVariable;
using platform::testing::ReadFile;
using platform::testing::RunAsUnprivilegedUser;
using platform::testing::TempFolder;
using platform::testing::WriteFile;
namespace Volumes = platform::Volumes;

namespace {

void MakeFolder(const std::string &path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

void MakeLink(const std::string &target, const std::string &link)
{
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
}

// "/tmp/tlm-test-x" as the root volume shows it: "Disk:tmp:tlm-test-x".
std::string OnDisk(const std::string &posixPath)
{
    std::string colon = "Disk" + posixPath;
    std::replace(colon.begin(), colon.end(), '/', ':');
    return colon;
}

// A 2x2 picture, 24 bits a pixel, as BMP bytes: file header, info header, two padded rows.
std::string TinyBmp()
{
    std::string b;
    const auto u16 = [&](uint16_t v) {
        b += char(v & 0xFF);
        b += char(v >> 8);
    };
    const auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b += char((v >> (8 * i)) & 0xFF);
    };
    b += "BM";
    u32(70);
    u32(0);
    u32(54);
    u32(40);
    u32(2);
    u32(2);
    u16(1);
    u16(24);
    u32(0);
    u32(16);
    u32(2835);
    u32(2835);
    u32(0);
    u32(0);
    for (int row = 0; row < 2; ++row)
        b += std::string("\x00\x00\xFF\xFF\xFF\xFF\x00\x00", 8);
    return b;
}

std::string RandomBytes(std::size_t size)
{
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = char(random() & 0xFF);
    return bytes;
}

} // namespace

// A replaced mount table over real folders, so that folders are known to be folders.
class ColonPaths : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string t = m_tmp.Path();
        for (const char *folder : { "/Archive", "/Archive/sub", "/Archive/cache", "/other",
                 "/other/Archive", "/x:y", "/proc", "/app" })
            MakeFolder(t + folder);
        for (const char *file : { "/Archive/a.txt", "/Archive/sub/b.txt", "/Archive/a:b.txt",
                 "/Archive/cache/x.txt", "/other/Archive/y.txt", "/x:y/f" })
            WriteFile(t + file, "data");
        Volumes::SetMountTable({ { "/", "overlay" }, { t + "/Archive", "ext4" },
            { t + "/Archive/cache", "tmpfs" }, { t + "/other/Archive/", "ext4" },
            { t + "/x:y", "vfat" }, { t + "/proc", "proc" } });
        platform::SetApplicationFolder(t + "/app");
    }
    void TearDown() override
    {
        Volumes::SetMountTable({});
        platform::SetApplicationFolder("");
    }

    TempFolder m_tmp;
};

TEST_F(ColonPaths, PosixAndColonForms_MapBothWays)
{
    const std::string t = m_tmp.Path();
    const std::string d = OnDisk(t);
    struct Case
    {
        std::string posix;
        std::string colon;
    };
    const Case cases[] = {
        { "/", "Disk:" },
        { t, d + ":" },
        { t + "/Archive", "Archive:" },
        { t + "/Archive/a.txt", "Archive:a.txt" },
        { t + "/Archive/sub", "Archive:sub:" },
        { t + "/Archive/sub/b.txt", "Archive:sub:b.txt" },
        { t + "/Archive/a:b.txt", "Archive:a/b.txt" },
        { t + "/Archive/missing.txt", "Archive:missing.txt" },
        // A memory file system inside a volume belongs to that volume.
        { t + "/Archive/cache", "Archive:cache:" },
        { t + "/Archive/cache/x.txt", "Archive:cache:x.txt" },
        // The second mount called "Archive" is no volume.
        { t + "/other/Archive", d + ":other:Archive:" },
        { t + "/other/Archive/y.txt", d + ":other:Archive:y.txt" },
        { t + "/x:y", "x/y:" },
        { t + "/x:y/f", "x/y:f" },
        { t + "/proc/self", d + ":proc:self" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.posix);
        EXPECT_EQ(FolderItem::FromNativePath(c.posix)->AbsolutePath(), c.colon);
        const Ref<FolderItem> back = GetFolderItem(c.colon, /*mode=*/0);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->NativePath(), c.posix);
        EXPECT_EQ(back->AbsolutePath(), c.colon);
    }
}

TEST_F(ColonPaths, GetFolderItem_OtherForms_ResolveOrGiveNil)
{
    const std::string t = m_tmp.Path();
    struct Case
    {
        std::string colon;
        std::optional<std::string> posix; // nullopt: nil
    };
    const Case cases[] = {
        { "Disk:", "/" },
        { "Disk:tmp", "/tmp" },
        { "Archive:sub", t + "/Archive/sub" },
        { "x/y:f", t + "/x:y/f" },
        // Bare names belong to the application's folder; a "/" there is a ":" on disk.
        { "crcData.rsd", t + "/app/crcData.rsd" },
        { "a/b", t + "/app/a:b" },
        { "", t + "/app" },
        { "Disk", t + "/app/Disk" },
        { "Nowhere:a.txt", std::nullopt },
        { "cache:x.txt", std::nullopt },
        { "proc:self", std::nullopt },
        { ":a", std::nullopt },
        { "Archive:a::b", std::nullopt },
        { "Archive:..:x", std::nullopt },
        { "Archive:.:x", std::nullopt },
        { "disk:", std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.colon);
        const Ref<FolderItem> f = GetFolderItem(c.colon, /*mode=*/0);
        if (!c.posix) {
            EXPECT_FALSE(f);
            continue;
        }
        ASSERT_TRUE(f);
        EXPECT_EQ(f->NativePath(), *c.posix);
    }
    EXPECT_FALSE(GetFolderItem(t, /*mode=*/3));
}

TEST_F(ColonPaths, MountTableRestored_RootIsDisk)
{
    Volumes::SetMountTable({});
    EXPECT_EQ(FolderItem::FromNativePath("/")->AbsolutePath(), "Disk:");
    EXPECT_FALSE(GetFolderItem("Archive:a.txt", /*mode=*/0));
    // proc is a kernel file system, never a volume of its own.
    EXPECT_EQ(
        FolderItem::FromNativePath("/proc/self/status")->AbsolutePath(), "Disk:proc:self:status");
}

TEST(Volumes, VolumeName_LastComponentInColonForm)
{
    EXPECT_EQ(Volumes::VolumeName("/"), "Disk");
    EXPECT_EQ(Volumes::VolumeName("/media/me/Archive"), "Archive");
    EXPECT_EQ(Volumes::VolumeName("/media/me/Archive/"), "Archive");
    EXPECT_EQ(Volumes::VolumeName("/mnt/a:b"), "a/b");
}

TEST(Volumes, ParseMountInfo_DecodesEscapesAndSkipsFileMounts)
{
    TempFolder tmp;
    WriteFile(tmp / "hosts", "127.0.0.1 localhost\n");
    MakeFolder(tmp / "archive");
    const std::string text
        = "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
          "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
          "40 28 8:17 / /media/me/My\\040Disk rw,relatime shared:7 master:2 - vfat /dev/sdb1 rw\n"
          "41 28 8:18 / /mnt/back\\134slash rw - ext4 /dev/sdb2 rw\n"
        + ("42 28 254:0 /var/lib/x/hosts " + tmp / "hosts" + " rw - ext4 /dev/vda rw\n")
        + ("43 28 254:0 /home/me/archive " + tmp / "archive" + " rw - ext4 /dev/vda rw\n")
        + "garbage line\n";
    const std::vector<Volumes::Mount> mounts = Volumes::ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].fsType, "ext4");
    EXPECT_EQ(mounts[1].fsType, "proc");
    EXPECT_EQ(mounts[2].mountPoint, "/media/me/My Disk");
    EXPECT_EQ(mounts[2].fsType, "vfat");
    EXPECT_EQ(mounts[3].mountPoint, "/mnt/back\\slash");
    EXPECT_EQ(mounts[4].mountPoint, tmp / "archive");

    Volumes::SetMountTable(mounts);
    EXPECT_EQ(
        FolderItem::FromNativePath("/media/me/My Disk/a.txt")->AbsolutePath(), "My Disk:a.txt");
    EXPECT_EQ(Volumes::MountPointOf("archive"), tmp / "archive");
    EXPECT_EQ(Volumes::MountPointOf("proc"), "");
    Volumes::SetMountTable({});
}

TEST(FolderItem, NativePath_IsAbsoluteAndNormalised)
{
    char buffer[4096];
    ASSERT_TRUE(getcwd(buffer, sizeof buffer));
    const std::string cwd = buffer;
    struct Case
    {
        std::string given;
        std::string native;
    };
    const Case cases[] = {
        { "/", "/" },
        { "//", "/" },
        { "/a//b/./c/../d/", "/a/b/d" },
        { "/..", "/" },
        { "/a/..", "/" },
        { "/a/.b/..c", "/a/.b/..c" }, // names that begin with dots are names
        { "/a/b/.", "/a/b" },
        { "/a/b/..", "/a" },
        { "x/y", cwd == "/" ? "/x/y" : cwd + "/x/y" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(FolderItem::FromNativePath(c.given)->NativePath(), c.native);
    }
}

TEST(FolderItem, NameAndDisplayName_ColonFormAndLinuxName)
{
    struct Case
    {
        std::string posix;
        std::string name;
        std::string display;
    };
    const Case cases[] = {
        { "/", "Disk", "Disk" },
        { "/home/me/a.txt", "a.txt", "a.txt" },
        { "/home/me/b:c", "b/c", "b:c" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.posix);
        const Ref<FolderItem> f = FolderItem::FromNativePath(c.posix);
        EXPECT_EQ(f->Name(), c.name);
        EXPECT_EQ(f->DisplayName(), c.display);
    }
}

TEST(FolderItem, ChildAndParent_WalkTheLinuxPath)
{
    const Ref<FolderItem> root = FolderItem::FromNativePath("/");
    EXPECT_EQ(root->Child("home")->NativePath(), "/home");
    const Ref<FolderItem> me = FolderItem::FromNativePath("/home/me");
    EXPECT_EQ(me->Child("a/b")->NativePath(), "/home/me/a:b");
    EXPECT_EQ(me->Child("a:b")->NativePath(), "/home/me/a:b");
    EXPECT_EQ(me->Child("a/b")->Name(), "a/b");
    for (const char *bad : { "", ".", ".." }) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(me->Child(bad));
    }
    EXPECT_EQ(me->Parent()->NativePath(), "/home");
    EXPECT_EQ(me->Parent()->Parent()->NativePath(), "/");
    EXPECT_FALSE(root->Parent());
}

// Real entries of every kind and what the item says about each.
TEST(FolderItem, EntryKinds_ExistsAliasDirectoryLengthAndOpen)
{
    TempFolder tmp;
    WriteFile(tmp / "file", "12345");
    MakeFolder(tmp / "folder");
    MakeLink(tmp / "file", tmp / "link-to-file");
    MakeLink(tmp / "folder", tmp / "link-to-folder");
    MakeLink(tmp / "gone", tmp / "dangling");
    ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0600), 0);
    struct Case
    {
        const char *name;
        bool exists, alias, directory;
        int64_t length;
        bool opens;
        bool colonAtEnd;
    };
    const Case cases[] = {
        { "file", true, false, false, 5, true, false },
        { "folder", true, false, true, 0, false, true },
        { "link-to-file", true, true, false, 5, true, false },
        // A link reads as a file in the colon form even when it points to a folder.
        { "link-to-folder", true, true, true, 0, false, false },
        { "dangling", true, true, false, 0, false, false },
        { "missing", false, false, false, 0, false, false },
        { "fifo", true, false, false, 0, false, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Ref<FolderItem> f = FolderItem::FromNativePath(tmp / c.name);
        EXPECT_EQ(f->Exists(), c.exists);
        EXPECT_EQ(f->Alias(), c.alias);
        EXPECT_EQ(f->Directory(), c.directory);
        EXPECT_EQ(f->Length(), c.length);
        EXPECT_EQ(bool(f->OpenAsBinaryFile()), c.opens);
        EXPECT_EQ(bool(f->OpenAsTextFile()), c.opens);
        const std::string path = f->AbsolutePath();
        EXPECT_EQ(path.back() == ':', c.colonAtEnd) << path;
        EXPECT_EQ(f->ResourceForkLength(), 0);
        EXPECT_FALSE(f->OpenResourceFork());
    }
}

TEST(FolderItem, Fifo_NoOpenerBlocks)
{
    TempFolder tmp;
    const std::string fifo = tmp / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Ref<FolderItem> f = FolderItem::FromNativePath(fifo);
    const std::pair<const char *, std::function<bool()>> openers[] = {
        { "OpenAsBinaryFile", [&] { return bool(f->OpenAsBinaryFile()); } },
        { "OpenAsTextFile", [&] { return bool(f->OpenAsTextFile()); } },
        { "OpenAsPicture", [&] { return bool(f->OpenAsPicture()); } },
        { "CreateTextFile", [&] { return bool(f->CreateTextFile()); } },
    };
    for (const auto &[name, open] : openers) {
        SCOPED_TRACE(name);
        std::future<bool> opened = std::async(std::launch::async, open);
        if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            // Opening both ends releases an open that waits for the other side.
            const int release = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
            opened.wait();
            if (release >= 0)
                close(release);
            ADD_FAILURE() << "blocked on a FIFO";
            continue;
        }
        EXPECT_FALSE(opened.get());
    }
}

TEST(FolderItem, UnreadableFile_GivesNilAndLengthZero)
{
    TempFolder tmp;
    WriteFile(tmp / "secret", "12345");
    ASSERT_EQ(chmod((tmp / "secret").c_str(), 0), 0);
    RunAsUnprivilegedUser(tmp, [&] {
        const Ref<FolderItem> f = FolderItem::FromNativePath(tmp / "secret");
        EXPECT_TRUE(f->Exists());
        EXPECT_FALSE(f->OpenAsBinaryFile());
        EXPECT_FALSE(f->OpenAsTextFile());
        EXPECT_FALSE(f->OpenAsPicture());
        EXPECT_EQ(f->Length(), 0);
    });
}

TEST(FolderItem, CreateTextFile_WhereNothingCanBeWritten_GivesNil)
{
    TempFolder tmp;
    MakeFolder(tmp / "folder");
    EXPECT_FALSE(FolderItem::FromNativePath(tmp / "no-such-folder/a.txt")->CreateTextFile());
    EXPECT_FALSE(FolderItem::FromNativePath(tmp / "folder")->CreateTextFile());
    ASSERT_EQ(chmod((tmp / "folder").c_str(), 0555), 0);
    RunAsUnprivilegedUser(tmp,
        [&] { EXPECT_FALSE(FolderItem::FromNativePath(tmp / "folder/a.txt")->CreateTextFile()); });
}

TEST(TextStreams, WriteThenRead_SplitsEveryLineEnd)
{
    TempFolder tmp;
    WriteFile(tmp / "t.txt", std::string(1000, 'z')); // emptied by CreateTextFile
    const Ref<FolderItem> f = FolderItem::FromNativePath(tmp / "t.txt");
    {
        const Ref<platform::TextOutputStream> out = f->CreateTextFile();
        ASSERT_TRUE(out);
        out->Write("a");
        out->WriteLine("b");
        out->Write("c\r\nd\re\n\nf");
        EXPECT_TRUE(out->Close());
    }
    EXPECT_EQ(ReadFile(tmp / "t.txt"), "ab\nc\r\nd\re\n\nf");

    const Ref<platform::TextInputStream> in = f->OpenAsTextFile();
    ASSERT_TRUE(in);
    for (const char *line : { "ab", "c", "d", "e", "", "f" }) {
        ASSERT_FALSE(in->EOF_()) << line;
        EXPECT_EQ(in->ReadLine(), line);
    }
    EXPECT_TRUE(in->EOF_());
    EXPECT_EQ(in->ReadLine(), "");

    const Ref<platform::TextInputStream> again = f->OpenAsTextFile();
    EXPECT_EQ(again->ReadLine(), "ab");
    EXPECT_EQ(again->ReadAll(), "c\r\nd\re\n\nf");
    EXPECT_TRUE(again->EOF_());
}

TEST(TextStreams, LineEndAcrossBufferEdge_IsOneLineEnd)
{
    TempFolder tmp;
    for (std::size_t before : { 65534u, 65535u, 65536u, 200000u }) {
        SCOPED_TRACE(before);
        WriteFile(tmp / "t.txt", std::string(before, 'x') + "\r\ny\r");
        const Ref<platform::TextInputStream> in
            = FolderItem::FromNativePath(tmp / "t.txt")->OpenAsTextFile();
        ASSERT_TRUE(in);
        EXPECT_EQ(in->ReadLine(), std::string(before, 'x'));
        EXPECT_EQ(in->ReadLine(), "y");
        EXPECT_TRUE(in->EOF_());
    }
}

TEST(TextStreams, FileSizeLimitReached_CloseReturnsFalse)
{
    TempFolder tmp;
    rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Ref<platform::TextOutputStream> out
        = FolderItem::FromNativePath(tmp / "big.txt")->CreateTextFile();
    bool closed = true;
    if (out) {
        out->Write(std::string(5000, 'x'));
        closed = out->Close();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(out);
    EXPECT_FALSE(closed);
}

TEST(BinaryStream, ReadInPieces_EqualsWholeFile)
{
    TempFolder tmp;
    const std::string bytes = RandomBytes((3 << 20) + 123);
    WriteFile(tmp / "data.bin", bytes);
    const Ref<FolderItem> f = FolderItem::FromNativePath(tmp / "data.bin");

    const Ref<platform::BinaryStream> in = f->OpenAsBinaryFile();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->Length(), int64_t(bytes.size()));
    std::string whole;
    std::vector<char> piece(1 << 20);
    while (!in->EOF_()) {
        const std::size_t n = in->ReadInto(piece.data(), piece.size());
        ASSERT_GT(n, 0u);
        whole.append(piece.data(), n);
        EXPECT_EQ(in->Position(), int64_t(whole.size()));
    }
    EXPECT_EQ(whole, bytes);
    EXPECT_EQ(in->ReadInto(piece.data(), piece.size()), 0u);
    EXPECT_FALSE(in->ReadError());

    in->SetPosition(7);
    EXPECT_FALSE(in->EOF_());
    EXPECT_EQ(in->Position(), 7);
    EXPECT_EQ(in->Read(1000), bytes.substr(7, 1000));
    in->SetPosition(int64_t(bytes.size()) - 10);
    EXPECT_EQ(in->Read(1 << 30), bytes.substr(bytes.size() - 10));
    EXPECT_TRUE(in->EOF_());

    in->Close();
    EXPECT_TRUE(in->EOF_());
    EXPECT_EQ(in->Read(10), "");
}

// A read that comes up short at the size the file had when opened is the end; one that comes up
// short before it (the file was cut meanwhile) reads on, and a file grown meanwhile is read whole.
TEST(BinaryStream, FileCutOrGrownAfterOpen_ReadsWhatIsThere)
{
    TempFolder tmp;
    const std::string bytes = RandomBytes(10000);
    std::vector<char> piece(1 << 16);
    for (const std::size_t now : { std::size_t(4000), std::size_t(10000), std::size_t(25000) }) {
        SCOPED_TRACE(now);
        WriteFile(tmp / "f", bytes);
        const Ref<platform::BinaryStream> in
            = FolderItem::FromNativePath(tmp / "f")->OpenAsBinaryFile();
        ASSERT_TRUE(in);
        const std::string content = now <= bytes.size() ? bytes.substr(0, now)
                                                         : bytes + std::string(now - bytes.size(), 'g');
        WriteFile(tmp / "f", content); // the same file, rewritten in place
        EXPECT_EQ(in->ReadInto(piece.data(), piece.size()), now);
        EXPECT_EQ(std::string(piece.data(), now), content);
        EXPECT_TRUE(in->EOF_());
        EXPECT_EQ(in->ReadInto(piece.data(), piece.size()), 0u);
        EXPECT_FALSE(in->ReadError());
    }
}

TEST(BinaryStream, EmptyFile_IsAtEndAtOnce)
{
    TempFolder tmp;
    WriteFile(tmp / "empty", "");
    const Ref<platform::BinaryStream> in
        = FolderItem::FromNativePath(tmp / "empty")->OpenAsBinaryFile();
    ASSERT_TRUE(in);
    EXPECT_TRUE(in->EOF_());
    EXPECT_EQ(in->Length(), 0);
    EXPECT_EQ(in->Read(10), "");
}

TEST(FolderItem, Dates_FromTheFileSystem)
{
    TempFolder tmp;
    WriteFile(tmp / "f", "x");
    const timespec times[2] = { { 1500000000, 0 }, { 1500000000, 0 } };
    ASSERT_EQ(utimensat(AT_FDCWD, (tmp / "f").c_str(), times, 0), 0);
    const Ref<FolderItem> f = FolderItem::FromNativePath(tmp / "f");
    EXPECT_EQ(f->ModificationDate().UnixSeconds(), 1500000000);
    // The birth time where recorded (now), else the earlier of change and modification time.
    const int64_t created = f->CreationDate().UnixSeconds();
    EXPECT_GE(created, 1500000000);
    EXPECT_LE(created, int64_t(std::time(nullptr)) + 1);

    const Ref<FolderItem> missing = FolderItem::FromNativePath(tmp / "missing");
    EXPECT_EQ(missing->ModificationDate().UnixSeconds(), 0);
    EXPECT_EQ(missing->CreationDate().UnixSeconds(), 0);
}

TEST(FolderItem, Delete_RemovesFilesLinksAndEmptyFolders)
{
    TempFolder tmp;
    WriteFile(tmp / "file", "x");
    MakeFolder(tmp / "empty");
    MakeFolder(tmp / "full");
    WriteFile(tmp / "full/inside", "x");
    MakeLink(tmp / "full", tmp / "link");
    struct Case
    {
        const char *name;
        bool deleted;
    };
    for (const Case &c : { Case { "file", true }, Case { "empty", true }, Case { "full", false },
             Case { "link", true }, Case { "missing", false } }) {
        SCOPED_TRACE(c.name);
        const Ref<FolderItem> f = FolderItem::FromNativePath(tmp / c.name);
        EXPECT_EQ(f->Delete(), c.deleted);
        EXPECT_EQ(f->Exists(), !c.deleted && std::string(c.name) != "missing");
    }
    EXPECT_TRUE(FolderItem::FromNativePath(tmp / "full/inside")->Exists());
}

TEST(FolderItem, OpenAsPicture_ReadsBmpAndRefusesTheRest)
{
    TempFolder tmp;
    WriteFile(tmp / "p.bmp", TinyBmp());
    WriteFile(tmp / "bmp-named.txt", TinyBmp());
    WriteFile(tmp / "not.bmp", "this is no picture\n");
    MakeFolder(tmp / "folder.bmp");
    for (const char *name : { "p.bmp", "bmp-named.txt" }) {
        SCOPED_TRACE(name);
        const Ref<platform::Picture> p = FolderItem::FromNativePath(tmp / name)->OpenAsPicture();
        ASSERT_TRUE(p);
        EXPECT_EQ(p->Width(), 2);
        EXPECT_EQ(p->Height(), 2);
    }
    for (const char *name : { "not.bmp", "folder.bmp", "missing.bmp" }) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(FolderItem::FromNativePath(tmp / name)->OpenAsPicture());
    }
}

TEST(ApplicationFolder, HoldsTheExecutableUnlessReplaced)
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    const std::string exePath(exe, std::size_t(n));
    const std::string folder = exePath.substr(0, exePath.rfind('/'));
    EXPECT_EQ(platform::ApplicationFolder()->NativePath(), folder);

    platform::SetApplicationFolder("/somewhere/else/");
    EXPECT_EQ(platform::ApplicationFolder()->NativePath(), "/somewhere/else");
    platform::SetApplicationFolder("");
    EXPECT_EQ(platform::ApplicationFolder()->NativePath(), folder);
}

TEST(SpecialFolder, Preferences_XdgConfigHomeOrDotConfig_NilWhenNotAFolder)
{
    TempFolder tmp;
    std::filesystem::create_directories(tmp / "home/.config");
    std::filesystem::create_directories(tmp / "srv/config");
    WriteFile(tmp / "plain", "not a folder");
    const std::string home = tmp / "home";
    const std::string srv = tmp / "srv/config";
    const std::string missing = tmp / "missing";
    const std::string plain = tmp / "plain";
    struct Case
    {
        const char *configHome;
        std::string expected; // "": nil
    };
    const EnvironmentVariable homeVariable("HOME", home.c_str());
    for (const Case &c : { Case { srv.c_str(), srv }, Case { "relative/config", home + "/.config" },
             Case { nullptr, home + "/.config" }, Case { missing.c_str(), "" },
             Case { plain.c_str(), "" } }) {
        SCOPED_TRACE(c.configHome ? c.configHome : "(unset)");
        const EnvironmentVariable config("XDG_CONFIG_HOME", c.configHome);
        const auto folder = platform::SpecialFolder::Preferences();
        if (c.expected.empty()) {
            EXPECT_FALSE(folder);
            continue;
        }
        ASSERT_TRUE(folder);
        EXPECT_EQ(folder->NativePath(), c.expected);
    }
}

TEST(SpecialFolder, Documents_UserDirsOrHomeDocuments)
{
    TempFolder tmp;
    const EnvironmentVariable home("HOME", "/home/tester");
    const EnvironmentVariable config("XDG_CONFIG_HOME", tmp.Path().c_str());
    struct Case
    {
        const char *userDirs; // nullptr: no file
        const char *expected;
    };
    const Case cases[] = {
        { nullptr, "/home/tester/Documents" },
        { "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
          "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
            "/home/tester/Dokumente" },
        { "XDG_DOCUMENTS_DIR=\"/data/My Papers\"\n", "/data/My Papers" },
        { "XDG_DOCUMENTS_DIR=$HOME/unquoted\n", "/home/tester/Documents" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        unlink((tmp / "user-dirs.dirs").c_str());
        if (c.userDirs)
            WriteFile(tmp / "user-dirs.dirs", c.userDirs);
        EXPECT_EQ(platform::SpecialFolder::Documents()->NativePath(), c.expected);
    }
}
