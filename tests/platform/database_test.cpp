#include "platform/database.h"

#include <cstdio>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/application.h"
#include "platform/folderitem.h"
#include "platform/testsupport.h"
#include "platform/thread.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace platform;
using platform::testing::ReadFile;
using platform::testing::TempFolder;
using platform::testing::WriteFile;

namespace {

const char *const kCatalogueSchema[] = {
    "CREATE TABLE fileinfo (idx INTEGER PRIMARY KEY, referenceidx INTEGER, fullpath VARCHAR, "
    "name VARCHAR, isfolder BOOLEAN,date DATE, resource VARCHAR, crc VARCHAR, exempt BOOLEAN, "
    "parentidx INTEGER);",
    "CREATE UNIQUE INDEX fileinfo_index_idx ON fileinfo(idx);",
    "CREATE INDEX fileinfo_index_paridx ON fileinfo(parentidx);",
    "CREATE INDEX fileinfo_index_path ON fileinfo(fullpath);",
};

bool Exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

Ref<Database> DatabaseAt(const std::string &path)
{
    auto db = New<Database>();
    db->DatabaseFile = FolderItem::FromNativePath(path);
    return db;
}

/// A new database file with the catalogue's table, connected.
Ref<Database> NewCatalogue(const TempFolder &folder, const std::string &name = "crcData.rsd")
{
    auto db = DatabaseAt(folder / name);
    if (!db->CreateDatabaseFile())
        throw std::runtime_error("cannot create " + folder / name + ": " + db->ErrorMessage());
    for (const char *sql : kCatalogueSchema)
        db->SQLExecute(sql);
    if (db->Error())
        throw std::runtime_error(db->ErrorMessage());
    return db;
}

void AddFile(Database &db, const std::string &path, const std::string &name, bool exempt = false)
{
    DatabaseRecord r;
    r.IntegerColumn("referenceidx", 1);
    r.Column("resource", "<data>");
    r.Column("crc", "ABC");
    r.BooleanColumn("exempt", exempt);
    r.Column("date", "2024-05-01");
    r.Column("fullpath", path);
    r.Column("name", name);
    r.BooleanColumn("isfolder", false);
    db.InsertRecord("fileinfo", r);
    if (db.Error())
        throw std::runtime_error(db.ErrorMessage());
}

std::string ScalarText(Database &db, const std::string &sql)
{
    auto rs = db.SQLSelect(sql);
    if (!rs)
        return "<no record set: " + db.ErrorMessage() + ">";
    if (rs->EOF_())
        return "<no row>";
    return rs->IdxField(1)->StringValue();
}

int64_t ScalarInt(Database &db, const std::string &sql)
{
    auto rs = db.SQLSelect(sql);
    if (!rs || rs->EOF_())
        return -1;
    return rs->IdxField(1)->IntegerValue();
}

std::shared_ptr<Thread> Start(std::function<void()> body)
{
    auto t = std::make_shared<platform::testing::LambdaThread>(std::move(body));
    t->Run();
    return t;
}

bool Ended(const std::vector<std::shared_ptr<Thread>> &threads)
{
    for (const auto &t : threads) {
        if (t->GetState() != Thread::State::NotRunning)
            return false;
    }
    return true;
}

/// Turns the event loop (which runs the threads) until they have all ended; bounded.
bool RunToEnd(const std::vector<std::shared_ptr<Thread>> &threads)
{
    return ProcessEventsUntil([&] { return Ended(threads); }, 10000);
}

/// A result as text: the column names, then each row's values with their storage types.
class ResultText
{
public:
    void Names(const std::vector<std::string> &names)
    {
        for (const auto &n : names)
            m_text += n + "|";
        m_text += "\n";
    }
    void Value(const DatabaseField::Variant &v)
    {
        struct
        {
            std::string operator()(std::nullptr_t) const { return "null"; }
            std::string operator()(int64_t i) const { return "i:" + std::to_string(i); }
            std::string operator()(double d) const { return "r:" + std::to_string(d); }
            std::string operator()(const std::string &s) const { return "t:" + s; }
            std::string operator()(const std::vector<uint8_t> &b) const
            {
                return "b:" + std::string(b.begin(), b.end());
            }
        } visitor;
        m_text += std::visit(visitor, v) + "|";
    }
    void EndRow() { m_text += "\n"; }
    const std::string &Text() const { return m_text; }

private:
    std::string m_text;
};

/// What SQLite itself gives for the text as written, on a connection of its own to the file.
std::string RunAsWritten(const std::string &path, const std::string &sql)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open";
    }
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt, nullptr) != SQLITE_OK
        || !stmt) {
        sqlite3_close(db);
        return "error";
    }
    ResultText out;
    std::vector<std::string> names;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i)
        names.emplace_back(sqlite3_column_name(stmt, i));
    out.Names(names);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            switch (sqlite3_column_type(stmt, i)) {
            case SQLITE_INTEGER:
                out.Value(int64_t(sqlite3_column_int64(stmt, i)));
                break;
            case SQLITE_FLOAT:
                out.Value(sqlite3_column_double(stmt, i));
                break;
            case SQLITE_TEXT:
                out.Value(std::string(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i)),
                    std::size_t(sqlite3_column_bytes(stmt, i))));
                break;
            case SQLITE_BLOB: {
                const auto *p = static_cast<const uint8_t *>(sqlite3_column_blob(stmt, i));
                out.Value(std::vector<uint8_t>(p, p + sqlite3_column_bytes(stmt, i)));
                break;
            }
            default:
                out.Value(nullptr);
            }
        }
        out.EndRow();
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rc == SQLITE_DONE ? out.Text() : "error";
}

/// What SQLSelect gives for the same text; its RecordCount must count the rows it steps through.
std::string RunThroughSelect(Database &db, const std::string &sql)
{
    auto rs = db.SQLSelect(sql);
    if (!rs)
        return "error";
    const int64_t counted = rs->RecordCount();
    ResultText out;
    std::vector<std::string> names;
    for (int i = 1; i <= rs->FieldCount(); ++i)
        names.push_back(rs->IdxField(i)->Name());
    out.Names(names);
    int64_t rows = 0;
    for (; !rs->EOF_(); rs->MoveNext(), ++rows) {
        for (int i = 1; i <= rs->FieldCount(); ++i)
            out.Value(rs->IdxField(i)->Value());
        out.EndRow();
    }
    if (db.Error())
        return "error";
    if (counted != rows)
        return "RecordCount " + std::to_string(counted) + " of " + std::to_string(rows) + " rows";
    return out.Text();
}

int64_t ResidentBytes()
{
    long pages = 0, resident = 0;
    FILE *f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return -1;
    const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return n == 2 ? int64_t(resident) * sysconf(_SC_PAGESIZE) : -1;
}

} // namespace

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

TEST(DatabaseField, NullColumn_ReadsEmptyZeroFalse)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    DatabaseRecord r;
    r.Column("fullpath", "Disk:folder:");
    db->InsertRecord("fileinfo", r);
    auto rs = db->SQLSelect("SELECT crc, exempt, parentidx, NULL AS unset FROM fileinfo");
    ASSERT_TRUE(rs);
    ASSERT_FALSE(rs->EOF_());
    for (int i = 1; i <= rs->FieldCount(); ++i) {
        auto f = rs->IdxField(i);
        SCOPED_TRACE(f->Name());
        EXPECT_TRUE(f->IsNull());
        EXPECT_EQ(f->StringValue(), "");
        EXPECT_EQ(f->IntegerValue(), 0);
        EXPECT_FALSE(f->BooleanValue());
        EXPECT_TRUE(std::holds_alternative<std::nullptr_t>(f->Value()));
    }
}

TEST(DatabaseField, BooleanReadings_TextAndNumbers)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    struct Case
    {
        const char *literal;
        bool expected;
    };
    const Case cases[] = {
        { "1", true },
        { "0", false },
        { "'1'", true },
        { "'0'", false },
        { "2", true },
        { "-1", true },
        { "0.0", false },
        { "0.5", true },
        { "'True'", true },
        { "'false'", false },
        { "''", false },
        { "NULL", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.literal);
        auto rs = db->SQLSelect(std::string("SELECT ") + c.literal + " AS v");
        ASSERT_TRUE(rs);
        EXPECT_EQ(rs->Field("v")->BooleanValue(), c.expected);
    }
}

TEST(DatabaseField, Lookup_CaseInsensitiveNamesAndOneBasedIndex)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    auto rs = db->SQLSelect("SELECT name, crc AS Checksum FROM fileinfo");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->FieldCount(), 2);
    EXPECT_EQ(rs->Field("NAME")->StringValue(), "a");
    EXPECT_EQ(rs->Field("checksum")->StringValue(), "ABC");
    EXPECT_EQ(rs->IdxField(1)->Name(), "name");
    EXPECT_EQ(rs->IdxField(2)->StringValue(), "ABC");
    EXPECT_EQ(rs->Field("crc"), nullptr); // the column is known by its alias
    EXPECT_EQ(rs->Field("missing"), nullptr);
    EXPECT_EQ(rs->IdxField(0), nullptr);
    EXPECT_EQ(rs->IdxField(3), nullptr);
    EXPECT_THROW(rs->Field("missing")->StringValue(), NilObjectException);
}

TEST(DatabaseSelect, LiteralsOfAnyText_EachFindsItsOwnRow)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    const std::string names[] = {
        "plain",
        "it's",
        "two '' quotes",
        "semi;colon",
        "dash -- dash",
        "question?",
        "Disk:a:b:",
        "",
        "ünïcode",
        "100%_done\\",
        "/* not a comment */",
    };
    for (const auto &n : names)
        AddFile(*db, "Disk:" + n, n);
    auto quoted = [](const std::string &s) {
        std::string out;
        for (char ch : s)
            out += ch == '\'' ? std::string("''") : std::string(1, ch);
        return out;
    };
    for (const auto &n : names) {
        SCOPED_TRACE(n);
        // The same statement with another value each time, as the scan's lookups by path.
        auto rs = db->SQLSelect("SELECT 'found' AS tag, name FROM fileinfo WHERE name = '"
            + quoted(n) + "' AND resource = '<data>';");
        ASSERT_TRUE(rs) << db->ErrorMessage();
        ASSERT_FALSE(rs->EOF_());
        EXPECT_EQ(rs->Field("tag")->StringValue(), "found");
        EXPECT_EQ(rs->Field("name")->StringValue(), n);
        EXPECT_EQ(rs->RecordCount(), 1);
        rs->MoveNext();
        EXPECT_TRUE(rs->EOF_());
    }
    // Literals in the column list and in ORDER BY keep their meaning.
    EXPECT_EQ(ScalarText(*db,
                  "SELECT name FROM fileinfo WHERE name LIKE '%?' ESCAPE '\\' ORDER "
                  "BY 1 DESC"),
        "question?");
    EXPECT_EQ(
        ScalarInt(*db, "SELECT count(*) FROM fileinfo WHERE name = 'it''s' OR name = 'plain'"), 2);
    // A parameter of the caller's own cannot be bound.
    EXPECT_EQ(db->SQLSelect("SELECT name FROM fileinfo WHERE name = ?"), nullptr);
    EXPECT_TRUE(db->Error());
}

TEST(DatabaseSelect, LiteralsAsParameters_SameResultAsTextAsWritten)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    for (const char *n : { "a", "b", "it's", "a_b", "ab", "a = FROM b", "not UTF-8 \xff\xfe" })
        AddFile(*db, std::string("Disk:") + n, n, std::string(n) == "b");
    db->SQLExecute("CREATE TABLE pair (k INTEGER, v VARCHAR)");
    db->SQLExecute("INSERT INTO pair VALUES (1, 'a'), (2, 'b')");
    ASSERT_FALSE(db->Error()) << db->ErrorMessage();
    const char *cases[] = {
        "SELECT * FROM fileinfo WHERE idx = '5'",
        "SELECT name FROM fileinfo WHERE '3' = idx",
        "SELECT name FROM fileinfo WHERE rowid = '2'",
        "SELECT name FROM fileinfo WHERE idx = ' 4 '",
        "SELECT name FROM fileinfo WHERE idx = '4.0'",
        "SELECT name FROM fileinfo WHERE referenceidx = '1'",
        "SELECT name FROM fileinfo WHERE exempt = '1'",
        "SELECT name FROM fileinfo WHERE date = '2024-05-01'",
        "SELECT name FROM fileinfo WHERE fullpath = 'Disk:it''s'",
        "SELECT name FROM fileinfo WHERE fullpath = 'Disk:not UTF-8 \xff\xfe'",
        "SELECT name FROM fileinfo WHERE name LIKE 'a\\_%' ESCAPE '\\'",
        "SELECT name FROM fileinfo WHERE name LIKE 'A%'",
        "SELECT name FROM fileinfo WHERE name GLOB 'a*'",
        "SELECT name FROM fileinfo WHERE name = 'A' COLLATE NOCASE",
        "SELECT 'x' = 'x', name = 'a', 'FROM' FROM fileinfo WHERE name = 'a'",
        "SELECT name = 'a' FROM fileinfo ORDER BY name = 'b', idx",
        "SELECT * FROM (SELECT name = 'a' FROM fileinfo)",
        "SELECT * FROM (SELECT name, name = 'a' FROM fileinfo) WHERE name <> 'b'",
        "SELECT name IS DISTINCT FROM 'a', name = 'b' FROM fileinfo",
        "SELECT name FROM fileinfo WHERE idx IN (SELECT k FROM pair WHERE v = 'b')",
        "SELECT (SELECT v FROM pair WHERE v = 'a') AS sub, name FROM fileinfo WHERE idx < 3",
        "SELECT 'a FROM b = ''c''' AS t, name FROM fileinfo WHERE name = 'a = FROM b'",
        "SELECT name FROM fileinfo -- it's = 'a'\nWHERE name = /* 'b' */ 'a'",
        "SELECT name FROM fileinfo WHERE name = 'a' || 'b'",
        "SELECT name FROM fileinfo WHERE 'a' || 'b' = name",
        "SELECT name FROM fileinfo WHERE name == 'b' OR name != 'a' AND name >= 'it'",
        "SELECT name FROM fileinfo WHERE name = \"a\"",
        "SELECT count(*) FROM fileinfo WHERE 'a' = 'a'",
        "SELECT k, v FROM pair WHERE k = '1' UNION SELECT idx, name FROM fileinfo WHERE name = 'b'",
        "SELECT name FROM fileinfo WHERE name = 'a'; SELECT 'other'",
        "SELECT name FROM fileinfo ORDER BY 2",
        "SELECT name FROM fileinfo GROUP BY 2",
        "SELECT name FROM fileinfo UNION SELECT k, v FROM pair",
        "SELECT name FROM fileinfo UNION ALL SELECT * FROM pair",
        "SELECT * FROM pair UNION ALL SELECT name FROM fileinfo",
        "SELECT name FROM fileinfo WHERE name = 'a' ESCAPE 'b'",
        "SELECT name FROM fileinfo WHERE name LIKE 'a' ESCAPE 'ab'",
        "SELECT * FROM (SELECT name = 'a' FROM fileinfo WHERE name <> 'b')",
        "SELECT k FROM pair WHERE v = 'a' UNION ALL "
        "SELECT name = 'b' FROM fileinfo WHERE name = 'b'",
        "SELECT name = 'a' FROM fileinfo WHERE idx > 0 UNION SELECT v = 'a' FROM pair "
        "ORDER BY name = 'a'",
        "SELECT name FROM fileinfo WHERE name IS DISTINCT FROM 'a' AND name != 'b'",
        "SELECT name FROM fileinfo WHERE idx > '1' ORDER BY idx LIMIT 2 OFFSET 1",
        "SELECT name FROM fileinfo WHERE name IN ('a', 'b') OR name BETWEEN 'it' AND 'iu'",
        "SELECT name FROM fileinfo WHERE CASE name WHEN 'a' THEN 1 ELSE name = 'b' END",
        "SELECT name FROM fileinfo WHERE crc = x'414243' OR crc = 'ABC'",
        "SELECT exempt, count(*) FROM fileinfo WHERE name <> 'a' GROUP BY exempt HAVING count(*) "
        "> '0'",
    };
    for (const char *sql : cases) {
        SCOPED_TRACE(sql);
        const std::string asWritten = RunAsWritten(folder / "crcData.rsd", sql);
        // Twice: the second time the prepared statement comes from the cache.
        EXPECT_EQ(RunThroughSelect(*db, sql), asWritten);
        EXPECT_EQ(RunThroughSelect(*db, sql), asWritten);
    }
    // A quoted number finds its row by an INTEGER column, as SQLite compares it.
    EXPECT_EQ(ScalarText(*db, "SELECT name FROM fileinfo WHERE idx = '5'"), "ab");
}

// --- record sets ---------------------------------------------------------------------------------

TEST(DatabaseRecordSet, Stepping_FirstRowAtOnceEofAfterLast)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    for (const char *n : { "a", "b", "c" })
        AddFile(*db, std::string("Disk:") + n, n);
    auto rs = db->SQLSelect("SELECT name FROM fileinfo ORDER BY idx");
    ASSERT_TRUE(rs);
    EXPECT_TRUE(rs->BOF());
    std::string seen;
    while (!rs->EOF_()) {
        seen += rs->Field("name")->StringValue();
        rs->MoveNext();
        EXPECT_FALSE(rs->BOF());
    }
    EXPECT_EQ(seen, "abc");
    rs->MoveNext(); // past the end stays at the end
    EXPECT_TRUE(rs->EOF_());
    EXPECT_EQ(rs->Field("name")->StringValue(), "");

    auto empty = db->SQLSelect("SELECT name FROM fileinfo WHERE name = 'none'");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->EOF_());
    EXPECT_TRUE(empty->BOF());
    EXPECT_EQ(empty->RecordCount(), 0);
}

TEST(DatabaseRecordSet, RecordCount_CountsWholeResult)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    for (int i = 0; i < 5; ++i)
        AddFile(*db, "Disk:f" + std::to_string(i), "f" + std::to_string(i), i % 2 == 0);
    struct Case
    {
        const char *sql;
        int64_t expected;
    };
    const Case cases[] = {
        { "SELECT * FROM fileinfo", 5 },
        { "SELECT name FROM fileinfo WHERE exempt = 1;", 3 },
        { "SELECT * FROM fileinfo WHERE idx = '2'", 1 },
        { "SELECT name FROM fileinfo WHERE fullpath = 'none';", 0 },
        { "SELECT Count(*) FROM fileinfo WHERE fullpath LIKE '%f%' ESCAPE '\\' ORDER BY idx;", 1 },
        { "SELECT name FROM fileinfo ORDER BY idx DESC -- newest first\n;", 5 },
        { "SELECT DISTINCT exempt FROM fileinfo", 2 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sql);
        auto rs = db->SQLSelect(c.sql);
        ASSERT_TRUE(rs) << db->ErrorMessage();
        EXPECT_EQ(rs->RecordCount(), c.expected);
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        if (!rs->EOF_())
            rs->MoveNext();
        EXPECT_EQ(rs->RecordCount(), c.expected); // the whole result, not what is left
    }
}

TEST(DatabaseRecordSet, InsertsWhileOpen_SetKeepsStepping)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    for (const char *n : { "a", "b", "c" })
        AddFile(*db, std::string("Disk:") + n, n);
    auto rs = db->SQLSelect("SELECT name FROM fileinfo ORDER BY idx");
    ASSERT_TRUE(rs);
    // The same text again while the first set is open, as a loader and a scan both could.
    auto same = db->SQLSelect("SELECT name FROM fileinfo ORDER BY idx");
    ASSERT_TRUE(same);
    std::string seen;
    for (int i = 0; i < 3 && !rs->EOF_(); ++i) {
        seen += rs->Field("name")->StringValue();
        AddFile(*db, "Disk:new" + std::to_string(i), "new" + std::to_string(i));
        db->Commit();
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        // Unrelated statements, enough to push the set's text out of the statement cache.
        for (int k = 0; k < 100; ++k)
            (void)db->SQLSelect("SELECT " + std::to_string(k));
        rs->MoveNext();
    }
    EXPECT_EQ(seen, "abc");
    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    EXPECT_EQ(same->Field("name")->StringValue(), "a");
    same->MoveNext();
    EXPECT_EQ(same->Field("name")->StringValue(), "b");
    EXPECT_EQ(ScalarInt(*db, "SELECT count(*) FROM fileinfo"), 6);
}

TEST(DatabaseRecordSet, ConnectionClosed_SetEndsAndReadsNothing)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    auto rs = db->SQLSelect("SELECT name FROM fileinfo");
    ASSERT_TRUE(rs);
    auto field = rs->Field("name");
    db->Close();
    EXPECT_TRUE(rs->EOF_());
    EXPECT_EQ(field->StringValue(), "");
    rs->MoveNext();
    rs->Edit();
    rs->Update();
    db = nullptr; // the set outlives its database
    EXPECT_TRUE(rs->EOF_());
    rs->Close();
    rs = nullptr;
    EXPECT_EQ(field->StringValue(), ""); // and the field its set
}

TEST(DatabaseRecordSet, EditUpdate_WritesCurrentRowOnly)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    db->SQLExecute("CREATE TABLE plain (name VARCHAR, exempt BOOLEAN)"); // rowid without an alias
    db->SQLExecute("INSERT INTO plain VALUES ('a', 0), ('b', 0), ('c', 0)");
    for (const char *n : { "a", "b", "c" })
        AddFile(*db, std::string("Disk:") + n, n);

    struct Case
    {
        const char *table;
        const char *select;
        const char *field;
    };
    const Case cases[] = {
        { "fileinfo", "SELECT exempt FROM fileinfo WHERE name = 'b' AND resource = '<data>';",
            "exempt" },
        { "fileinfo", "SELECT * FROM fileinfo WHERE idx = '2'", "exempt" },
        { "fileinfo", "select name, exempt as e from fileinfo where fullpath = 'Disk:b'", "e" },
        { "plain", "SELECT exempt FROM plain WHERE name = 'b'", "exempt" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.select);
        const std::string table = c.table;
        db->SQLExecute("UPDATE " + table + " SET exempt = 0");
        auto rs = db->SQLSelect(c.select);
        ASSERT_TRUE(rs) << db->ErrorMessage();
        ASSERT_FALSE(rs->EOF_());
        rs->Edit();
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        rs->Field(c.field)->SetBooleanValue(true);
        EXPECT_TRUE(rs->Field(c.field)->BooleanValue()); // the change reads back at once
        rs->Update();
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        db->Commit();
        EXPECT_EQ(ScalarText(*db,
                      "SELECT group_concat(name || exempt, ',') FROM (SELECT * FROM " + table
                          + " ORDER BY name)"),
            "a0,b1,c0");
    }

    // Text and integer changes of several fields at once.
    auto rs = db->SQLSelect("SELECT * FROM fileinfo WHERE name = 'c'");
    ASSERT_TRUE(rs);
    rs->Edit();
    rs->Field("crc")->SetStringValue("0123");
    rs->Field("referenceidx")->SetIntegerValue(77);
    rs->Update();
    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    EXPECT_EQ(ScalarText(*db, "SELECT crc || '/' || referenceidx FROM fileinfo WHERE name = 'c'"),
        "0123/77");
}

TEST(DatabaseRecordSet, EditUpdate_NotPossible_SetsError)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    struct Case
    {
        const char *why;
        const char *select;
        bool editOk;
    };
    const Case cases[] = {
        { "aggregate", "SELECT count(*) AS exempt FROM fileinfo", false },
        { "no table", "SELECT 1 AS exempt", false },
        { "join", "SELECT a.exempt FROM fileinfo a JOIN fileinfo b ON a.idx = b.idx", false },
        { "expression column", "SELECT exempt + 0 AS exempt, name FROM fileinfo", true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        auto rs = db->SQLSelect(c.select);
        ASSERT_TRUE(rs) << db->ErrorMessage();
        rs->Edit();
        EXPECT_EQ(db->Error(), !c.editOk) << db->ErrorMessage();
        if (c.editOk)
            rs->Field("exempt")->SetBooleanValue(true);
        rs->Update();
        EXPECT_TRUE(db->Error());
        EXPECT_FALSE(db->ErrorMessage().empty());
    }
    EXPECT_EQ(ScalarInt(*db, "SELECT exempt FROM fileinfo"), 0);

    // Changing a field or updating without Edit.
    auto rs = db->SQLSelect("SELECT exempt FROM fileinfo");
    ASSERT_TRUE(rs);
    rs->Field("exempt")->SetBooleanValue(true);
    EXPECT_TRUE(db->Error());
    rs->Update();
    EXPECT_TRUE(db->Error());
    // A row that went away meanwhile.
    rs->Edit();
    rs->Field("exempt")->SetBooleanValue(true);
    db->SQLExecute("DELETE FROM fileinfo");
    ASSERT_FALSE(db->Error()) << db->ErrorMessage();
    rs->Update();
    EXPECT_TRUE(db->Error());
}

TEST(DatabaseRecordSet, MillionRows_MemoryStaysFlat)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed blocks in quarantine: resident size says nothing";
#endif
    TempFolder folder;
    auto db = DatabaseAt(folder / "big.rsd");
    ASSERT_TRUE(db->CreateDatabaseFile());
    // The catalogue's table without its indexes, which would only slow the filling down.
    db->SQLExecute(std::string(kCatalogueSchema[0]));
    db->SQLExecute("BEGIN TRANSACTION;");
    db->SQLExecute("INSERT INTO fileinfo (fullpath, name, crc) WITH RECURSIVE n(i) AS (SELECT 1 "
                   "UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) SELECT 'Disk:folder:file' "
                   "|| i, 'file' || i, hex(randomblob(32)) FROM n");
    db->Commit();
    ASSERT_FALSE(db->Error()) << db->ErrorMessage();

    const int64_t before = ResidentBytes();
    ASSERT_GT(before, 0);
    auto rs = db->SQLSelect("SELECT * FROM fileinfo");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->RecordCount(), 1000000);
    int64_t rows = 0, bytes = 0;
    while (!rs->EOF_()) {
        bytes += int64_t(rs->Field("fullpath")->StringValue().size());
        bytes += int64_t(rs->Field("crc")->StringValue().size());
        ++rows;
        rs->MoveNext();
    }
    const int64_t growth = ResidentBytes() - before;
    EXPECT_EQ(rows, 1000000);
    EXPECT_GT(bytes, 64 * 1000000);
    EXPECT_LT(growth, 64 << 20) << "resident memory grew by " << growth << " bytes";
}

// --- transactions and cooperative threads --------------------------------------------------------

class DatabaseThreads : public ::testing::TestWithParam<bool>
{
};

TEST_P(DatabaseThreads, OtherThreadsStatement_WaitsForOwnersEnd)
{
    const bool ownerCommits = GetParam();
    TempFolder folder;
    auto db = NewCatalogue(folder);
    std::vector<std::string> log;

    auto a = Start([&] {
        db->SQLExecute("BEGIN TRANSACTION;");
        AddFile(*db, "Disk:a", "a");
        log.push_back("A inserted");
        for (int i = 0; i < 5; ++i) {
            Yield();
            log.push_back("A yielded");
        }
        ownerCommits ? db->Commit() : db->Rollback();
        log.push_back(ownerCommits ? "A committed" : "A rolled back");
    });
    auto b = Start([&] {
        Yield(); // A has begun by now
        log.push_back("B inserts");
        AddFile(*db, "Disk:b", "b");
        log.push_back("B inserted");
        db->Commit(); // there is nothing of B's to commit
        db->Rollback(); // and nothing of A's to end
        log.push_back("B done");
    });
    ASSERT_TRUE(RunToEnd({ a, b }));

    // B asks while A's transaction is open and gets its turn only once A has ended it.
    const std::vector<std::string> expected = {
        "A inserted",
        "A yielded",
        "B inserts",
        "A yielded",
        "A yielded",
        "A yielded",
        "A yielded",
        ownerCommits ? "A committed" : "A rolled back",
        "B inserted",
        "B done",
    };
    EXPECT_EQ(log, expected);
    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    EXPECT_EQ(ScalarText(*db, "SELECT group_concat(name, ',') FROM fileinfo"),
        ownerCommits ? "a,b" : "b");
}

TEST_P(DatabaseThreads, GuiStatement_WaitsForThreadsTransaction)
{
    const bool ownerCommits = GetParam();
    TempFolder folder;
    auto db = NewCatalogue(folder);
    bool ended = false;
    auto a = Start([&] {
        db->SQLExecute("BEGIN TRANSACTION;");
        AddFile(*db, "Disk:a", "a");
        for (int i = 0; i < 3; ++i)
            Yield();
        CurrentThread()->Sleep(5); // the GUI's wait turns the event loop for the timer
        ownerCommits ? db->Commit() : db->Rollback();
        ended = true;
    });
    Yield(); // one round: A begins its transaction and inserts
    ASSERT_EQ(a->GetState(), Thread::State::Ready);
    EXPECT_FALSE(ended);
    AddFile(*db, "Disk:gui", "gui"); // GUI code: waits until A has ended its transaction
    EXPECT_TRUE(ended);
    ASSERT_TRUE(RunToEnd({ a }));
    EXPECT_EQ(ScalarText(*db, "SELECT group_concat(name, ',') FROM fileinfo"),
        ownerCommits ? "a,gui" : "gui");
}

INSTANTIATE_TEST_SUITE_P(DatabaseOwner, DatabaseThreads, ::testing::Values(true, false),
    [](const auto &info) { return info.param ? "Commits" : "RollsBack"; });

TEST(DatabaseThreadsEnded, OwnerEndsWithTransactionOpen_RolledBackNotWaitedFor)
{
    for (bool keepObject : { true, false }) {
        SCOPED_TRACE(keepObject ? "thread object kept" : "thread object gone");
        TempFolder folder;
        auto db = NewCatalogue(folder);
        auto a = Start([&] {
            db->SQLExecute("BEGIN TRANSACTION;");
            AddFile(*db, "Disk:a", "a");
        });
        ASSERT_TRUE(RunToEnd({ a }));
        if (!keepObject)
            a = nullptr;
        AddFile(*db, "Disk:gui", "gui");
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        db->Commit();
        auto other = DatabaseAt(folder / "crcData.rsd");
        ASSERT_TRUE(other->Connect());
        EXPECT_EQ(ScalarText(*other, "SELECT group_concat(name, ',') FROM fileinfo"), "gui");
    }
}

TEST(DatabaseThreadsEnded, GuiTransaction_ThreadWaitsUntilGuiCommits)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    db->SQLExecute("BEGIN TRANSACTION;");
    AddFile(*db, "Disk:gui", "gui");
    bool inserted = false;
    auto b = Start([&] {
        AddFile(*db, "Disk:b", "b");
        inserted = true;
    });
    for (int i = 0; i < 5; ++i) {
        Yield(); // GUI code that yields in a loop, as a drop handler does
        // A thread started now runs after B's next turn: once it has run, B has had its turn.
        bool turned = false;
        Start([&] { turned = true; });
        ASSERT_TRUE(ProcessEventsUntil([&] { return turned; }, 10000));
        EXPECT_FALSE(inserted);
    }
    db->Rollback();
    ASSERT_TRUE(RunToEnd({ b }));
    EXPECT_TRUE(inserted);
    EXPECT_EQ(ScalarText(*db, "SELECT group_concat(name, ',') FROM fileinfo"), "b");
}

TEST(DatabaseThreadsEnded, ConnectionReopenedWhileWaiting_RecordSetCallsFailWithError)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    struct Case
    {
        const char *call;
        std::function<void(RecordSet &)> run;
    };
    const Case cases[] = {
        { "RecordCount", [](RecordSet &rs) { EXPECT_EQ(rs.RecordCount(), -1); } },
        { "Update",
            [](RecordSet &rs) {
                rs.Edit();
                rs.Field("exempt")->SetBooleanValue(true);
                rs.Update();
            } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.call);
        auto rs = db->SQLSelect("SELECT exempt FROM fileinfo");
        ASSERT_TRUE(rs);
        auto a = Start([&] {
            db->SQLExecute("BEGIN TRANSACTION;");
            AddFile(*db, "Disk:b", "b");
            for (int i = 0; i < 3; ++i)
                Yield();
            db->Close(); // ends the transaction and every record set of the connection
            db->Connect();
        });
        Yield(); // one round: A begins its transaction
        ASSERT_EQ(a->GetState(), Thread::State::Ready);
        c.run(*rs); // GUI code: waits until A has closed the connection and opened it again
        EXPECT_TRUE(db->Error());
        ASSERT_TRUE(RunToEnd({ a }));
        ASSERT_TRUE(db->IsConnected());
        EXPECT_EQ(ScalarText(*db, "SELECT group_concat(name || exempt, ',') FROM fileinfo"), "a0");
    }
}
