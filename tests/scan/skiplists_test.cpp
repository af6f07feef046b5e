#include "scantest.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/folderitem.h"
#include "tests/support/testsupport.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using platform::testing::TempFolder;
using scantest::LargeAllocationProbe;
using scantest::Reports;
using scantest::ScanThread;

namespace {

struct NameCase
{
    const char *name;
    bool ok;
};

std::ostream &operator<<(std::ostream &os, const NameCase &c) { return os << '"' << c.name << '"'; }

class FileNames : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(FileNames, ProcessPrivateFileOK_ExistingPlainFile_JudgedByName)
{
    TempFolder tmp;
    platform::testing::WriteFile(tmp / GetParam().name, "x");
    ScanThread scan;
    EXPECT_EQ(scan.ProcessPrivateFileOK(FolderItem::FromNativePath(tmp / GetParam().name)),
        GetParam().ok);
}

INSTANTIATE_TEST_SUITE_P(SkipLists, FileNames,
    ::testing::Values(NameCase { ".DS_Store", false }, NameCase { "crcData.rsd", false },
        NameCase { "crcData.rsd-wal", false }, NameCase { "crcData.rsd-shm", false },
        NameCase { "Desktop DB", false }, NameCase { "Desktop DF", false },
        NameCase { "com.example.plist", false }, NameCase { "index.cache", false },
        NameCase { "home.ics", false }, NameCase { "data.db-journal", false },
        NameCase { ".plist", false }, NameCase { "crcData.rsd-journal", false },
        // Letter case is ignored, by every name test alike.
        NameCase { "Notes.PLIST", false }, NameCase { ".ds_store", false },
        NameCase { "CRCDATA.RSD", false }, NameCase { "crcdata.RSD-WAL", false },
        NameCase { "desktop db", false }, NameCase { "Index.Cache", false },
        NameCase { "HOME.ICS", false }, NameCase { "DATA-JOURNAL", false },
        NameCase { "Résumé.ics", false },
        // Near misses.
        NameCase { "Desktop DB copy", true }, NameCase { "report.plists", true },
        NameCase { "ics", true }, NameCase { "journal", true }, NameCase { "plist", true },
        NameCase { "crcData.rsd.bak", true }, NameCase { "crcData.rsd-wal2", true },
        NameCase { "old crcData.rsd", true }, NameCase { ".DS_Store2", true },
        NameCase { "Résumé.txt", true }, NameCase { "cache", true }));

class FolderNames : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(FolderNames, ProcessPrivateFolderOK_ExistingFolder_JudgedByName)
{
    TempFolder tmp;
    ASSERT_EQ(mkdir((tmp / GetParam().name).c_str(), 0755), 0);
    ScanThread scan;
    EXPECT_EQ(scan.ProcessPrivateFolderOK(FolderItem::FromNativePath(tmp / GetParam().name)),
        GetParam().ok);
}

INSTANTIATE_TEST_SUITE_P(SkipLists, FolderNames,
    ::testing::Values(NameCase { ".Trashes", false }, NameCase { ".Trashes-2", false },
        NameCase { "Volumes", false }, NameCase { "cache", false }, NameCase { "webcache", false },
        NameCase { "cache-old", false }, NameCase { "Caches", false },
        NameCase { "MyCacheDir", false }, NameCase { ".trashes", false },
        NameCase { "VOLUMES", false }, NameCase { "Volumes2", true },
        NameCase { "x.Trashes", true }, NameCase { "Trash", true }, NameCase { "cach", true },
        NameCase { "Documents", true }, NameCase { "crcData.rsd", true }));

enum class Predicate { File, Folder };

struct ItemCase
{
    const char *what;
    Predicate predicate;
    std::string (*make)(const TempFolder &tmp); // "" for nil
    bool ok;
};

std::ostream &operator<<(std::ostream &os, const ItemCase &c) { return os << c.what; }

std::string PlainFile(const TempFolder &tmp)
{
    platform::testing::WriteFile(tmp / "plain.txt", "x");
    return tmp / "plain.txt";
}

std::string Folder(const TempFolder &tmp)
{
    mkdir((tmp / "folder").c_str(), 0755);
    return tmp / "folder";
}

std::string LinkToFile(const TempFolder &tmp)
{
    symlink(PlainFile(tmp).c_str(), (tmp / "link.txt").c_str());
    return tmp / "link.txt";
}

std::string LinkToFolder(const TempFolder &tmp)
{
    symlink(Folder(tmp).c_str(), (tmp / "link").c_str());
    return tmp / "link";
}

std::string DanglingLink(const TempFolder &tmp)
{
    symlink((tmp / "gone").c_str(), (tmp / "dangling").c_str());
    return tmp / "dangling";
}

std::string Missing(const TempFolder &tmp) { return tmp / "missing.txt"; }

std::string Nil(const TempFolder &) { return ""; }

class Items : public ::testing::TestWithParam<ItemCase>
{
};

TEST_P(Items, Predicate_ItemKind_Answer)
{
    TempFolder tmp;
    const std::string path = GetParam().make(tmp);
    const Ref<FolderItem> f = path.empty() ? nullptr : FolderItem::FromNativePath(path);
    ScanThread scan;
    Reports reports;
    const bool ok = GetParam().predicate == Predicate::File ? scan.ProcessPrivateFileOK(f)
                                                            : scan.ProcessPrivateFolderOK(f);
    EXPECT_EQ(ok, GetParam().ok);
    // Nil is no exception: it is the first test of the chain.
    EXPECT_TRUE(reports.Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(SkipLists, Items,
    ::testing::Values(ItemCase { "file: plain file", Predicate::File, PlainFile, true },
        ItemCase { "file: nil", Predicate::File, Nil, false },
        ItemCase { "file: missing", Predicate::File, Missing, false },
        ItemCase { "file: link to a file", Predicate::File, LinkToFile, false },
        ItemCase { "file: dangling link", Predicate::File, DanglingLink, false },
        ItemCase { "folder: folder", Predicate::Folder, Folder, true },
        ItemCase { "folder: nil", Predicate::Folder, Nil, false },
        ItemCase { "folder: missing", Predicate::Folder, Missing, false },
        ItemCase { "folder: link to a folder", Predicate::Folder, LinkToFolder, false },
        ItemCase { "folder: plain file", Predicate::Folder, PlainFile, false }));

// Names of 200 characters are longer than any text of the predicates, so every fetch of a name
// is one allocation of at least this size.
constexpr std::size_t kLongName = 200;

std::string LongName(const std::string &ending)
{
    return std::string(kLongName - ending.size(), 'n') + ending;
}

TEST(SkipLists, ProcessPrivateFileOK_ChainStopsAtFirstFailure_NamesFetchedPerTest)
{
    TempFolder tmp;
    struct Case
    {
        std::string name;
        int fetches; // the name tests made: test 4 is the first, test 11 the last
    };
    const Case cases[] = {
        { LongName(".txt"), 8 },
        { LongName(".plist"), 3 },
        { LongName(".cache"), 4 },
        { LongName(".ics"), 5 },
        { LongName("-journal"), 8 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fetches);
        platform::testing::WriteFile(tmp / c.name, "x");
        const auto f = FolderItem::FromNativePath(tmp / c.name);
        ScanThread scan;
        LargeAllocationProbe probe(kLongName, /*failFirst=*/false);
        scan.ProcessPrivateFileOK(f);
        EXPECT_EQ(probe.Count(), c.fetches);
    }
}

TEST(SkipLists, ProcessPrivateFolderOK_ChainStopsAtFirstFailure_NamesFetchedPerTest)
{
    TempFolder tmp;
    struct Case
    {
        std::string name;
        int fetches; // test 5 is the first name test, test 7 the last
    };
    const Case cases[] = {
        { LongName(""), 3 },
        { ".Trashes" + LongName("").substr(8), 1 },
        { LongName("cache"), 2 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fetches);
        ASSERT_EQ(mkdir((tmp / c.name).c_str(), 0755), 0);
        const auto f = FolderItem::FromNativePath(tmp / c.name);
        ScanThread scan;
        LargeAllocationProbe probe(kLongName, /*failFirst=*/false);
        scan.ProcessPrivateFolderOK(f);
        EXPECT_EQ(probe.Count(), c.fetches);
    }
}

TEST(SkipLists, Predicates_MissingOrLinkOrNotFolder_NameNeverRead)
{
    TempFolder tmp;
    platform::testing::WriteFile(tmp / LongName(".txt"), "x");
    symlink((tmp / LongName(".txt")).c_str(), (tmp / LongName(".lnk")).c_str());
    const auto gone = FolderItem::FromNativePath(tmp / LongName(".gone"));
    const auto link = FolderItem::FromNativePath(tmp / LongName(".lnk"));
    const auto file = FolderItem::FromNativePath(tmp / LongName(".txt"));
    ScanThread scan;
    LargeAllocationProbe probe(kLongName, /*failFirst=*/false);
    EXPECT_FALSE(scan.ProcessPrivateFileOK(gone));
    EXPECT_FALSE(scan.ProcessPrivateFileOK(link));
    EXPECT_FALSE(scan.ProcessPrivateFolderOK(gone));
    EXPECT_FALSE(scan.ProcessPrivateFolderOK(link));
    EXPECT_FALSE(scan.ProcessPrivateFolderOK(file));
    EXPECT_EQ(probe.Count(), 0);
}

TEST(SkipLists, Predicates_ExceptionInsideChain_ReportedWithTheirTagsAndFalse)
{
    TempFolder tmp;
    platform::testing::WriteFile(tmp / LongName(".txt"), "x");
    ASSERT_EQ(mkdir((tmp / LongName("")).c_str(), 0755), 0);
    const auto file = FolderItem::FromNativePath(tmp / LongName(".txt"));
    const auto folder = FolderItem::FromNativePath(tmp / LongName(""));
    ScanThread scan;
    ASSERT_TRUE(scan.ProcessPrivateFileOK(file));
    ASSERT_TRUE(scan.ProcessPrivateFolderOK(folder));

    Reports reports;
    {
        LargeAllocationProbe probe(kLongName, /*failFirst=*/true);
        EXPECT_FALSE(scan.ProcessPrivateFileOK(file));
        EXPECT_TRUE(probe.Failed());
    }
    {
        LargeAllocationProbe probe(kLongName, /*failFirst=*/true);
        EXPECT_FALSE(scan.ProcessPrivateFolderOK(folder));
        EXPECT_TRUE(probe.Failed());
    }
    ASSERT_EQ(reports.Entries().size(), 2u);
    EXPECT_EQ(reports.Entries()[0].kind, "OutOfMemoryException");
    EXPECT_EQ(reports.Entries()[0].tag, "ProcessThead.Methods.ProcessPrivateFolderOK");
    EXPECT_EQ(reports.Entries()[1].kind, "OutOfMemoryException");
    EXPECT_EQ(reports.Entries()[1].tag, "ProcessThread.Methods.ProcessPrivateFolderOK");
}

} // namespace
