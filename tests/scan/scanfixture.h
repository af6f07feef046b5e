#pragma once

#include "scantest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/app.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/controls.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/folderitem.h"
#include "platform/listbox.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "scan/records.h"
#include "scan/startthread.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "ui/warnings/winalert.h"

namespace scantest {

/// What the status lines and the bar were given between two turns of a StatusProbe; a line or a
/// bar setting that was not written is nullopt.
struct StatusWrite
{
    std::optional<std::string> text1;
    std::optional<std::string> text2;
    std::optional<int> value;
    std::optional<int> maximum;
    bool operator==(const StatusWrite &) const = default;
};

inline void PrintTo(const StatusWrite &w, std::ostream *os)
{
    auto text = [](const std::optional<std::string> &t) { return t ? "\"" + *t + "\"" : "-"; };
    auto number = [](const std::optional<int> &n) { return n ? std::to_string(*n) : "-"; };
    *os << "{" << text(w.text1) << ", " << text(w.text2) << ", value " << number(w.value)
        << ", max " << number(w.maximum) << "}";
}

/// A thread that, at each of its turns, notes what was written on the main window's status lines
/// and bar since its last turn, then marks them unwritten again; it ends at the first turn at
/// which `done` holds. In the deterministic mode it gets a turn after every yield of the one
/// other thread that runs, so it sees each pass's writes on their own.
class StatusProbe : public platform::Thread
{
public:
    StatusProbe(platform::Window &main, std::function<bool()> done)
        : m_text1(main.Control<platform::StaticText>("StaticText1"))
        , m_text2(main.Control<platform::StaticText>("StaticText2"))
        , m_bar(main.Control<platform::ProgressBar>("pb"))
        , m_button(main.Control<platform::PushButton>("pbMBS"))
        , m_done(std::move(done))
    {
        Unwrite();
    }

    std::vector<StatusWrite> writes;
    /// The scan button's state and the bar's visibility at each noted write.
    std::vector<bool> buttonEnabled;
    std::vector<bool> barVisible;
    /// Every fresh-snapshot record seen in NewFiles, in the order the walk appended them: the
    /// comparison at the end of a walk takes them out of NewFiles.
    std::vector<platform::Ref<TheNewFiles>> records;

protected:
    void Event_Run() override
    {
        for (;;) {
            Note();
            if (m_done())
                return;
            platform::Yield();
        }
    }

private:
    static constexpr const char *kUnwritten = "\x7f(unwritten)";
    static constexpr int kUnset = INT_MIN;

    void Unwrite()
    {
        m_text1->SetText(kUnwritten);
        m_text2->SetText(kUnwritten);
        m_bar->SetValue(kUnset);
        m_bar->SetMaximum(kUnset);
    }

    void Note()
    {
        // Only appended to between two turns: the unseen ones are at its end.
        const std::size_t before = records.size();
        for (auto it = Globals::NewFiles.rbegin();
             it != Globals::NewFiles.rend() && m_seen.insert(&**it).second; ++it)
            records.push_back(*it);
        std::reverse(records.begin() + std::ptrdiff_t(before), records.end());
        StatusWrite w;
        if (m_text1->Text() != kUnwritten)
            w.text1 = m_text1->Text();
        if (m_text2->Text() != kUnwritten)
            w.text2 = m_text2->Text();
        if (m_bar->Value() != kUnset)
            w.value = m_bar->Value();
        if (m_bar->Maximum() != kUnset)
            w.maximum = m_bar->Maximum();
        if (w != StatusWrite {}) {
            writes.push_back(w);
            buttonEnabled.push_back(m_button->Enabled());
            barVisible.push_back(m_bar->Visible());
        }
        Unwrite();
    }

    platform::Ref<platform::StaticText> m_text1;
    platform::Ref<platform::StaticText> m_text2;
    platform::Ref<platform::ProgressBar> m_bar;
    platform::Ref<platform::PushButton> m_button;
    std::function<bool()> m_done;
    std::set<const TheNewFiles *> m_seen; // kept alive by `records`, so never reused
};

/// A stored `fileinfo` row.
struct Row
{
    int64_t idx;
    int64_t referenceidx;
    std::string fullpath;
    std::string name;
    std::optional<std::string> crc;
    std::optional<bool> exempt;
};

/// One row of a warnings window's list, with its two cell tags.
struct WarningRow
{
    std::string name, path, resource, last, current;
    std::string tagPath;
    int64_t tagIdx;
    bool operator==(const WarningRow &) const = default;
};

inline void PrintTo(const WarningRow &w, std::ostream *os)
{
    *os << "{" << w.name << ", " << w.path << ", " << w.resource << ", " << w.last << ", "
        << w.current << ", tags " << w.tagPath << ", " << w.tagIdx << "}";
}

/// What a scan works with, as the program gives it: the application object, a fresh catalogue
/// in Globals::g_DB, a plain window with the main window's status lines, bar, button and list
/// registered as the main window, a hidden warnings window in Globals::g_winAlert, scripted
/// dialogs and the reports of the catch-all handlers. The files to scan go below Root().
class ScanFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        fs::create_directories(m_tmp / "app/Resources");
        fs::create_directories(Root());
        platform::testing::WriteFile(m_tmp / "app/Resources/Document.bmp",
            platform::testing::ReadFile(TLM_SOURCE_DIR "/resources/Document.bmp"));
        platform::SetApplicationFolder(m_tmp / "app");
        auto app = std::make_shared<App>();
        app->DBExists = true;
        platform::RegisterApplication(app);
        platform::SetDialogProvider(m_dialogs);

        Globals::Initialize();
        Globals::g_DB = platform::New<platform::Database>();
        Globals::g_DB->DatabaseFile = platform::FolderItem::FromNativePath(m_tmp / "crcData.rsd");
        ASSERT_TRUE(Globals::g_DB->CreateDatabaseFile());
        for (const std::string &sql : CatalogueCreationStatements())
            Globals::g_DB->SQLExecute(sql);
        Globals::g_DB->Commit();
        ASSERT_FALSE(Globals::g_DB->Error()) << Globals::g_DB->ErrorMessage();

        m_main = MainWindowStandIn(/*withStaticText2=*/true);
        platform::SetMainWindow(m_main);
        lstFiles = m_main->Control<platform::Listbox>("lstFiles");
        StaticText1 = m_main->Control<platform::StaticText>("StaticText1");
        StaticText2 = m_main->Control<platform::StaticText>("StaticText2");
        pb = m_main->Control<platform::ProgressBar>("pb");
        pbMBS = m_main->Control<platform::PushButton>("pbMBS");
        Globals::g_winAlert = platform::MakeWindow<winAlert>();
    }

    void TearDown() override
    {
        EXPECT_TRUE(WaitForThreads()) << "threads still running at the end of the test";
        platform::CloseAllWindows();
        if (Globals::g_DB)
            Globals::g_DB->Close();
        Globals::Finalize();
        platform::SetDialogProvider(nullptr);
        platform::SetExceptionReporter(nullptr);
    }

    /// A plain window with the main window's controls that the scan reaches by name.
    static platform::Ref<platform::Window> MainWindowStandIn(bool withStaticText2)
    {
        auto w = platform::MakeWindow<platform::Window>();
        auto list = platform::New<platform::Listbox>();
        w->AddControl("lstFiles", list);
        list->SetColumnCount(4);
        list->SetColumnType(3, platform::Listbox::TypeCheckbox);
        w->AddControl("StaticText1", platform::New<platform::StaticText>());
        if (withStaticText2)
            w->AddControl("StaticText2", platform::New<platform::StaticText>());
        w->AddControl("pb", platform::New<platform::ProgressBar>());
        w->AddControl("pbMBS", platform::New<platform::PushButton>());
        return w;
    }

    std::string Root() const { return m_tmp / "files"; }

    /// Writes the file at `relative` below Root(), making its folders.
    void Write(const std::string &relative, const std::string &bytes) const
    {
        const std::filesystem::path path = Root() + "/" + relative;
        std::filesystem::create_directories(path.parent_path());
        platform::testing::WriteFile(path.string(), bytes);
    }

    /// The colon path of the entry at `relative` below Root() ("" for Root() itself).
    std::string PathOf(const std::string &relative) const
    {
        return platform::FolderItem::FromNativePath(
            relative.empty() ? Root() : Root() + "/" + relative)
            ->AbsolutePath();
    }

    /// Starts a scan of the folder (or file) at the native path `root`.
    static platform::Ref<Loadthread> StartScan(const std::string &root)
    {
        auto scan = platform::New<Loadthread>();
        scan->folder = platform::FolderItem::FromNativePath(root);
        scan->Run();
        return scan;
    }

    /// Starts a probe that ends once `thread` has ended.
    platform::Ref<StatusProbe> Probe(const platform::Ref<platform::Thread> &thread) const
    {
        auto probe = platform::New<StatusProbe>(*m_main,
            [thread] { return thread->GetState() == platform::Thread::State::NotRunning; });
        probe->Run();
        return probe;
    }

    static bool WaitFor(const std::function<bool()> &done, int timeoutMs = 60000)
    {
        return platform::ProcessEventsUntil(done, timeoutMs);
    }
    /// Until every cooperative thread has ended: the scans and the loaders they started.
    static bool WaitForThreads(int timeoutMs = 60000)
    {
        return WaitFor([] { return platform::Scheduler::LiveCount() == 0; }, timeoutMs);
    }

    /// Every `fileinfo` row, in idx order.
    static std::vector<Row> Rows()
    {
        const auto rs = Globals::g_DB->SQLSelect(
            "SELECT idx, referenceidx, fullpath, name, crc, exempt FROM fileinfo ORDER BY idx;");
        if (!rs)
            throw std::runtime_error(Globals::g_DB->ErrorMessage());
        std::vector<Row> rows;
        for (; !rs->EOF_(); rs->MoveNext()) {
            Row row { rs->IdxField(1)->IntegerValue(), rs->IdxField(2)->IntegerValue(),
                rs->IdxField(3)->StringValue(), rs->IdxField(4)->StringValue(), {}, {} };
            if (!rs->IdxField(5)->IsNull())
                row.crc = rs->IdxField(5)->StringValue();
            if (!rs->IdxField(6)->IsNull())
                row.exempt = rs->IdxField(6)->BooleanValue();
            rows.push_back(row);
        }
        return rows;
    }

    /// Inserts a row as a scan or the ancestor-folder rows would; a nullopt column stays NULL.
    static int64_t InsertRow(const std::string &fullpath, const std::string &name,
        const std::optional<std::string> &crc, const std::optional<bool> &exempt,
        bool isFolder = false)
    {
        platform::DatabaseRecord record;
        record.Column("fullpath", fullpath);
        record.Column("name", name);
        if (!isFolder)
            record.Column("resource", "<data>");
        if (crc)
            record.Column("crc", *crc);
        if (exempt)
            record.BooleanColumn("exempt", *exempt);
        record.BooleanColumn("isfolder", isFolder);
        Globals::g_DB->InsertRecord("fileinfo", record);
        Globals::g_DB->Commit();
        if (Globals::g_DB->Error())
            throw std::runtime_error(Globals::g_DB->ErrorMessage());
        return Globals::g_DB->LastRowID();
    }

    /// The warnings windows on screen (not the hidden one in g_winAlert), each with its rows.
    static std::vector<std::vector<WarningRow>> ShownWarnings()
    {
        std::vector<std::vector<WarningRow>> shown;
        for (const auto &window : platform::OpenWindows()) {
            const auto alert = window.As<winAlert>();
            if (!alert || !alert->Visible())
                continue;
            std::vector<WarningRow> rows;
            const auto &list = alert->AlertList;
            for (int r = 0; r < list->ListCount(); ++r) {
                rows.push_back({ list->Cell(r, 0), list->Cell(r, 1), list->Cell(r, 2),
                    list->Cell(r, 3), list->Cell(r, 4), list->CellTag(r, 0).As<std::string>(),
                    list->CellTag(r, 1).As<int64_t>() });
            }
            shown.push_back(rows);
        }
        return shown;
    }

    /// The digest a scan gives the file at `relative` below Root() now.
    std::string DigestOf(const std::string &relative) const
    {
        ScanThread scan;
        return scan.SHA(platform::FolderItem::FromNativePath(Root() + "/" + relative));
    }

    platform::testing::TempFolder m_tmp;
    Reports m_reports;
    std::shared_ptr<platform::ScriptedDialogs> m_dialogs
        = std::make_shared<platform::ScriptedDialogs>();
    platform::Ref<platform::Window> m_main;
    platform::Ref<platform::Listbox> lstFiles;
    platform::Ref<platform::StaticText> StaticText1;
    platform::Ref<platform::StaticText> StaticText2;
    platform::Ref<platform::ProgressBar> pb;
    platform::Ref<platform::PushButton> pbMBS;
};

} // namespace scantest
