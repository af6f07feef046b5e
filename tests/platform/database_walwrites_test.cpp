// The catalogue's WAL writes reach the file gathered, one write per commit. What must hold is
// what SQLite's own writes give: after each commit the files on disk hold the whole commit, a
// failed write fails the commit, and nothing of a transaction rolled back ever lands on frames
// another connection wrote.

#include "platform/database.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/platform/database_testing.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace platform;
using namespace dbtest;

namespace {

/// What SQLite's own VFS makes of a copy of the catalogue's files taken now, as a crash would
/// leave them: the copy's WAL is read back from its frames and their checksums alone.
struct Snapshot
{
    std::string integrity;
    int64_t rows = -1;
    int64_t changed = -1; // rows whose crc reads "changed"
    int64_t last = -1; // the largest referenceidx
};

Snapshot TakeSnapshot(const TempFolder &folder)
{
    namespace fs = std::filesystem;
    const std::string copy = folder / "snapshot.rsd";
    for (const char *suffix : { "", "-wal", "-shm" })
        fs::remove(copy + suffix);
    fs::copy_file(folder / "crcData.rsd", copy);
    if (Exists(folder / "crcData.rsd-wal"))
        fs::copy_file(folder / "crcData.rsd-wal", copy + "-wal");
    Snapshot s;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        auto scalar = [&](const char *sql) {
            std::string out = "<failed>";
            sqlite3_exec(
                db, sql,
                [](void *to, int, char **values, char **) {
                    *static_cast<std::string *>(to) = values[0] ? values[0] : "<null>";
                    return 0;
                },
                &out, nullptr);
            return out;
        };
        s.integrity = scalar("PRAGMA integrity_check");
        s.rows = std::stoll("0" + scalar("SELECT count(*) FROM fileinfo"));
        s.changed = std::stoll("0" + scalar("SELECT count(*) FROM fileinfo WHERE crc = 'changed'"));
        s.last = std::stoll("0" + scalar("SELECT max(referenceidx) FROM fileinfo"));
    }
    sqlite3_close_v2(db);
    return s;
}

/// Adds `rows` rows of about 300 bytes each; the caller commits.
void AddRows(Database &db, int from, int rows)
{
    for (int i = from; i < from + rows; ++i) {
        const std::string name = "file" + std::to_string(i) + ".txt";
        AddFile(db, "Disk:Users:me:" + std::string(240, 'x') + ":" + name, name);
    }
}

} // namespace

TEST(DatabaseWalWrites, FilesOnDiskAfterEachCommit_HoldTheWholeCommit)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);

    // Rows committed one by one, as a first scan does.
    for (int i = 0; i < 3; ++i) {
        AddRows(*db, i, 1);
        db->Commit();
        const Snapshot s = TakeSnapshot(folder);
        EXPECT_EQ(s.integrity, "ok");
        EXPECT_EQ(s.rows, i + 1);
    }

    // A transaction larger than the page cache writes frames before its commit, and writes
    // pages it changes again over its own frames, whose headers it then writes anew.
    db->SQLExecute("PRAGMA cache_size=20");
    db->SQLExecute("BEGIN TRANSACTION");
    AddRows(*db, 3, 2000);
    db->SQLExecute("UPDATE fileinfo SET crc = 'changed'");
    db->Commit();
    ASSERT_FALSE(db->Error()) << db->ErrorMessage();
    Snapshot s = TakeSnapshot(folder);
    EXPECT_EQ(s.integrity, "ok");
    EXPECT_EQ(s.rows, 2003);
    EXPECT_EQ(s.changed, 2003);

    // A WAL started again from its beginning.
    db->SQLExecute("PRAGMA wal_checkpoint(TRUNCATE)");
    AddRows(*db, 2003, 1);
    db->Commit();
    s = TakeSnapshot(folder);
    EXPECT_EQ(s.integrity, "ok");
    EXPECT_EQ(s.rows, 2004);
}

TEST(DatabaseWalWrites, RolledBackTransaction_LeavesNothingOverAnotherConnectionsCommit)
{
    TempFolder folder;
    auto first = NewCatalogue(folder);
    first->SQLExecute("BEGIN TRANSACTION");
    AddRows(*first, 0, 400);
    first->Commit();
    first->SQLExecute("PRAGMA wal_checkpoint(TRUNCATE)");
    ASSERT_FALSE(first->Error()) << first->ErrorMessage();
    auto second = DatabaseAt(folder / "crcData.rsd");
    ASSERT_TRUE(second->Connect()) << second->ErrorMessage();

    // The first changes more pages than its cache holds, so it writes frames past the WAL's end
    // before any commit, then reads pages that only the database file holds, and rolls back.
    // The second then commits frames in the same place.
    first->SQLExecute("PRAGMA cache_size=10");
    first->SQLExecute("BEGIN TRANSACTION");
    first->SQLExecute("UPDATE fileinfo SET crc = 'rolled back'");
    EXPECT_EQ(ScalarInt(*first,
                  "SELECT count(*) FROM fileinfo INDEXED BY fileinfo_index_path "
                  "WHERE fullpath > ''"),
        400);
    first->Rollback();
    ASSERT_FALSE(first->Error()) << first->ErrorMessage();
    AddRows(*second, 1000, 40);
    second->Commit();
    ASSERT_FALSE(second->Error()) << second->ErrorMessage();

    // The first reads the second's frames back from the file.
    EXPECT_EQ(
        ScalarInt(*first, "SELECT count(*) FROM fileinfo WHERE name LIKE 'file10__.txt'"), 40);
    EXPECT_EQ(ScalarInt(*first, "SELECT count(*) FROM fileinfo WHERE crc = 'rolled back'"), 0);
    EXPECT_EQ(ScalarText(*first, "PRAGMA integrity_check"), "ok");
    const Snapshot s = TakeSnapshot(folder);
    EXPECT_EQ(s.integrity, "ok");
    EXPECT_EQ(s.rows, 440);
}

// Once from GUI code, once from a thread whose insert runs inside the read its lookup opened.
TEST(DatabaseWalWrites, WriteThatFails_FailsItsCommitAndLeavesTheCatalogueWhole)
{
    for (const bool readsTogether : { false, true }) {
        SCOPED_TRACE(readsTogether ? "a thread reading together" : "GUI code");
        TempFolder folder;
        auto db = NewCatalogue(folder);
        AddRows(*db, 0, 5);
        db->Commit();
        struct stat wal;
        ASSERT_EQ(::stat((folder / "crcData.rsd-wal").c_str(), &wal), 0);

        // The next commit's frames go past the WAL's end, and may not grow it by more than a
        // few bytes: the kernel cuts the write short, then refuses the rest.
        const auto lookUpAndInsert = [&] {
            ScalarInt(
                *db, "SELECT count(*) FROM fileinfo WHERE fullpath = 'Disk:Users:me:lost.txt'");
            struct rlimit saved;
            ::getrlimit(RLIMIT_FSIZE, &saved);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = saved;
            small.rlim_cur = rlim_t(wal.st_size) + 100;
            ::setrlimit(RLIMIT_FSIZE, &small);
            db->InsertRecord("fileinfo", FileRecord("Disk:Users:me:lost.txt", "lost.txt"));
            const bool failed = db->Error();
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
            return failed;
        };
        bool failed = false;
        if (readsTogether) {
            auto scan = Start([&] {
                const Database::ReadsTogether reads(db);
                failed = lookUpAndInsert();
            });
            ASSERT_TRUE(RunToEnd({ scan }));
        } else {
            failed = lookUpAndInsert();
        }
        db->Rollback();
        EXPECT_TRUE(failed) << "a commit whose frames did not reach the file was reported as done";

        EXPECT_EQ(ScalarInt(*db, "SELECT count(*) FROM fileinfo"), 5);
        AddRows(*db, 5, 1);
        db->Commit();
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        const Snapshot s = TakeSnapshot(folder);
        EXPECT_EQ(s.integrity, "ok");
        EXPECT_EQ(s.rows, 6);
    }
}

// A process killed while it commits row after row, with its checkpoint worker copying beside it,
// as a scan ended by a crash: every row it was told was committed is there, with no gap, and
// nothing half written.
TEST(DatabaseWalWrites, ProcessKilledWhileCommitting_KeepsEveryCommittedRow)
{
    TempFolder folder;
    NewCatalogue(folder)->Close();
    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only this thread goes on here: it opens a connection of its own, as a second run of
        // the program would.
        ::close(progress[0]);
        auto db = DatabaseAt(folder / "crcData.rsd");
        if (!db->Connect())
            ::_exit(2);
        for (int32_t i = 0; i < 1'000'000; ++i) {
            DatabaseRecord r;
            r.IntegerColumn("referenceidx", i);
            r.Column("fullpath", "Disk:Users:me:" + std::string(200, 'x') + std::to_string(i));
            r.Column("name", std::to_string(i));
            db->InsertRecord("fileinfo", r);
            const int32_t committed = i + 1;
            if (db->Error()
                || ::write(progress[1], &committed, sizeof committed) != sizeof committed)
                ::_exit(3);
        }
        ::_exit(0);
    }
    ::close(progress[1]);
    // Past two WAL cycles of four frames a row, then killed at once.
    int32_t committed = 0, reported = 0;
    while (committed < 6000 && ::read(progress[0], &reported, sizeof reported) == sizeof reported)
        committed = reported;
    ::kill(child, SIGKILL);
    while (::read(progress[0], &reported, sizeof reported) == sizeof reported)
        committed = reported;
    ::close(progress[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself, status " << status;
    ASSERT_GE(committed, 6000);

    const Snapshot s = TakeSnapshot(folder);
    EXPECT_EQ(s.integrity, "ok");
    EXPECT_GE(s.rows, committed);
    EXPECT_EQ(s.last + 1, s.rows) << "a committed row is missing";
}
