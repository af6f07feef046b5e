#include "platform/database.h"

#include <string>
#include <vector>

#include "tests/platform/database_testing.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace platform;
using namespace dbtest;

namespace {

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

} // namespace

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
