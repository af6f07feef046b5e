#include "core/app.h"
#include "core/filetypes.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/folderitem.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace platform;
using platform::testing::TempFolder;

TEST(SQLText, SQLizeTextAndEscape_EdgeCases)
{
    struct Case
    {
        const char *name;
        std::string in;
        std::string sqlized;
        std::string escaped;
    };
    const Case cases[] = {
        { "blanks trimmed", "  Notes.txt \t", "Notes.txt", "  Notes.txt \t" },
        { "only blanks", "   ", "", "   " },
        { "two quotes doubled in place", "it's Bob's", "it''s Bob''s", "it's Bob's" },
        { "adjacent quotes", "''", "''''", "''" },
        { "NUL removed", std::string("a\0b", 3), "ab", std::string("a\0b", 3) },
        { "non-ASCII kept", "Résumé ✓", "Résumé ✓", "Résumé ✓" },
        { "LIKE specials", "50%_off\\", "50%_off\\", "50\\%\\_off\\\\" },
        { "backslash before percent", "\\%", "\\%", "\\\\\\%" },
        { "empty", "", "", "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Globals::SQLizeText(c.in), c.sqlized);
        EXPECT_EQ(Globals::Escape(c.in), c.escaped);
    }
}

namespace {

/// What a run of the program looked like from inside, read at the end of the application's Open.
struct Observed
{
    bool opened = false;
    bool dbExists = false;
    std::string title;
    bool connected = false;
};

class RecordingApp : public App
{
public:
    explicit RecordingApp(Observed &o)
        : m_o(o)
    {
    }
    void Event_Open() override
    {
        App::Event_Open();
        m_o.opened = true;
        m_o.dbExists = DBExists;
        m_o.title = MainWindow()->Title();
        m_o.connected = Globals::g_DB && Globals::g_DB->IsConnected();
    }

private:
    Observed &m_o;
};

struct RunResult
{
    int exitCode = -1;
    Observed seen;
    std::vector<std::string> messages;
};

/// Runs the application object in `appFolder` with scripted dialogs, a plain window standing in
/// for the main window (whose class is above this layer); once the run is up, ends it. (The
/// program's own start-up is tested with the layer that holds it.)
RunResult RunApp(const std::string &appFolder)
{
    RunResult r;
    SetApplicationFolder(appFolder);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);
    Globals::Initialize();
    static char arg0[] = "tallowmere";
    char *argv[] = { arg0, nullptr };
    auto ender = std::make_shared<platform::testing::LambdaThread>([] { Quit(0); });
    r.exitCode = Run(
        1, argv,
        [&] {
            RegisterApplication(std::make_shared<RecordingApp>(r.seen));
            SetMainWindow(MakeWindow<Window>());
            ender->Run();
        },
        Globals::Finalize);
    r.messages = dialogs->Messages();
    SetDialogProvider(nullptr);
    return r;
}

std::vector<std::string> Rows(Database &db, const std::string &sql)
{
    std::vector<std::string> out;
    auto rs = db.SQLSelect(sql);
    EXPECT_TRUE(rs) << db.ErrorMessage();
    if (!rs)
        return out;
    for (; !rs->EOF_(); rs->MoveNext()) {
        std::string row;
        for (int i = 1; i <= rs->FieldCount(); ++i)
            row += (i > 1 ? "|" : "") + rs->IdxField(i)->StringValue();
        out.push_back(row);
    }
    return out;
}

} // namespace

TEST(CheckForDatabase, FirstRun_CreatesTheCatalogueWithItsExactSchema)
{
    TempFolder app;
    const RunResult r = RunApp(app.Path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_TRUE(r.seen.opened);
    EXPECT_FALSE(r.seen.dbExists);
    EXPECT_TRUE(r.seen.connected);
    EXPECT_EQ(r.seen.title, "Tallowmere -  Version 1.0.0");

    Database db;
    db.DatabaseFile = FolderItem::FromNativePath(app / "crcData.rsd");
    ASSERT_TRUE(db.Connect());
    const std::vector<std::string> expected = {
        "table|dbver|dbver|CREATE TABLE dbver (idx INTEGER PRIMARY KEY, version DOUBLE)",
        "table|fileinfo|fileinfo|CREATE TABLE fileinfo (idx INTEGER PRIMARY KEY, referenceidx "
        "INTEGER, fullpath VARCHAR, name VARCHAR, isfolder BOOLEAN,date DATE, resource VARCHAR, "
        "crc VARCHAR, exempt BOOLEAN, parentidx INTEGER)",
        "index|fileinfo_index_idx|fileinfo|CREATE UNIQUE INDEX fileinfo_index_idx ON "
        "fileinfo(idx)",
        "index|fileinfo_index_paridx|fileinfo|CREATE INDEX fileinfo_index_paridx ON "
        "fileinfo(parentidx)",
        "index|fileinfo_index_path|fileinfo|CREATE INDEX fileinfo_index_path ON fileinfo(fullpath)",
    };
    EXPECT_EQ(
        Rows(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY rowid"), expected);
    EXPECT_EQ(Rows(db, "SELECT idx, version, typeof(version) FROM dbver"),
        std::vector<std::string> { "1|1.0|real" });
}

TEST(CheckForDatabase, SecondRun_OpensTheExistingCatalogue)
{
    TempFolder app;
    ASSERT_EQ(RunApp(app.Path()).exitCode, 0);
    const RunResult r = RunApp(app.Path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_TRUE(r.seen.dbExists);
    EXPECT_TRUE(r.seen.connected);
}

TEST(CheckForDatabase, GarbageFile_SaysCorruptAndEndsWithExitCode1)
{
    TempFolder app;
    platform::testing::WriteFile(app / "crcData.rsd", std::string(4096, 'x'));
    const RunResult r = RunApp(app.Path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.messages, std::vector<std::string> { "crcData is corrupt." });
    EXPECT_FALSE(r.seen.dbExists);
    // The title is set after the message all the same.
    EXPECT_EQ(r.seen.title, "Tallowmere -  Version 1.0.0");
    // The garbage is left as it was: nothing of the user's is overwritten.
    EXPECT_EQ(platform::testing::ReadFile(app / "crcData.rsd"), std::string(4096, 'x'));
}

TEST(CheckForDatabaseDeathTest, FolderNotWritable_SaysUnableToCreateAndEndsWithExitCode1)
{
    TempFolder app;
    ASSERT_EQ(chmod(app.Path().c_str(), 0555), 0);
    platform::testing::RunAsUnprivilegedUser(app, [&] {
        const RunResult r = RunApp(app.Path());
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.messages, std::vector<std::string> { "Unable to create databse." });
    });
}

TEST(Title, VersionNumbers_JoinedAfterTheFixedText)
{
    EXPECT_EQ(VersionTitle(1, 0, 0), "Tallowmere -  Version 1.0.0");
    EXPECT_EQ(VersionTitle(2, 1, 14), "Tallowmere -  Version 2.1.14");
}

TEST(FileTypes, Initialize_MakesTextAndSpecialAny)
{
    FileTypes::Initialize_();
    ASSERT_TRUE(FileTypes::pText);
    EXPECT_EQ(FileTypes::pText->Name, "text");
    EXPECT_EQ(FileTypes::pText->MacType, "TEXT");
    EXPECT_EQ(FileTypes::pText->MacCreator, "R*ch");
    ASSERT_TRUE(FileTypes::pSpecialAny);
    EXPECT_EQ(FileTypes::pSpecialAny->Name, "special/any");
    EXPECT_EQ(FileTypes::pSpecialAny->MacType, "????");
    EXPECT_EQ(FileTypes::pSpecialAny->MacCreator, "????");
}

TEST(RowPictures, MissingFile_GivesNilAndIsTriedAgain)
{
    TempFolder app;
    SetApplicationFolder(app.Path());
    EXPECT_FALSE(Document());
    mkdir((app / "Resources").c_str(), 0755);
    platform::testing::WriteFile(app / "Resources/Document.bmp",
        platform::testing::ReadFile(TLM_SOURCE_DIR "/resources/Document.bmp"));
    auto picture = Document();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Transparent, 1);
    EXPECT_EQ(picture->Width(), 16);
    EXPECT_EQ(Document(), picture); // once loaded, cached
    EXPECT_FALSE(Folder());
}
