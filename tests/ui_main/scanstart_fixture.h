#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "tests/ui_main/runteardown.h"
#include "ui/main/window1.h"
#include "ui/warnings/winalert.h"

namespace scanstart {

/// The main window with the members its tests read and call directly.
class TestWindow1 : public Window1
{
public:
    using Window1::ProcessFolders;
    using Window1::TheFolder;
};

/// Scripted dialogs that also note, in one sequence shared with the debug log, when a folder
/// dialog was shown and what the mouse cursor was then.
class NotingDialogs : public platform::ScriptedDialogs
{
public:
    explicit NotingDialogs(std::vector<std::string> &events)
        : m_events(events)
    {
    }
    platform::Ref<platform::FolderItem> SelectFolder(const std::string &prompt) override
    {
        const bool wait = App_().CurrentMouseCursor() == platform::Application::MouseCursor::Wait;
        m_events.push_back(wait ? "dialog (wait cursor)" : "dialog (arrow cursor)");
        return ScriptedDialogs::SelectFolder(prompt);
    }
    void MsgBox(const std::string &text) override
    {
        ScriptedDialogs::MsgBox(text);
        if (throwFromBoxes)
            throw platform::RuntimeException("the box could not be shown");
    }
    /// Every box raises once it is noted, as a box that cannot be shown would.
    bool throwFromBoxes = false;

private:
    std::vector<std::string> &m_events;
};

/// A stored `fileinfo` row as the ancestor-folder rows use it: the parent named by its path
/// ("" for parentidx 0), and whether every column but those four is NULL.
struct FolderRow
{
    std::string fullpath;
    std::string name;
    std::string parent;
    bool operator==(const FolderRow &) const = default;
};

inline void PrintTo(const FolderRow &r, std::ostream *os)
{
    *os << "{" << r.fullpath << ", " << r.name << ", parent " << (r.parent.empty() ? "0" : r.parent)
        << "}";
}

/// What starting a scan works with, as the program gives it: the application object, a fresh
/// catalogue in Globals::g_DB (at Catalogue()), the main window registered as such with a hidden
/// warnings window in Globals::g_winAlert, scripted dialogs, the catch-alls' reports, the debug
/// log's lines and a mount table with the volumes "Vol" and "Vol2", both in the test's folder.
class ScanStartFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        fs::create_directories(m_tmp / "app/Resources");
        fs::create_directories(m_tmp / "config");
        for (const char *volume : { "Vol", "Vol2" })
            fs::create_directories(m_tmp / volume);
        platform::testing::WriteFile(m_tmp / "app/Resources/Document.bmp",
            platform::testing::ReadFile(TLM_SOURCE_DIR "/resources/Document.bmp"));
        platform::SetApplicationFolder(m_tmp / "app");
        // The main window's close writes the preferences file: into the test's folder.
        const char *config = std::getenv("XDG_CONFIG_HOME");
        m_savedConfig = config ? std::optional<std::string>(config) : std::nullopt;
        setenv("XDG_CONFIG_HOME", (m_tmp / "config").c_str(), 1);
        platform::Volumes::SetMountTable(
            { { "/", "overlay" }, { m_tmp / "Vol", "ext4" }, { m_tmp / "Vol2", "ext4" } });

        auto app = std::make_shared<App>();
        platform::RegisterApplication(app);
        app->SetMouseCursor(platform::Application::MouseCursor::Arrow);
        platform::SetDialogProvider(m_dialogs);
        platform::SetExceptionReporter(
            [this](const platform::RuntimeException &e, const std::string &tag) {
                m_reports.push_back(std::string(e.ClassName()) + " " + tag);
            });
        platform::System::SetDebugLogObserver([this](const std::string &line) {
            if (line.rfind(kScanStarted, 0) == 0)
                m_events.push_back("log " + line.substr(std::string(kScanStarted).size()));
        });

        // A first run's catalogue, made beside the application as the program makes it, and the
        // file types start-up defines (the list's Open accepts drops of one of them).
        Globals::Initialize();
        FileTypes::Initialize_();
        app->CheckForDatabase();
        ASSERT_TRUE(Globals::g_DB && Globals::g_DB->IsConnected());
        ASSERT_FALSE(app->DBExists);

        w = platform::MakeWindow<TestWindow1>();
        platform::SetMainWindow(w);
        if (!Globals::g_winAlert)
            Globals::g_winAlert = platform::MakeWindow<winAlert>();
        ASSERT_TRUE(WaitForThreads());
        m_events.clear();
    }

    void TearDown() override
    {
        EXPECT_TRUE(WaitForThreads()) << "threads still running at the end of the test";
        EndMainWindowRun();
        platform::Volumes::SetMountTable({});
        if (m_savedConfig)
            setenv("XDG_CONFIG_HOME", m_savedConfig->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    std::string Catalogue() const { return m_tmp / "app/crcData.rsd"; }

    static constexpr const char *kScanStarted = "[TLM]: Scan started: ";

    /// Until every cooperative thread has ended: the scans and the loaders they started.
    static bool WaitForThreads(int timeoutMs = 60000)
    {
        return platform::ProcessEventsUntil(
            [] { return platform::Scheduler::LiveCount() == 0; }, timeoutMs);
    }

    /// Makes the folder at `relative` below the test's folder, with its parents.
    std::string Folder(const std::string &relative) const
    {
        const std::string path = m_tmp / relative;
        std::filesystem::create_directories(path);
        return path;
    }
    /// Writes the file at `relative` below the test's folder, making its folders.
    std::string File(const std::string &relative, const std::string &bytes = "") const
    {
        const std::filesystem::path path = m_tmp / relative;
        std::filesystem::create_directories(path.parent_path());
        platform::testing::WriteFile(path.string(), bytes);
        return path.string();
    }
    platform::Ref<platform::FolderItem> Item(const std::string &relative) const
    {
        return platform::FolderItem::FromNativePath(m_tmp / relative);
    }

    /// The debug log's scan-start lines and the folder dialogs, in the order they came.
    std::vector<std::string> Events() const { return m_events; }
    /// How many scan-start lines the debug log got; each must end with an SQL date-time.
    int LogLines() const
    {
        int n = 0;
        for (const std::string &e : m_events) {
            if (e.rfind("log ", 0) != 0)
                continue;
            ++n;
            EXPECT_EQ(e.size(), 4u + 19u) << e; // "YYYY-MM-DD HH:MM:SS"
        }
        return n;
    }
    /// The events with each log line's date-time left out.
    std::vector<std::string> EventKinds() const
    {
        std::vector<std::string> kinds;
        for (const std::string &e : m_events)
            kinds.push_back(e.rfind("log ", 0) == 0 ? "log" : e);
        return kinds;
    }

    static platform::Application::MouseCursor Cursor() { return App_().CurrentMouseCursor(); }

    /// Every folder row (isfolder 1) in idx order; a folder row with any column other than its
    /// four set fails the test.
    static std::vector<FolderRow> FolderRows()
    {
        const auto rs = Globals::g_DB->SQLSelect(
            "SELECT f.fullpath, f.name, coalesce(p.fullpath, ''), f.parentidx, "
            "f.referenceidx IS NULL AND f.date IS NULL AND f.resource IS NULL AND f.crc IS NULL "
            "AND f.exempt IS NULL FROM fileinfo f LEFT JOIN fileinfo p ON p.idx = f.parentidx "
            "WHERE f.isfolder = 1 ORDER BY f.idx;");
        if (!rs)
            throw std::runtime_error(Globals::g_DB->ErrorMessage());
        std::vector<FolderRow> rows;
        for (; !rs->EOF_(); rs->MoveNext()) {
            rows.push_back({ rs->IdxField(1)->StringValue(), rs->IdxField(2)->StringValue(),
                rs->IdxField(3)->StringValue() });
            EXPECT_TRUE(rs->IdxField(5)->BooleanValue()) << "more than four columns set";
            if (rows.back().parent.empty()) {
                EXPECT_EQ(rs->IdxField(4)->IntegerValue(), 0);
            }
        }
        return rows;
    }

    /// Every row's path, folders and files alike, in idx order.
    static std::vector<std::string> AllPaths()
    {
        const auto rs = Globals::g_DB->SQLSelect("SELECT fullpath FROM fileinfo ORDER BY idx;");
        if (!rs)
            throw std::runtime_error(Globals::g_DB->ErrorMessage());
        std::vector<std::string> paths;
        for (; !rs->EOF_(); rs->MoveNext())
            paths.push_back(rs->IdxField(1)->StringValue());
        return paths;
    }

    platform::testing::TempFolder m_tmp;
    std::vector<std::string> m_events;
    std::vector<std::string> m_reports;
    std::shared_ptr<NotingDialogs> m_dialogs = std::make_shared<NotingDialogs>(m_events);
    platform::Ref<TestWindow1> w;

private:
    std::optional<std::string> m_savedConfig;
};

} // namespace scanstart
