#include "platform/database.h"

#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "platform/exceptions.h"
#include "tests/platform/database_testing.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

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

/// A record set on the one fileinfo row, whose crc holds `text`.
Ref<RecordSet> EditedCrc(Database &db, const std::string &text)
{
    db.SQLExecute("DELETE FROM fileinfo");
    DatabaseRecord r;
    r.Column("crc", text);
    db.InsertRecord("fileinfo", r);
    auto rs = db.SQLSelect("SELECT crc FROM fileinfo");
    if (!rs || rs->EOF_())
        throw std::runtime_error("no row: " + db.ErrorMessage());
    return rs;
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
    // Apart from the words, a text is true when the number it begins with is not zero.
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
        { "' FALSE '", false },
        { "'true enough'", false },
        { "'0.5'", true },
        { "'.5'", true },
        { "' 2 '", true },
        { "'-1'", true },
        { "'12abc'", true },
        { "'1e400'", true },
        { "'-0'", false },
        { "'1e-400'", false },
        { "'-'", false },
        { "'abc'", false },
        { "'nan'", false },
        { "'inf'", false },
        { "'0x10'", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.literal);
        auto rs = db->SQLSelect(std::string("SELECT ") + c.literal + " AS v");
        ASSERT_TRUE(rs);
        EXPECT_EQ(rs->Field("v")->BooleanValue(), c.expected);
        const std::string literal = c.literal;
        if (literal.front() != '\'')
            continue;
        // A text a field was changed to, not yet written, reads the same.
        const std::string text = literal.substr(1, literal.size() - 2);
        auto edited = EditedCrc(*db, text);
        edited->Edit();
        edited->Field("crc")->SetStringValue(text);
        EXPECT_EQ(edited->Field("crc")->BooleanValue(), c.expected);
    }
}

TEST(DatabaseField, IntegerValueOfTextAndReal_ReadAsSqliteReadsThem)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    db->SQLExecute("CREATE TABLE reals (r REAL)");
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    struct TextCase
    {
        const char *text;
        int64_t expected;
    };
    // A text reads as its leading integer, saturated at the ends of the range.
    const TextCase texts[] = {
        { "1e30", 1 },
        { "-1e30", -1 },
        { "1e3", 1 },
        { "12abc", 12 },
        { "", 0 },
        { "   ", 0 },
        { " \t42 ", 42 },
        { "+5", 5 },
        { "-0012", -12 },
        { "1.9", 1 },
        { "-1.9", -1 },
        { ".5", 0 },
        { "-", 0 },
        { "abc", 0 },
        { "nan", 0 },
        { "-inf", 0 },
        { "0x10", 0 },
        { "9223372036854775807", kMax },
        { "9223372036854775808", kMax },
        { "-9223372036854775808", kMin },
        { "-9223372036854775809", kMin },
        { "99999999999999999999999", kMax },
        { "-99999999999999999999999", kMin },
        { "000000000000000000009223372036854775807", kMax },
    };
    for (const auto &c : texts) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        auto rs = EditedCrc(*db, c.text);
        EXPECT_EQ(rs->Field("crc")->IntegerValue(), c.expected); // as stored
        rs->Edit();
        rs->Field("crc")->SetStringValue(c.text);
        EXPECT_EQ(rs->Field("crc")->IntegerValue(), c.expected); // as changed, not yet written
    }
    struct RealCase
    {
        double real;
        int64_t expected;
    };
    // A real is cut towards zero and saturated.
    const RealCase reals[] = {
        { 1e30, kMax },
        { -1e30, kMin },
        { 9223372036854775807.0, kMax }, // 2^63, just past the largest integer
        { -9223372036854775808.0, kMin },
        { 9223372036854774784.0, 9223372036854774784 }, // the largest double below 2^63
        { std::numeric_limits<double>::infinity(), kMax },
        { -std::numeric_limits<double>::infinity(), kMin },
        { std::numeric_limits<double>::quiet_NaN(), 0 }, // stored as NULL
        { 2.9, 2 },
        { -2.9, -2 },
    };
    for (const auto &c : reals) {
        SCOPED_TRACE("real " + std::to_string(c.real));
        db->SQLExecute("DELETE FROM reals");
        DatabaseRecord r;
        r.DoubleColumn("r", c.real);
        db->InsertRecord("reals", r);
        auto rs = db->SQLSelect("SELECT r FROM reals");
        ASSERT_TRUE(rs);
        ASSERT_FALSE(rs->EOF_());
        EXPECT_EQ(rs->Field("r")->IntegerValue(), c.expected);
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

TEST(DatabaseRecordSet, EditUpdate_GroupedOrCombinedRows_RefusedAndNothingWritten)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    db->SQLExecute("CREATE TABLE pair (k INTEGER, v VARCHAR)");
    db->SQLExecute("INSERT INTO pair VALUES (1, 'a'), (3, 'c')");
    for (const char *n : { "a", "b", "c" })
        AddFile(*db, std::string("Disk:") + n, n);
    struct Case
    {
        const char *select; // every select shows "exempt"; an editable one also the row's idx
        bool editable;
    };
    const Case cases[] = {
        { "SELECT exempt, count(*) FROM fileinfo GROUP BY exempt", false },
        { "SELECT exempt FROM fileinfo GROUP BY exempt", false },
        { "SELECT exempt, name FROM fileinfo GROUP BY name HAVING count(*) = 1", false },
        { "SELECT max(idx) AS top, exempt FROM fileinfo", false },
        { "select exempt, GROUP_CONCAT(name) from fileinfo where idx > '1'", false },
        { "SELECT exempt, (sum(idx) + 1) AS s FROM fileinfo", false },
        { "SELECT exempt, total(idx) FILTER (WHERE idx > 1) FROM fileinfo", false },
        { "SELECT exempt, min(idx) OVER () + max(idx) FROM fileinfo", false },
        { "SELECT DISTINCT exempt FROM fileinfo", false },
        { "SELECT exempt FROM fileinfo UNION ALL SELECT exempt FROM fileinfo", false },
        { "SELECT exempt FROM fileinfo, pair WHERE k = idx", false },
        { "SELECT exempt FROM fileinfo JOIN (SELECT 1 AS one) ON one = 1", false },
        // Each row one row of the table, shown once: these stay editable.
        { "SELECT idx, exempt, count(*) OVER () FROM fileinfo", true },
        { "SELECT idx, exempt, count(*) FILTER (WHERE exempt) OVER (ORDER BY idx) FROM fileinfo",
            true },
        { "SELECT idx, exempt, max(idx, 2) FROM fileinfo", true },
        { "SELECT idx, exempt FROM fileinfo WHERE idx IN (SELECT max(k) FROM pair)", true },
        { "SELECT idx, exempt, (SELECT count(*) FROM pair) FROM fileinfo", true },
        { "SELECT idx, exempt, 'count(*) GROUP BY' AS count FROM fileinfo", true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.select);
        db->SQLExecute("UPDATE fileinfo SET exempt = 0");
        auto rs = db->SQLSelect(c.select);
        ASSERT_TRUE(rs) << db->ErrorMessage();
        ASSERT_FALSE(rs->EOF_());
        rs->Edit();
        EXPECT_EQ(db->Error(), !c.editable) << db->ErrorMessage();
        if (!c.editable) {
            EXPECT_EQ(db->ErrorCode(), 21); // misuse
            EXPECT_NE(db->ErrorMessage().find("cannot be edited"), std::string::npos)
                << db->ErrorMessage();
        }
        const std::string shown = c.editable ? rs->Field("idx")->StringValue() : "";
        rs->Field("exempt")->SetBooleanValue(true);
        rs->Update();
        EXPECT_EQ(db->Error(), !c.editable) << db->ErrorMessage();
        EXPECT_EQ(ScalarText(*db, "SELECT group_concat(idx) FROM fileinfo WHERE exempt"), shown);
    }
}

TEST(DatabaseRecordSet, ValueThatCannotBeBound_ErrorAndNoRecordSet)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    const std::string query = "SELECT name FROM fileinfo WHERE fullpath = ";
    ASSERT_EQ(ScalarText(*db, query + "'Disk:a'"), "a"); // prepared and cached, pages read
    const std::string big(8 << 20, 'x');
    {
        // SQLite may take little more memory than it holds: binding a copy of the value fails.
        const sqlite3_int64 before = sqlite3_hard_heap_limit64(sqlite3_memory_used() + (1 << 20));
        auto rs = db->SQLSelect(query + "'" + big + "'");
        EXPECT_TRUE(db->Error());
        EXPECT_EQ(db->ErrorCode(), SQLITE_NOMEM) << db->ErrorMessage();
        EXPECT_EQ(rs, nullptr);
        sqlite3_hard_heap_limit64(before);
    }
    EXPECT_EQ(ScalarText(*db, query + "'Disk:a'"), "a");
    EXPECT_EQ(ScalarText(*db, query + "'" + big + "'"), "<no row>");
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
