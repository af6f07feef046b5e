#include "platform/database.h"

#include <algorithm>
#include <string>
#include <sys/stat.h>

#include "tests/platform/database_testing.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace dbtest;

namespace {

int64_t FileSize(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

/// Commits `rows` catalogue rows one by one, as a first scan does; the largest the WAL grew.
int64_t CommitOneByOne(Database &db, const std::string &wal, int rows)
{
    int64_t largest = 0;
    for (int i = 0; i < rows; ++i) {
        const std::string name = "file" + std::to_string(i) + ".txt";
        AddFile(db, "Disk:Users:me:folder" + std::to_string(i / 100) + ":" + name, name);
        db.Commit();
        largest = std::max(largest, FileSize(wal));
    }
    return largest;
}

} // namespace

// Checkpoints run beside the writer, which adds frames while they copy: the WAL must still be
// started again from its beginning, or it would grow for as long as a scan writes.
TEST(DatabaseCheckpoint, ManyCommitsInARow_WalStartsAgainInsteadOfGrowing)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    const std::string wal = folder / "crcData.rsd-wal";
    const int64_t before = FileSize(folder / "crcData.rsd");
    constexpr int kRows
        = 6000; // about 27,000 frames: some 110 MiB were the WAL never started again

    const int64_t largest = CommitOneByOne(*db, wal, kRows);

    EXPECT_LT(largest, 48 << 20); // about 12,000 frames of 4 KiB pages
    EXPECT_EQ(ScalarInt(*db, "SELECT count(*) FROM fileinfo"), kRows);
    // The rows reach the database file itself, not only its WAL.
    EXPECT_GT(FileSize(folder / "crcData.rsd"), before);
}

TEST(DatabaseCheckpoint, CloseAfterManyCommits_RemovesWalAndKeepsEveryRow)
{
    TempFolder folder;
    constexpr int kRows = 3000;
    {
        auto db = NewCatalogue(folder);
        CommitOneByOne(*db, folder / "crcData.rsd-wal", kRows);
        EXPECT_EQ(CommittedNames(folder).substr(0, 15), "file0.txt,file1");
        db->Close();
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    }
    EXPECT_FALSE(Exists(folder / "crcData.rsd-wal"));
    auto db = DatabaseAt(folder / "crcData.rsd");
    ASSERT_TRUE(db->Connect()) << db->ErrorMessage();
    EXPECT_EQ(ScalarInt(*db, "SELECT count(*) FROM fileinfo"), kRows);
    EXPECT_EQ(ScalarText(*db, "PRAGMA integrity_check"), "ok");
}
