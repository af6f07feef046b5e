#include "diagnostics/debugglobals.h"
#include "diagnostics/windebug.h"
#include "platform/application.h"
#include "platform/clipboard.h"
#include "platform/listbox.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <signal.h>
#include <sstream>

using namespace platform;
using platform::testing::TempFolder;

namespace {

/// The test's own crash-log endpoint on 127.0.0.1, a real HTTP server.
class CrashLogServer
{
public:
    CrashLogServer()
    {
        const std::string cmd = "exec python3 " TLM_SOURCE_DIR
                                "/tests/diagnostics/crashlog_server.py "
            + m_folder / "posts.txt" + " 60";
        m_pipe = popen(cmd.c_str(), "r");
        char line[64] = {};
        if (m_pipe && std::fgets(line, sizeof line, m_pipe))
            std::sscanf(line, "%d %d", &m_port, &m_pid);
    }
    ~CrashLogServer()
    {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
        if (m_pipe)
            pclose(m_pipe);
    }
    int Port() const { return m_port; }

    /// Every post received so far: path, content type, then the decoded fields.
    std::vector<std::vector<std::string>> Posts() const
    {
        std::vector<std::vector<std::string>> out;
        std::ifstream in(m_folder / "posts.txt");
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> parts;
            std::stringstream s(line);
            for (std::string p; std::getline(s, p, '\t');)
                parts.push_back(p);
            out.push_back(parts);
        }
        return out;
    }

private:
    TempFolder m_folder;
    FILE *m_pipe = nullptr;
    int m_port = 0;
    int m_pid = 0;
};

std::string Unhex(const std::string &hex)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::map<std::string, std::string> Fields(const std::vector<std::string> &post)
{
    std::map<std::string, std::string> out;
    for (std::size_t i = 2; i < post.size(); ++i) {
        const auto eq = post[i].find('=');
        out[post[i].substr(0, eq)] = Unhex(post[i].substr(eq + 1));
    }
    return out;
}

class DiagnosticsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterApplication(std::make_shared<Application>());
        DebugGlobals::InstallAsReporter();
        CloseLog();
    }
    void TearDown() override
    {
        CloseLog();
        SetExceptionReporter(nullptr);
        DebugGlobals::SetCrashLogHost("127.0.0.1");
        RegisterApplication(nullptr);
    }
    static void CloseLog()
    {
        // Each test starts without a log window (the accessor makes one to close if need be).
        winDebug_()->Close();
    }
    static std::string LogText() { return winDebug_()->txtLog->Text(); }
};

NilObjectException WithStack(std::vector<std::string> frames)
{
    NilObjectException e;
    e.SetStack(std::move(frames));
    return e;
}

const std::regex kStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: )");

} // namespace

TEST_F(DiagnosticsTest, Report_PostsTheThreeFieldsAndAppendsToTheLog)
{
    CrashLogServer server;
    ASSERT_GT(server.Port(), 0);
    DebugGlobals::SetCrashLogHost("127.0.0.1:" + std::to_string(server.Port()));

    const auto e = WithStack({ "frame: \"one\" & two=2 + 3%", "naïve café ✓" });
    DebugGlobals::ExceptionReport(e, "winMain.Methods.ProcessFolders");
    const std::string report = DebugGlobals::ReportText(e, "winMain.Methods.ProcessFolders");

    ASSERT_TRUE(ProcessEventsUntil([&] { return !server.Posts().empty(); }, 10000));
    const auto posts = server.Posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0][0], "/clientcrashlog.txt");
    EXPECT_EQ(posts[0][1], "application/x-www-form-urlencoded");
    const auto fields = Fields(posts[0]);
    EXPECT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields.at("app"), "diagnostics_tests");
    EXPECT_EQ(fields.at("version"), "1.0.0.0(Final)");
    EXPECT_EQ(fields.at("stack"), report);

    const std::string log = LogText();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, kStamp));
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(log.substr(m.length(0)), report);
}

TEST_F(DiagnosticsTest, ServerDown_ReportStillReachesTheLogAndNothingIsRaised)
{
    DebugGlobals::SetCrashLogHost("127.0.0.1:1");
    const auto e = WithStack({ "f" });
    EXPECT_NO_THROW(DebugGlobals::ExceptionReport(e, "t"));
    // The refused connection comes back; it must change nothing.
    ASSERT_TRUE(ProcessEventsUntil(platform::testing::HttpPostsFinished, 10000));
    EXPECT_NE(LogText().find(DebugGlobals::ReportText(e, "t")), std::string::npos);
    EXPECT_FALSE(QuitRequested());
}

TEST_F(DiagnosticsTest, ThreadEnd_NoEntryAndNoPost)
{
    CrashLogServer server;
    DebugGlobals::SetCrashLogHost("127.0.0.1:" + std::to_string(server.Port()));
    DebugGlobals::ExceptionReport(ThreadEndException(), "t");
    // A report made afterwards: once its post has arrived and no post is in flight, one made
    // for the first would have arrived as well.
    const auto sentinel = WithStack({ "f" });
    DebugGlobals::ExceptionReport(sentinel, "sentinel");
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return !server.Posts().empty() && platform::testing::HttpPostsFinished(); }, 10000));
    const std::string report = DebugGlobals::ReportText(sentinel, "sentinel");
    const auto posts = server.Posts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(Fields(posts[0]).at("stack"), report);
    // No entry: the log holds the sentinel's alone.
    const std::string log = LogText();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, kStamp));
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(log.substr(m.length(0)), report);
}

TEST_F(DiagnosticsTest, LogWindow_EntriesSeparatedByOneBlankLine)
{
    DebugGlobals::SetCrashLogHost("127.0.0.1:1");
    winDebug_()->Append("first");
    winDebug_()->Append("second\nline");
    const std::regex layout(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: first\n\n)"
                            R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: second\nline$)");
    EXPECT_TRUE(std::regex_match(LogText(), layout)) << LogText();

    // The user empties the log: the next entry starts at the very beginning again.
    winDebug_()->txtLog->SetText("");
    winDebug_()->Append("third");
    EXPECT_TRUE(
        std::regex_match(LogText(), std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: third$)")))
        << LogText();
}

TEST_F(DiagnosticsTest, LogWindow_CopyFollowsTheSelectionAndCopiesExactlyIt)
{
    auto w = winDebug_();
    w->Append("hello world");
    EXPECT_FALSE(w->btnCopy->Enabled());
    const int start = int(LogText().find("world"));
    w->txtLog->SetSelStart(start);
    w->txtLog->SetSelLength(5);
    EXPECT_TRUE(w->btnCopy->Enabled());
    w->btnCopy_Action();
    EXPECT_EQ(Clipboard().Text(), "world");
    w->txtLog->SetSelLength(0);
    EXPECT_FALSE(w->btnCopy->Enabled());
    EXPECT_FALSE(w->EditCopy_Action_());
}

TEST_F(DiagnosticsTest, LogWindow_ClosedThenReported_NewWindowHoldsOnlyTheNewEntry)
{
    DebugGlobals::SetCrashLogHost("127.0.0.1:1");
    winDebug_()->Append("old");
    auto first = winDebug_();
    first->btnClose_Action();
    EXPECT_TRUE(first->IsClosed());
    DebugGlobals::ExceptionReport(WithStack({ "f" }), "after");
    auto second = winDebug_();
    EXPECT_NE(second, first);
    EXPECT_EQ(LogText().find("old"), std::string::npos);
    EXPECT_NE(LogText().find("after"), std::string::npos);
    EXPECT_EQ(LogText().find("\n\n"), std::string::npos);
}

TEST_F(DiagnosticsTest, ReportFromARunningThread_AppendedWhileTheThreadGoesOn)
{
    DebugGlobals::SetCrashLogHost("127.0.0.1:1");
    int passes = 0;
    auto worker = std::make_shared<platform::testing::LambdaThread>([&] {
        for (int i = 0; i < 20; ++i) {
            if (i == 5)
                CatchAll(
                    "winMain.Methods.PopulateListFromDB", [] { throw OutOfBoundsException(); });
            ++passes;
            Yield();
        }
    });
    worker->Run();
    ASSERT_TRUE(ProcessEventsUntil([&] { return passes == 20; }, 5000));
    EXPECT_NE(
        LogText().find("An OutOfBoundsException was raised in winMain.Methods.PopulateListFromDB"),
        std::string::npos);
}

TEST(DiagnosticsFatal, FailureInsideAReport_EndsTheRunWithExitCode1)
{
    // Without an application object the form cannot be made: the report still reaches the log
    // window, then the run ends with 1.
    DebugGlobals::SetCrashLogHost("127.0.0.1:1");
    RegisterApplication(nullptr);
    DebugGlobals::InstallAsReporter();
    std::string log;
    static char arg0[] = "t";
    char *argv[] = { arg0, nullptr };
    const int code = platform::Run(
        1, argv,
        [&] {
            CatchAll("tag", [] { throw NilObjectException(); });
            log = winDebug_()->txtLog->Text();
        },
        nullptr);
    SetExceptionReporter(nullptr);
    EXPECT_EQ(code, 1);
    EXPECT_NE(log.find("A NilObjectException was raised in tag"), std::string::npos);
}

TEST_F(DiagnosticsTest, ReportCaughtInsideAPaint_LogWindowOpensOnlyAfterThePaint)
{
    DebugGlobals::SetCrashLogHost("127.0.0.1:1");
    auto w = MakeWindow<Window>();
    auto list = New<Listbox>();
    w->AddControl("lstFiles", list);
    list->SetBounds(10, 10, 380, 280);
    list->AddRow(std::vector<std::string> { "only", "row" });
    int caught = 0;
    int openedInside = 0;
    int appendedInside = 0;
    auto logLength = [] {
        auto log = OpenWindowOf<winDebug>();
        return log ? log->txtLog->Length() : -1;
    };
    // The program's own painter: it catches and reports whatever goes wrong for a cell.
    list->CellBackgroundPaint = [&](Graphics &, int row, int column) {
        const bool logWasOpen = bool(OpenWindowOf<winDebug>());
        const int lengthBefore = logLength();
        CatchAll("Window1.lstFiles.CellBackgroundPaint", [&] {
            if (row >= list->ListCount()) {
                ++caught;
                (void)list->Cell(row, column);
            }
        });
        openedInside += !logWasOpen && OpenWindowOf<winDebug>();
        appendedInside += logLength() != lengthBefore;
        return false;
    };
    w->Show();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] {
            auto log = OpenWindowOf<winDebug>();
            return caught > 1 && log && log->Visible() && log->txtLog->Length() > 0;
        },
        5000));
    list->CellBackgroundPaint = nullptr;
    // A report posted by the last paint is delivered before a call posted after it.
    bool settled = false;
    DispatchLater([&] { settled = true; });
    ASSERT_TRUE(ProcessEventsUntil([&] { return settled; }, 5000));

    EXPECT_EQ(openedInside, 0);
    EXPECT_EQ(appendedInside, 0);
    // Every fault the painter caught is in the log, each in its own entry.
    const std::string log = LogText();
    const std::string entry
        = "An OutOfBoundsException was raised in Window1.lstFiles.CellBackgroundPaint";
    int entries = 0;
    for (auto at = log.find(entry); at != std::string::npos; at = log.find(entry, at + 1))
        ++entries;
    EXPECT_EQ(entries, caught);
    w->Close();
}
