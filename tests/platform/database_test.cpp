#include "platform/database.h"

#include <functional>
#include <string>
#include <sys/stat.h>

#include "tests/support/testsupport.h"
#include "tests/platform/database_testing.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace dbtest;
using platform::testing::ReadFile;
using platform::testing::WriteFile;

// --- opening and creating ----------------------------------------------------------------------

TEST(DatabaseConnect, Files_OpenOnlyRealDatabases)
{
    TempFolder folder;
    NewCatalogue(folder, "real.rsd")->Close();
    WriteFile(folder / "garbage.rsd", std::string(4096, 'x'));
    WriteFile(folder / "short.rsd", "not a database");
    ::mkdir((folder / "folder.rsd").c_str(), 0755);

    struct Case
    {
        const char *name;
        bool expected;
    };
    const Case cases[] = {
        { "missing.rsd", false },
        { "garbage.rsd", false },
        { "short.rsd", false },
        { "folder.rsd", false },
        { "real.rsd", true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto db = DatabaseAt(folder / c.name);
        const std::string before = Exists(folder / c.name) ? ReadFile(folder / c.name) : "";
        EXPECT_EQ(db->Connect(), c.expected);
        EXPECT_EQ(db->IsConnected(), c.expected);
        EXPECT_EQ(db->Error(), !c.expected) << db->ErrorMessage();
        if (!c.expected) {
            EXPECT_NE(db->ErrorCode(), 0);
            EXPECT_FALSE(db->ErrorMessage().empty());
            // Connect creates nothing and changes nothing it cannot open.
            EXPECT_EQ(Exists(folder / c.name), std::string(c.name) != "missing.rsd");
            if (std::string(c.name) == "garbage.rsd") {
                EXPECT_EQ(ReadFile(folder / c.name), before);
            }
        }
    }
}

TEST(DatabaseConnect, NoFile_ReturnsFalseWithError)
{
    Database db;
    EXPECT_FALSE(db.Connect());
    EXPECT_TRUE(db.Error());
    EXPECT_FALSE(db.CreateDatabaseFile());
    EXPECT_TRUE(db.Error());
}

TEST(DatabaseConnect, ExistingCatalogue_RowsAndWalMode)
{
    TempFolder folder;
    {
        auto db = NewCatalogue(folder);
        AddFile(*db, "Disk:a", "a");
    }
    auto db = DatabaseAt(folder / "crcData.rsd");
    ASSERT_TRUE(db->Connect()) << db->ErrorMessage();
    EXPECT_EQ(ScalarText(*db, "SELECT name FROM fileinfo"), "a");
    EXPECT_EQ(ScalarText(*db, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(ScalarInt(*db, "PRAGMA synchronous"), 1); // NORMAL
    EXPECT_GT(ScalarInt(*db, "PRAGMA busy_timeout"), 0);
}

TEST(DatabaseCreate, NewPath_FileOnDiskInWalMode)
{
    TempFolder folder;
    auto db = DatabaseAt(folder / "crcData.rsd");
    ASSERT_TRUE(db->CreateDatabaseFile()) << db->ErrorMessage();
    EXPECT_FALSE(db->Error());
    EXPECT_TRUE(db->IsConnected());
    // On disk at once, before any table exists, with a real header.
    ASSERT_TRUE(Exists(folder / "crcData.rsd"));
    EXPECT_EQ(ReadFile(folder / "crcData.rsd").substr(0, 16), std::string("SQLite format 3\0", 16));
    EXPECT_EQ(ScalarText(*db, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(ScalarInt(*db, "PRAGMA synchronous"), 1);
}

TEST(DatabaseCreate, UncreatablePaths_ReturnFalse)
{
    TempFolder folder;
    WriteFile(folder / "plain", "a regular file");
    WriteFile(folder / "taken.rsd", "something else");
    // Tests run as root, which ignores permission bits, so a read-only folder would not do:
    // these places cannot be created by anyone.
    const std::string cases[] = {
        folder / "no such folder/crcData.rsd", // the folder does not exist
        folder / "plain/crcData.rsd", // the "folder" is a regular file
        "/proc/tlm-database-test.rsd", // proc accepts no new files
        folder / "taken.rsd", // the file exists: nothing is replaced
    };
    for (const auto &path : cases) {
        SCOPED_TRACE(path);
        auto db = DatabaseAt(path);
        EXPECT_FALSE(db->CreateDatabaseFile());
        EXPECT_TRUE(db->Error());
        EXPECT_FALSE(db->ErrorMessage().empty());
        EXPECT_FALSE(db->IsConnected());
    }
    EXPECT_FALSE(Exists("/proc/tlm-database-test.rsd"));
    EXPECT_EQ(ReadFile(folder / "taken.rsd"), "something else");
}

// --- the error flag ------------------------------------------------------------------------------

TEST(DatabaseError, FailedCallThenGoodCall_SetThenCleared)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    db->SQLExecute("CREATE TABLE u (k INTEGER UNIQUE)");
    db->SQLExecute("INSERT INTO u VALUES (1)");

    struct Call
    {
        const char *name;
        std::function<void(Database &)> run;
    };
    const Call bad[] = {
        { "SQLExecute syntax", [](Database &d) { d.SQLExecute("NOT A STATEMENT"); } },
        { "SQLExecute unknown table", [](Database &d) { d.SQLExecute("DELETE FROM nothing"); } },
        { "SQLSelect", [](Database &d) { (void)d.SQLSelect("SELECT * FROM nothing"); } },
        { "InsertRecord unknown table",
            [](Database &d) {
                DatabaseRecord r;
                r.Column("name", "x");
                d.InsertRecord("nothing", r);
            } },
        { "InsertRecord constraint",
            [](Database &d) {
                DatabaseRecord r;
                r.IntegerColumn("k", 1);
                d.InsertRecord("u", r);
            } },
    };
    const Call good[] = {
        { "SQLExecute", [](Database &d) { d.SQLExecute("UPDATE fileinfo SET crc = 'X'"); } },
        { "SQLSelect", [](Database &d) { (void)d.SQLSelect("SELECT * FROM fileinfo"); } },
        { "InsertRecord",
            [](Database &d) {
                DatabaseRecord r;
                r.Column("name", "y");
                d.InsertRecord("fileinfo", r);
            } },
        { "Commit", [](Database &d) { d.Commit(); } },
        { "Rollback", [](Database &d) { d.Rollback(); } },
    };
    for (const auto &b : bad) {
        for (const auto &g : good) {
            SCOPED_TRACE(std::string(b.name) + " then " + g.name);
            b.run(*db);
            EXPECT_TRUE(db->Error());
            EXPECT_NE(db->ErrorCode(), 0);
            EXPECT_FALSE(db->ErrorMessage().empty());
            g.run(*db);
            EXPECT_FALSE(db->Error()) << db->ErrorMessage();
            EXPECT_EQ(db->ErrorCode(), 0);
            EXPECT_EQ(db->ErrorMessage(), "");
        }
    }
    EXPECT_EQ(ScalarInt(*db, "SELECT count(*) FROM u"), 1);
}

TEST(DatabaseError, UnconnectedOrClosed_EveryCallSetsErrorWithoutCrash)
{
    TempFolder folder;
    auto closed = NewCatalogue(folder);
    closed->Close();
    EXPECT_FALSE(closed->Error());
    EXPECT_FALSE(closed->IsConnected());
    Database never;

    for (Database *db : { closed.Raw(), &never }) {
        SCOPED_TRACE(db == &never ? "never connected" : "closed");
        db->SQLExecute("SELECT 1");
        EXPECT_TRUE(db->Error());
        EXPECT_FALSE(db->ErrorMessage().empty());
        db->Commit(); // clears nothing: there is no connection to commit
        EXPECT_TRUE(db->Error());
        EXPECT_EQ(db->SQLSelect("SELECT 1"), nullptr);
        EXPECT_TRUE(db->Error());
        DatabaseRecord r;
        r.Column("name", "x");
        db->InsertRecord("fileinfo", r);
        EXPECT_TRUE(db->Error());
        db->Rollback();
        EXPECT_TRUE(db->Error());
        EXPECT_EQ(db->LastRowID(), 0);
        db->Close();
        EXPECT_FALSE(db->Error());
    }
}

TEST(DatabaseSelect, FailingStatements_NilAndError)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    const char *cases[] = {
        "SELEKT * FROM fileinfo",
        "SELECT * FROM nothing",
        "SELECT nocolumn FROM fileinfo",
        "",
        "   ",
    };
    for (const char *sql : cases) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(db->SQLSelect(sql), nullptr);
        EXPECT_TRUE(db->Error());
        EXPECT_FALSE(db->ErrorMessage().empty());
    }
}

// --- transactions --------------------------------------------------------------------------------

TEST(DatabaseTransaction, CommitAndRollbackWithoutTransaction_DoNothing)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a"); // autocommit: committed by itself
    db->Rollback();
    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    db->Commit();
    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    EXPECT_EQ(ScalarInt(*db, "SELECT count(*) FROM fileinfo"), 1);
}

TEST(DatabaseTransaction, BeginThenCommitOrRollback_EndsIt)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    for (bool commit : { true, false }) {
        SCOPED_TRACE(commit ? "commit" : "rollback");
        db->SQLExecute("DELETE FROM fileinfo");
        db->SQLExecute("BEGIN TRANSACTION;");
        AddFile(*db, "Disk:a", "a");
        db->SQLExecute("UPDATE fileinfo SET crc = 'NEW'");
        commit ? db->Commit() : db->Rollback();
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        // A second connection sees only what was committed.
        auto other = DatabaseAt(folder / "crcData.rsd");
        ASSERT_TRUE(other->Connect());
        EXPECT_EQ(ScalarInt(*other, "SELECT count(*) FROM fileinfo"), commit ? 1 : 0);
        // The transaction is over: a further one can begin.
        db->SQLExecute("BEGIN TRANSACTION;");
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        db->Commit();
    }
}

TEST(DatabaseExecute, SeveralStatementsInOneText_AllRun)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    db->SQLExecute("INSERT INTO fileinfo (name) VALUES ('a'); INSERT INTO fileinfo (name) "
                   "VALUES ('b');\n-- done\n");
    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    EXPECT_EQ(ScalarInt(*db, "SELECT count(*) FROM fileinfo"), 2);
    // The first failure stops the text.
    db->SQLExecute("INSERT INTO fileinfo (name) VALUES ('c'); BAD; INSERT INTO fileinfo (name) "
                   "VALUES ('d');");
    EXPECT_TRUE(db->Error());
    EXPECT_EQ(ScalarInt(*db, "SELECT count(*) FROM fileinfo"), 3);
}

// --- records and fields --------------------------------------------------------------------------

TEST(DatabaseInsert, AllColumnKinds_ReadBackWithTheirTypes)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    db->SQLExecute("CREATE TABLE kinds (idx INTEGER PRIMARY KEY, t VARCHAR, i INTEGER, "
                   "b BOOLEAN, f BOOLEAN, d DOUBLE)");
    const std::string text = "It's \"quoted\", ünïcode; -- not a comment";
    DatabaseRecord r;
    r.Column("t", text);
    r.IntegerColumn("i", -9007199254740993LL);
    r.BooleanColumn("b", true);
    r.BooleanColumn("f", false);
    r.DoubleColumn("d", 2.5);
    db->InsertRecord("kinds", r);
    ASSERT_FALSE(db->Error()) << db->ErrorMessage();
    const int64_t id = db->LastRowID();
    EXPECT_GT(id, 0);

    auto rs = db->SQLSelect("SELECT t, i, b, f, d, typeof(t), typeof(i), typeof(b), typeof(d) "
                            "FROM kinds WHERE idx = "
        + std::to_string(id));
    ASSERT_TRUE(rs);
    ASSERT_FALSE(rs->EOF_());
    EXPECT_EQ(rs->Field("t")->StringValue(), text);
    EXPECT_EQ(std::get<std::string>(rs->Field("t")->Value()), text);
    EXPECT_EQ(rs->Field("i")->IntegerValue(), -9007199254740993LL);
    EXPECT_EQ(std::get<int64_t>(rs->Field("i")->Value()), -9007199254740993LL);
    EXPECT_TRUE(rs->Field("b")->BooleanValue());
    EXPECT_EQ(rs->Field("b")->IntegerValue(), 1); // booleans are stored as 1 and 0
    EXPECT_FALSE(rs->Field("f")->BooleanValue());
    EXPECT_EQ(rs->Field("f")->IntegerValue(), 0);
    EXPECT_EQ(std::get<double>(rs->Field("d")->Value()), 2.5);
    EXPECT_EQ(rs->Field("d")->StringValue(), "2.5");
    EXPECT_EQ(rs->IdxField(6)->StringValue(), "text");
    EXPECT_EQ(rs->IdxField(7)->StringValue(), "integer");
    EXPECT_EQ(rs->IdxField(8)->StringValue(), "integer");
    EXPECT_EQ(rs->IdxField(9)->StringValue(), "real");
}

TEST(DatabaseInsert, CatalogueRow_GetsNextIdxAndLeavesParentNull)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    AddFile(*db, "Disk:b", "b");
    EXPECT_EQ(db->LastRowID(), 2);
    db->Commit(); // as the scan does after each insert; nothing is open
    EXPECT_FALSE(db->Error());
    auto rs = db->SQLSelect("SELECT * FROM fileinfo WHERE fullpath = 'Disk:b';");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Field("idx")->IntegerValue(), 2);
    EXPECT_EQ(rs->Field("resource")->StringValue(), "<data>");
    EXPECT_TRUE(rs->Field("parentidx")->IsNull());
    EXPECT_FALSE(rs->Field("exempt")->BooleanValue());
}
