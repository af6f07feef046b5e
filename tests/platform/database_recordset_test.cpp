#include "platform/database.h"

#include <cstdio>
#include <string>
#include <unistd.h>

#include "platform/exceptions.h"
#include "tests/platform/database_testing.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace dbtest;

namespace {

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
