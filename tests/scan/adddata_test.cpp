#include "scantest.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/app.h"
#include "core/globals.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/folderitem.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"

#include <sys/stat.h>

using namespace platform;
using platform::testing::RunAsUnprivilegedUser;
using platform::testing::TempFolder;
using platform::testing::WriteFile;
using scantest::Reports;
using scantest::ScanThread;

namespace {

/// A stored `fileinfo` row, every column as text, NULL as "NULL", with each column's SQLite type.
struct Row
{
    std::vector<std::string> values;
    std::vector<std::string> types;
};

/// A fresh catalogue with the program's schema in Globals::g_DB, and files to scan beside it.
class AddDataTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        chmod(m_tmp.Path().c_str(), 0755);
        mkdir((m_tmp / "files").c_str(), 0755);
        Globals::g_DB = New<Database>();
        Globals::g_DB->DatabaseFile = FolderItem::FromNativePath(m_tmp / "crcData.rsd");
        ASSERT_TRUE(Globals::g_DB->CreateDatabaseFile());
        for (const std::string &sql : CatalogueCreationStatements())
            Globals::g_DB->SQLExecute(sql);
        Globals::g_DB->Commit();
        ASSERT_FALSE(Globals::g_DB->Error()) << Globals::g_DB->ErrorMessage();
        SetDialogProvider(m_dialogs);
    }

    void TearDown() override
    {
        SetDialogProvider(nullptr);
        if (Globals::g_DB)
            Globals::g_DB->Close();
        Globals::g_DB = nullptr;
    }

    Ref<FolderItem> File(const std::string &name, const std::string &contents)
    {
        WriteFile(m_tmp / ("files/" + name), contents);
        return FolderItem::FromNativePath(m_tmp / ("files/" + name));
    }

    /// What the walk does for one digested file.
    std::string Scan(const Ref<FolderItem> &f, int32_t count)
    {
        const std::string crc = m_scan.SHA(f);
        m_scan.AddData(f->ModificationDate(), crc, f->AbsolutePath(), f->Name(), count);
        return crc;
    }

    std::vector<Row> Rows(Database &db)
    {
        static const char *const columns[] = { "idx", "referenceidx", "fullpath", "name",
            "isfolder", "date", "resource", "crc", "exempt", "parentidx" };
        std::string sql = "SELECT ";
        for (const char *c : columns)
            sql += std::string(c) + ", typeof(" + c + "), ";
        sql.resize(sql.size() - 2);
        sql += " FROM fileinfo ORDER BY idx;";
        std::vector<Row> rows;
        const Ref<RecordSet> rs = db.SQLSelect(sql);
        if (!rs)
            throw std::runtime_error(db.ErrorMessage());
        for (; !rs->EOF_(); rs->MoveNext()) {
            Row row;
            for (int i = 0; i < 10; ++i) {
                const auto field = rs->IdxField(2 * i + 1);
                row.values.push_back(field->IsNull() ? "NULL" : field->StringValue());
                row.types.push_back(rs->IdxField(2 * i + 2)->StringValue());
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }
    std::vector<Row> Rows() { return Rows(*Globals::g_DB); }

    TempFolder m_tmp;
    std::shared_ptr<ScriptedDialogs> m_dialogs = std::make_shared<ScriptedDialogs>();
    ScanThread m_scan;
};

TEST_F(AddDataTest, ThreeNewFiles_ThreeRowsEachCommittedWithEveryColumnAsTabled)
{
    const Ref<FolderItem> files[]
        = { File("a.txt", "alpha"), File("b.txt", "beta"), File("c.txt", "gamma") };
    const int32_t counts[] = { 0, 1, 5 }; // resources read in between raise the count
    std::vector<std::string> crcs;
    for (int i = 0; i < 3; ++i)
        crcs.push_back(Scan(files[i], counts[i]));

    // Another connection sees every row: each insert was committed.
    Database other;
    other.DatabaseFile = FolderItem::FromNativePath(m_tmp / "crcData.rsd");
    ASSERT_TRUE(other.Connect());
    const std::vector<Row> rows = Rows(other);
    ASSERT_EQ(rows.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(files[i]->Name());
        const std::vector<std::string> expected = { std::to_string(i + 1),
            std::to_string(counts[i]), files[i]->AbsolutePath(), files[i]->Name(), "0",
            files[i]->ModificationDate().SQLDate(), "<data>", crcs[i], "0", "NULL" };
        EXPECT_EQ(rows[i].values, expected);
        const std::vector<std::string> types = { "integer", "integer", "text", "text", "integer",
            "text", "text", "text", "integer", "null" };
        EXPECT_EQ(rows[i].types, types);
        EXPECT_EQ(rows[i].values[5].size(), 10u) << "the date alone, no time";
    }
    EXPECT_TRUE(m_dialogs->shown.empty());
}

TEST_F(AddDataTest, SameFilesAgain_NothingInsertedAndStoredChecksumKept)
{
    const Ref<FolderItem> files[]
        = { File("a.txt", "alpha"), File("b.txt", "beta"), File("c.txt", "gamma") };
    for (int i = 0; i < 3; ++i)
        Scan(files[i], i);
    const std::vector<Row> first = Rows();

    File("b.txt", "beta, changed");
    int32_t count = 3;
    for (const auto &f : files)
        Scan(f, count++);
    EXPECT_EQ(Rows().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(Rows()[i].values, first[i].values);
}

TEST_F(AddDataTest, PathsWithQuotesOrBlanks_OneRowEachAcrossTwoScans)
{
    const char *const names[]
        = { "it's.txt", "Bob''s.txt", "trailing blank.txt ", " leading.txt", "tab.txt\t", "'" };
    for (int scan = 0; scan < 2; ++scan) {
        for (const char *name : names)
            Scan(File(name, name), scan);
    }
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), std::size(names));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        SCOPED_TRACE(names[i]);
        // Stored exactly as given, untrimmed, from the first scan.
        EXPECT_EQ(rows[i].values[3], names[i]);
        EXPECT_EQ(rows[i].values[2],
            FolderItem::FromNativePath(m_tmp / ("files/" + std::string(names[i])))->AbsolutePath());
        EXPECT_EQ(rows[i].values[1], "0");
    }
}

TEST_F(AddDataTest, UnreadableFile_RowWithEmptyCrc)
{
    const Ref<FolderItem> f = File("secret.txt", "hidden");
    ASSERT_EQ(chmod(f->NativePath().c_str(), 0), 0);
    RunAsUnprivilegedUser(m_tmp, [&] {
        const std::string crc = m_scan.SHA(f);
        EXPECT_EQ(crc, "");
        m_scan.AddData(f->ModificationDate(), crc, f->AbsolutePath(), f->Name(), 0);
        const std::vector<Row> rows = Rows();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].values[7], "");
        EXPECT_EQ(rows[0].types[7], "text");
    });
}

TEST_F(AddDataTest, InsertFails_DatabaseErrorBoxAndNoRowAndScanGoesOn)
{
    Globals::g_DB->SQLExecute("CREATE TRIGGER refuse BEFORE INSERT ON fileinfo "
                              "BEGIN SELECT RAISE(ABORT, 'no room'); END;");
    ASSERT_FALSE(Globals::g_DB->Error());
    Reports reports;
    Scan(File("a.txt", "alpha"), 0);
    EXPECT_EQ(m_dialogs->Messages(),
        std::vector<std::string> { std::string("Database Error") + EndOfLine + "Number: 19"
            + EndOfLine + "Message: no room" });
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(reports.Entries().empty());

    // Nothing was left open: once inserts work again, the next file's row is stored and seen.
    Globals::g_DB->SQLExecute("DROP TRIGGER refuse;");
    Scan(File("b.txt", "beta"), 1);
    Database other;
    other.DatabaseFile = FolderItem::FromNativePath(m_tmp / "crcData.rsd");
    ASSERT_TRUE(other.Connect());
    ASSERT_EQ(Rows(other).size(), 1u);
    EXPECT_EQ(Rows(other)[0].values[3], "b.txt");
    EXPECT_EQ(m_dialogs->shown.size(), 1u);
}

TEST_F(AddDataTest, NoConnection_ReportedWithItsTagNothingShown)
{
    Globals::g_DB->Close();
    Globals::g_DB = nullptr;
    Reports reports;
    Scan(File("a.txt", "alpha"), 0);
    ASSERT_EQ(reports.Entries().size(), 1u);
    EXPECT_EQ(reports.Entries()[0].kind, "NilObjectException");
    EXPECT_EQ(reports.Entries()[0].tag, "clsCRCFolderItem.Methods.AddData");
    EXPECT_TRUE(m_dialogs->shown.empty());
}

} // namespace
