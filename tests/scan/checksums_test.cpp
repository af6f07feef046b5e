#include "forks.h"
#include "scantest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "platform/application.h"
#include "platform/crypto.h"
#include "platform/folderitem.h"
#include "platform/resourcefork.h"
#include "platform/thread.h"
#include "tests/support/testsupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using platform::testing::RunAsUnprivilegedUser;
using platform::testing::TempFolder;
using platform::testing::WriteFile;
using scantest::AppleDouble;
using scantest::BuildFork;
using scantest::ForkType;
using scantest::LargeAllocationProbe;
using scantest::Reports;
using scantest::ScanThread;

namespace {

constexpr std::size_t kPiece = 1 << 20;

std::string HexOf(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

/// HMAC-SHA-256 of `data` under `key` in one Update, as 64 hex digits.
std::string OneShotDigest(const std::string &key, const std::string &data)
{
    HMAC_SHA_256 mac;
    mac.Constructor(key);
    mac.Update(data);
    return HexOf(mac.Final());
}

/// Bytes of every value, from a fixed linear congruential sequence.
std::string Noise(std::size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    for (auto &c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return out;
}

bool IsDigestText(const std::string &s) { return std::regex_match(s, std::regex("[0-9A-F]{64}")); }

// --- the data-fork digest -----------------------------------------------------------------------

TEST(Checksums, SHA_KnownFiles_DigestOfContentsUnderDisplayName)
{
    // Worked out independently (Python's hmac module) from the names and contents below.
    struct Case
    {
        const char *what;
        std::string name;
        std::string contents;
        std::string digest;
    };
    const Case cases[] = {
        { "text", "hello.txt", "Hello, world!\n",
            "6AC0D509CA16BF51D3933568B5C40C5A818012F449AD665D51E70D750D3CB92B" },
        { "empty file: the HMAC of the empty message", "empty.txt", "",
            "8EF6A062131E3DDACB68997CC12F3954F0D86F893188417047E66744DB00A2AB" },
        { "first byte below 16 keeps its zero", "zero.txt", "line 0\n",
            "0A25936219FCB838319B38FC79CAEFAC4D157CB9A80A3A0D00BE37F477BC66F1" },
        { "bytes above 127 in key and data, taken as they are", "Résumé.txt",
            std::string("\x00\x80\xff\xfe caf\xc3\xa9", 10),
            "AE71729C3D90EDB8591176324F57DDDAC31263EFA65AE53E00A4C025D61D6FB2" },
    };
    TempFolder tmp;
    ScanThread scan;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(tmp / c.name, c.contents);
        const std::string digest = scan.SHA(FolderItem::FromNativePath(tmp / c.name));
        EXPECT_EQ(digest, c.digest);
        EXPECT_TRUE(IsDigestText(digest)) << digest;
    }
}

TEST(Checksums, SHA_SizesAroundThePieceSize_EqualOneUpdateOverTheWholeFile)
{
    const std::size_t sizes[] = { 1, (64 << 10) - 1, 64 << 10, (64 << 10) + 1, kPiece - 1, kPiece,
        kPiece + 1, 3 * kPiece + 12345 };
    TempFolder tmp;
    ScanThread scan;
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string contents = Noise(size, uint32_t(size));
        WriteFile(tmp / "data.bin", contents);
        EXPECT_EQ(scan.SHA(FolderItem::FromNativePath(tmp / "data.bin")),
            OneShotDigest("data.bin", contents));
    }
}

TEST(Checksums, SHA_SameContentsOtherName_OtherDigest)
{
    TempFolder tmp;
    WriteFile(tmp / "a.txt", "same");
    WriteFile(tmp / "b.txt", "same");
    ScanThread scan;
    const std::string a = scan.SHA(FolderItem::FromNativePath(tmp / "a.txt"));
    EXPECT_NE(a, scan.SHA(FolderItem::FromNativePath(tmp / "b.txt")));
    // A rename alone changes the digest.
    ASSERT_EQ(rename((tmp / "a.txt").c_str(), (tmp / "c.txt").c_str()), 0);
    EXPECT_NE(a, scan.SHA(FolderItem::FromNativePath(tmp / "c.txt")));
}

TEST(Checksums, SHA_BytesAbove127_EveryChangeChangesTheDigest)
{
    // A conversion to ASCII that replaced these bytes would give all of them one digest.
    const std::string contents[] = { "caf\xc3\xa9", "caf\xc3\xa8", "caf\x80\x80", "caf??" };
    TempFolder tmp;
    ScanThread scan;
    std::vector<std::string> digests;
    for (const std::string &c : contents) {
        WriteFile(tmp / "menu.txt", c);
        digests.push_back(scan.SHA(FolderItem::FromNativePath(tmp / "menu.txt")));
    }
    for (std::size_t i = 0; i < digests.size(); ++i) {
        for (std::size_t j = i + 1; j < digests.size(); ++j)
            EXPECT_NE(digests[i], digests[j]) << i << " " << j;
    }
    // The display name is the key, byte for byte, too.
    WriteFile(tmp / "caf\xc3\xa9", "x");
    WriteFile(tmp / "caf\xc3\xa8", "x");
    EXPECT_NE(scan.SHA(FolderItem::FromNativePath(tmp / "caf\xc3\xa9")),
        scan.SHA(FolderItem::FromNativePath(tmp / "caf\xc3\xa8")));
}

TEST(Checksums, SHA_DataForkDoesNotOpen_EmptyText)
{
    TempFolder tmp;
    mkdir((tmp / "folder").c_str(), 0755);
    mkfifo((tmp / "fifo").c_str(), 0644);
    ScanThread scan;
    for (const char *name : { "missing", "folder", "fifo" }) {
        SCOPED_TRACE(name);
        EXPECT_EQ(scan.SHA(FolderItem::FromNativePath(tmp / name)), "");
    }
}

TEST(Checksums, SHA_ReadFails_EmptyTextNotTheDigestOfWhatWasRead)
{
    // A regular file of the kernel's whose first read fails (EIO: address 0 is never mapped).
    const auto mem = FolderItem::FromNativePath("/proc/self/mem");
    ASSERT_TRUE(mem->OpenAsBinaryFile());
    ScanThread scan;
    EXPECT_EQ(scan.SHA(mem), "");
}

TEST(Checksums, SHA_FileThatCannotBeRead_EmptyTextThenDigestOnceReadable)
{
    TempFolder tmp;
    WriteFile(tmp / "secret.txt", "hidden");
    ASSERT_EQ(chmod((tmp / "secret.txt").c_str(), 0), 0);
    const auto f = FolderItem::FromNativePath(tmp / "secret.txt");
    ScanThread scan;
    RunAsUnprivilegedUser(tmp, [&] {
        ASSERT_TRUE(f->Exists());
        EXPECT_EQ(scan.SHA(f), "");
    });
    ASSERT_EQ(chmod((tmp / "secret.txt").c_str(), 0644), 0);
    EXPECT_EQ(scan.SHA(f), OneShotDigest("secret.txt", "hidden"));
}

TEST(Checksums, SHA_OnACooperativeThread_YieldsAfterEveryPiece)
{
    constexpr int kPieces = 5;
    TempFolder tmp;
    const std::string contents = Noise(4 * kPiece + 1, 7);
    WriteFile(tmp / "five.bin", contents);
    const auto f = FolderItem::FromNativePath(tmp / "five.bin");
    ScanThread scan;
    bool hashing = false;
    bool done = false;
    int passesWhileHashing = 0;
    std::string digest;
    auto other = std::make_shared<platform::testing::LambdaThread>([&] {
        while (!done) {
            if (hashing)
                ++passesWhileHashing;
            Yield();
        }
    });
    auto hasher = std::make_shared<platform::testing::LambdaThread>([&] {
        hashing = true;
        digest = scan.SHA(f);
        hashing = false;
        done = true;
    });
    other->Run();
    hasher->Run();
    ASSERT_TRUE(ProcessEventsUntil([] { return Scheduler::LiveCount() == 0; }, 10000));
    EXPECT_EQ(digest, OneShotDigest("five.bin", contents));
    // The other thread had a turn after every piece.
    EXPECT_EQ(passesWhileHashing, kPieces);
}

int64_t PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    return -1;
}

// Seconds of work: run by the "slow" ctest entry only.
TEST(ChecksumsSlow, DISABLED_SHA_ThreeGiBSparseFile_EqualsOpensslAndMemoryStaysFlat)
{
    constexpr int64_t kSize = int64_t(3) << 30;
    TempFolder tmp;
    const std::string name = "sparse-3GiB.bin";
    const std::string path = tmp / name;
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, kSize), 0);
        // Marks at the start, across the 2 GiB boundary and at the end, so no part goes unread.
        ASSERT_EQ(pwrite(fd, "start", 5, 0), 5);
        ASSERT_EQ(pwrite(fd, "middle", 6, (int64_t(2) << 30) - 3), 6);
        ASSERT_EQ(pwrite(fd, "end", 3, kSize - 3), 3);
        close(fd);
    }

    std::string expected;
    {
        const std::string command = "openssl dgst -sha256 -hmac " + name + " '" + path + "'";
        FILE *pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[512] = {};
        ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
        ASSERT_EQ(pclose(pipe), 0);
        std::string text(line);
        const auto at = text.rfind("= ");
        ASSERT_NE(at, std::string::npos) << text;
        expected = text.substr(at + 2, 64);
        for (auto &c : expected)
            c = char(std::toupper(static_cast<unsigned char>(c)));
    }

    ScanThread scan;
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
    const int64_t before = PeakResidentKiB();
    const std::string digest = scan.SHA(FolderItem::FromNativePath(path));
    const int64_t growth = PeakResidentKiB() - before;
    EXPECT_EQ(digest, expected);
    EXPECT_LE(growth, 16 * 1024) << "KiB";
}

// --- the resource CRC-32 -------------------------------------------------------------------------

const std::vector<ForkType> kThreeTypes = {
    { "TEXT", { { 128, "Hello" }, { 129, ", world" } } },
    { "ICN#", {} },
    { "STR ", { { 1, "one" }, { 2, "two" }, { 3, "three" }, { 4, "four" }, { 5, "five" } } },
};

/// The walk's loop over a fork's types: each type's text, the count after it and sResource.
struct TypeResult
{
    std::string type;
    std::string crc;
    int32_t count;
    std::string joined;
};

std::vector<TypeResult> ChecksumEveryType(ScanThread &scan, const Ref<ResourceFork> &fork)
{
    std::vector<TypeResult> out;
    for (int j = 0; j < fork->TypeCount(); ++j) {
        const std::string type = fork->ResourceType(j);
        const std::string crc = scan.CalculateResourceFork(fork, type);
        out.push_back({ type, crc, scan.Count(), scan.Resource() });
    }
    return out;
}

void ExpectThreeTypes(const std::vector<TypeResult> &got, int32_t start)
{
    // CRC-32 of "Hello, world", of nothing and of "onetwothreefourfive" (zlib.crc32 in Python).
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].type, "TEXT");
    EXPECT_EQ(got[0].crc, "E79AA9C2");
    EXPECT_EQ(got[0].count, start + 2);
    EXPECT_EQ(got[0].joined, "Hello, world");
    EXPECT_EQ(got[1].type, "ICN#");
    EXPECT_EQ(got[1].crc, "00000000");
    EXPECT_EQ(got[1].count, start + 2);
    EXPECT_EQ(got[1].joined, "");
    EXPECT_EQ(got[2].type, "STR ");
    EXPECT_EQ(got[2].crc, "BAE3F002");
    EXPECT_EQ(got[2].count, start + 7);
    EXPECT_EQ(got[2].joined, "onetwothreefourfive");
}

TEST(Checksums, CalculateResourceFork_TypesOf2_0_And5Resources_CountUpBy7WithPerTypeTexts)
{
    const Ref<ResourceFork> fork = ResourceFork::Parse(BuildFork(kThreeTypes));
    ASSERT_TRUE(fork);
    ScanThread scan;
    scan.SetCount(10);
    Reports reports;
    ExpectThreeTypes(ChecksumEveryType(scan, fork), 10);
    EXPECT_TRUE(reports.Entries().empty());
}

TEST(Checksums, CalculateResourceFork_ForkInAppleDoubleSidecar_SameTexts)
{
    const std::string fork = BuildFork(kThreeTypes);
    TempFolder tmp;
    WriteFile(tmp / "Icon.rsrc", "data fork");
    WriteFile(tmp / "._Icon.rsrc", AppleDouble(fork));
    const auto f = FolderItem::FromNativePath(tmp / "Icon.rsrc");
    ASSERT_EQ(f->ResourceForkLength(), int64_t(fork.size()));
    const Ref<ResourceFork> opened = f->OpenResourceFork();
    ASSERT_TRUE(opened);
    ScanThread scan;
    ExpectThreeTypes(ChecksumEveryType(scan, opened), 0);
}

TEST(Checksums, CalculateResourceFork_CrcText_EightUpperCaseDigitsZeroPadded)
{
    struct Case
    {
        std::string data;
        std::string crc;
    };
    const Case cases[] = {
        { "123456789", "CBF43926" }, // the standard check value
        { "x31", "001685F0" }, // two leading zeros
        { "x1", "F7E1E13B" }, // the top bit set
        { std::string("\x80\xff\x00\x61", 4), "48300C04" }, // bytes taken as they are
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.crc);
        const auto fork = ResourceFork::Parse(BuildFork({ { "DATA", { { 0, c.data } } } }));
        ASSERT_TRUE(fork);
        ScanThread scan;
        EXPECT_EQ(scan.CalculateResourceFork(fork, "DATA"), c.crc);
        EXPECT_EQ(scan.Count(), 1);
    }
}

TEST(Checksums, CalculateResourceFork_UnknownType_CrcOfNothingCountUnchanged)
{
    const auto fork = ResourceFork::Parse(BuildFork(kThreeTypes));
    ASSERT_TRUE(fork);
    ScanThread scan;
    scan.SetResource("left over");
    EXPECT_EQ(scan.CalculateResourceFork(fork, "snd "), "00000000");
    EXPECT_EQ(scan.Count(), 0);
    EXPECT_EQ(scan.Resource(), "");
}

TEST(Checksums, CalculateResourceFork_NilFork_ReportedWithItsTagAndEmptyText)
{
    ScanThread scan;
    scan.SetCount(3);
    scan.SetResource("kept");
    Reports reports;
    EXPECT_EQ(scan.CalculateResourceFork(nullptr, "TEXT"), "");
    EXPECT_EQ(scan.Count(), 3);
    EXPECT_EQ(scan.Resource(), "kept");
    ASSERT_EQ(reports.Entries().size(), 1u);
    EXPECT_EQ(reports.Entries()[0].kind, "NilObjectException");
    EXPECT_EQ(reports.Entries()[0].tag, "clsCRCFolderItem.Methods.CalculateResourceFork");
}

TEST(Checksums, CalculateResourceFork_FailsAtThirdResource_KeepsCountAndDataSoFar)
{
    constexpr std::size_t kLarge = 100000;
    const auto fork = ResourceFork::Parse(BuildFork(
        { { "PICT", { { 1, "first" }, { 2, "second" }, { 3, std::string(kLarge, 'p') } } } }));
    ASSERT_TRUE(fork);
    ScanThread scan;
    Reports reports;
    {
        // The copy of the third resource is the first allocation this large.
        LargeAllocationProbe probe(kLarge, /*failFirst=*/true);
        EXPECT_EQ(scan.CalculateResourceFork(fork, "PICT"), "");
        EXPECT_TRUE(probe.Failed());
    }
    EXPECT_EQ(scan.Count(), 2);
    EXPECT_EQ(scan.Resource(), "firstsecond");
    ASSERT_EQ(reports.Entries().size(), 1u);
    EXPECT_EQ(reports.Entries()[0].kind, "OutOfMemoryException");
    EXPECT_EQ(reports.Entries()[0].tag, "clsCRCFolderItem.Methods.CalculateResourceFork");
}

} // namespace
