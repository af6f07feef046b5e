#pragma once

#include "core/app.h"
#include "core/filetypes.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/database.h"
#include "platform/debuglog.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/ui_main/runteardown.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "tests/support/widgetprobes.h"
#include "ui/main/window1.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mainwindowtest {

constexpr int kWaitMs = 10000;

/// The main window with the members that only the window itself calls opened to the tests.
class TestWindow1 : public Window1
{
public:
    using Window1::CalculateScreenSizes;
    using Window1::LoadWindowPrefs;
    using Window1::SaveWindowPrefs;
    using Window1::ToggleSelected;

    struct Bounds
    {
        int32_t minLeft, minTop, maxLeft, maxTop;
        bool operator==(const Bounds &) const = default;
    };
    Bounds ScreenBounds() const { return { m_iMinLeft, m_iMinTop, m_iMaxLeft, m_iMaxTop }; }
    void SetScreenBounds(const Bounds &b)
    {
        m_iMinLeft = b.minLeft;
        m_iMinTop = b.minTop;
        m_iMaxLeft = b.maxLeft;
        m_iMaxTop = b.maxTop;
    }
};

/// A stored `fileinfo` row, as a second connection reads it.
struct StoredRow
{
    int64_t idx;
    std::string fullpath;
    std::string name;
    std::optional<std::string> resource;
    std::optional<std::string> crc;
    std::optional<bool> exempt;
    bool operator==(const StoredRow &) const = default;
};

inline void PrintTo(const StoredRow &r, std::ostream *os)
{
    *os << "{" << r.idx << ", " << r.fullpath << ", " << r.name << ", "
        << r.resource.value_or("NULL") << ", " << r.crc.value_or("NULL") << ", "
        << (r.exempt ? (*r.exempt ? "1" : "0") : "NULL") << "}";
}

/// A report of a catch-all handler: the exception's class and the handler's tag.
struct CaughtReport
{
    std::string kind;
    std::string tag;
    bool operator==(const CaughtReport &) const = default;
};

inline void PrintTo(const CaughtReport &r, std::ostream *os)
{
    *os << "{" << r.kind << ", " << r.tag << "}";
}

/// What the main window works with, as the program gives it: the application object, the file
/// types, a catalogue file in the application's folder, scripted dialogs, the reports of the
/// catch-all handlers and the debug log, and a preferences folder of the test's own.
class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        fs::create_directories(m_tmp / "app/Resources");
        fs::create_directories(Config());
        fs::create_directories(Files());
        platform::testing::WriteFile(m_tmp / "app/Resources/Document.bmp",
            platform::testing::ReadFile(TLM_SOURCE_DIR "/resources/Document.bmp"));
        platform::SetApplicationFolder(m_tmp / "app");
        m_app = std::make_shared<App>();
        platform::RegisterApplication(m_app);
        platform::SetDialogProvider(m_dialogs);
        platform::SetExceptionReporter(
            [this](const platform::RuntimeException &e, const std::string &tag) {
                reports.push_back({ e.ClassName(), tag });
            });
        platform::System::SetDebugLogObserver(
            [this](const std::string &line) { debugLog.push_back(line); });
        Globals::Initialize();
        FileTypes::Initialize_();
    }

    void TearDown() override
    {
        EXPECT_TRUE(platform::ProcessEventsUntil(
            [] { return platform::Scheduler::LiveCount() == 0; }, kWaitMs))
            << "threads still running at the end of the test";
        EndMainWindowRun();
    }

    std::string Config() const { return m_tmp / "config"; }
    std::string CataloguePath() const { return m_tmp / "app/crcData.rsd"; }
    /// A folder for the files the catalogue rows name.
    std::string Files() const { return m_tmp / "files"; }

    /// A new catalogue in Globals::g_DB, as the application's Open makes one.
    void MakeCatalogue()
    {
        Globals::g_DB = platform::New<platform::Database>();
        Globals::g_DB->DatabaseFile = platform::FolderItem::FromNativePath(CataloguePath());
        ASSERT_TRUE(Globals::g_DB->CreateDatabaseFile());
        for (const std::string &sql : CatalogueCreationStatements())
            Globals::g_DB->SQLExecute(sql);
        Globals::g_DB->Commit();
        ASSERT_FALSE(Globals::g_DB->Error()) << Globals::g_DB->ErrorMessage();
    }

    /// Makes the main window as start-up does (registered as the main window), its Open event
    /// run; with `dbExists` the catalogue is taken as found at start-up, so its loader runs.
    platform::Ref<TestWindow1> OpenMainWindow(bool dbExists = false)
    {
        m_app->DBExists = dbExists;
        auto w = platform::MakeWindow<TestWindow1>();
        platform::SetMainWindow(w);
        return w;
    }

    /// The main window with its list filled by the loader from the catalogue as it stands.
    platform::Ref<TestWindow1> LoadedWindow()
    {
        auto w = OpenMainWindow(/*dbExists=*/true);
        const int expected = int(StoredRows().size());
        EXPECT_TRUE(platform::ProcessEventsUntil(
            [&] {
                return platform::Scheduler::LiveCount() == 0 && w->lstFiles->ListCount() == expected
                    && platform::testing::RowsInView(*w->lstFiles) == expected;
            },
            kWaitMs))
            << "the loader did not fill the list";
        return w;
    }

    /// The path of the file `name` in Files(), in the colon form.
    std::string ColonPath(const std::string &name) const
    {
        return platform::FolderItem::FromNativePath(Files() + "/" + name)->AbsolutePath();
    }

    /// Inserts a file's row as a scan does; returns its idx.
    static int64_t InsertFileRow(const std::string &fullpath, const std::string &name,
        const std::string &crc, bool exempt = false)
    {
        platform::DatabaseRecord record;
        record.Column("fullpath", fullpath);
        record.Column("name", name);
        record.Column("resource", "<data>");
        record.Column("crc", crc);
        record.BooleanColumn("exempt", exempt);
        record.BooleanColumn("isfolder", false);
        return Insert(record);
    }

    /// Inserts an ancestor-folder row as a drop stores it; returns its idx.
    static int64_t InsertFolderRow(const std::string &fullpath, const std::string &name)
    {
        platform::DatabaseRecord record;
        record.Column("fullpath", fullpath);
        record.Column("name", name);
        record.BooleanColumn("isfolder", true);
        record.IntegerColumn("parentidx", 0);
        return Insert(record);
    }

    /// Every `fileinfo` row in idx order, read through a connection of its own, so only what
    /// was committed shows.
    std::vector<StoredRow> StoredRows() const
    {
        platform::Database db;
        db.DatabaseFile = platform::FolderItem::FromNativePath(CataloguePath());
        if (!db.Connect())
            throw std::runtime_error("cannot open the catalogue: " + db.ErrorMessage());
        const auto rs = db.SQLSelect(
            "SELECT idx, fullpath, name, resource, crc, exempt FROM fileinfo ORDER BY idx;");
        if (!rs)
            throw std::runtime_error(db.ErrorMessage());
        std::vector<StoredRow> rows;
        for (; !rs->EOF_(); rs->MoveNext()) {
            StoredRow row { rs->IdxField(1)->IntegerValue(), rs->IdxField(2)->StringValue(),
                rs->IdxField(3)->StringValue(), {}, {}, {} };
            if (!rs->IdxField(4)->IsNull())
                row.resource = rs->IdxField(4)->StringValue();
            if (!rs->IdxField(5)->IsNull())
                row.crc = rs->IdxField(5)->StringValue();
            if (!rs->IdxField(6)->IsNull())
                row.exempt = rs->IdxField(6)->BooleanValue();
            rows.push_back(row);
        }
        rs->Close();
        db.Close();
        return rows;
    }

    platform::testing::TempFolder m_tmp;
    platform::testing::EnvironmentVariable m_configHome { "XDG_CONFIG_HOME",
        (m_tmp / "config").c_str() };
    std::shared_ptr<App> m_app;
    std::shared_ptr<platform::ScriptedDialogs> m_dialogs
        = std::make_shared<platform::ScriptedDialogs>();
    std::vector<CaughtReport> reports;
    std::vector<std::string> debugLog;

private:
    static int64_t Insert(const platform::DatabaseRecord &record)
    {
        Globals::g_DB->InsertRecord("fileinfo", record);
        Globals::g_DB->Commit();
        if (Globals::g_DB->Error())
            throw std::runtime_error(Globals::g_DB->ErrorMessage());
        return Globals::g_DB->LastRowID();
    }
};

} // namespace mainwindowtest
