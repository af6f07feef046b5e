#include "tests/ui_warnings/actionsfixture.h"

#include "platform/application.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace platform;
using platform::testing::LambdaThread;

namespace {

constexpr int kWaitMs = 5000;

using Handler = void (winAlert::*)();

/// A thread that, at each of its turns, notes how many changes the second connection sees and
/// whether the run's button is enabled: the GUI's yields between rows give it its turns.
class RunWatcher
{
public:
    struct Turn
    {
        std::size_t committedChanges;
        bool buttonEnabled;
        bool operator==(const Turn &) const = default;
    };
    std::vector<Turn> turns;

    RunWatcher(const std::function<std::size_t()> &committed, const PushButton &button)
    {
        m_thread = std::make_shared<LambdaThread>([this, committed, &button] {
            while (!m_stop) {
                turns.push_back({ committed(), button.Enabled() });
                Yield();
            }
        });
        m_thread->Run();
    }
    ~RunWatcher()
    {
        m_stop = true;
        EXPECT_TRUE(ProcessEventsUntil(
            [&] { return m_thread->GetState() == Thread::State::NotRunning; }, kWaitMs));
    }

private:
    bool m_stop = false;
    std::shared_ptr<LambdaThread> m_thread;
};

struct RunCase
{
    const char *name;
    Handler handler;
    Ref<PushButton> winAlert::*button;
    std::vector<int> selected;
    std::vector<std::string> log; // the changes, in the order the statements ran
    std::vector<std::string> lastCalc; // column 3 afterwards
};

void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }

class RunTest : public ActionsFixture, public ::testing::WithParamInterface<RunCase>
{
};

const RunCase kRuns[] = {
    { "UpdateOneRow", &winAlert::btnAccept_Action, &winAlert::btnAccept, { 1 }, { "crc 2 NEW2" },
        { "OLD1", "NEW2", "OLD3" } },
    { "UpdateRows0And2", &winAlert::btnAccept_Action, &winAlert::btnAccept, { 0, 2 },
        { "crc 1 NEW1", "crc 3 NEW3" }, { "NEW1", "OLD2", "NEW3" } },
    { "ExemptRows0And2", &winAlert::btnExempt_Action, &winAlert::btnExempt, { 0, 2 },
        { "exempt 1 1", "exempt 3 1" }, { "OLD1", "OLD2", "OLD3" } },
};

} // namespace

TEST_P(RunTest, Run_SelectedRows_StatementsInRowOrderCommittedOnceAtTheEnd)
{
    const RunCase &c = GetParam();
    Select(c.selected);
    PushButton &button = *(*w.*c.button);
    std::vector<RunWatcher::Turn> turns;
    {
        RunWatcher watcher([&] { return Log().size(); }, button);
        Dispatch([&] { ((*w).*c.handler)(); });
        turns = watcher.turns;
    }

    // One turn per row, selected or not; nothing committed and the button disabled until the
    // run had ended.
    EXPECT_EQ(turns, std::vector<RunWatcher::Turn>(3, { 0, false }));
    EXPECT_EQ(Log(), c.log);
    EXPECT_EQ(Column(3), c.lastCalc);
    EXPECT_EQ(Column(4), (std::vector<std::string> { "NEW1", "NEW2", "NEW3" }));
    EXPECT_EQ(w->AlertList->ListCount(), 3);
    for (int row : c.selected)
        EXPECT_TRUE(w->AlertList->Selected(row)) << row;
    EXPECT_TRUE(button.Enabled());
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_TRUE(reports.empty());
}

INSTANTIATE_TEST_SUITE_P(WinAlertActions, RunTest, ::testing::ValuesIn(kRuns),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ActionsFixture, Update_TwiceOnTheSameRow_RunsTheSameStatementAgain)
{
    Select({ 0 });
    Dispatch([&] { w->btnAccept_Action(); });
    Dispatch([&] { w->btnAccept_Action(); });
    EXPECT_EQ(Log(), (std::vector<std::string> { "crc 1 NEW1", "crc 1 NEW1" }));
}

TEST_F(ActionsFixture, Update_ChecksumWithQuote_StoredExactly)
{
    w->AlertList->SetCell(0, 4, "AB'CD");
    Select({ 0 });
    Dispatch([&] { w->btnAccept_Action(); });
    EXPECT_EQ(Committed("SELECT crc FROM fileinfo ORDER BY idx;"),
        (std::vector<std::string> { "AB'CD", "OLD2", "OLD3" }));
    EXPECT_TRUE(dialogs->Messages().empty());
}

namespace {

struct FailureCase
{
    const char *name;
    Handler handler;
    Ref<PushButton> winAlert::*button;
    const char *failingColumn;
    int failingIdx;
};

void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.name; }

class FailureTest : public ActionsFixture, public ::testing::WithParamInterface<FailureCase>
{
};

// Rows 0 and 2 are selected; one of their statements fails.
const FailureCase kFailures[] = {
    { "UpdateFirstFails", &winAlert::btnAccept_Action, &winAlert::btnAccept, "crc", 1 },
    { "UpdateLastFails", &winAlert::btnAccept_Action, &winAlert::btnAccept, "crc", 3 },
    { "ExemptFirstFails", &winAlert::btnExempt_Action, &winAlert::btnExempt, "exempt", 1 },
};

} // namespace

TEST_P(FailureTest, Run_OneStatementFails_WholeRunRolledBackCellsRestoredAndSaid)
{
    const FailureCase &c = GetParam();
    Execute(std::string("CREATE TRIGGER refuse BEFORE UPDATE OF ") + c.failingColumn
        + " ON fileinfo WHEN NEW.idx = " + std::to_string(c.failingIdx)
        + " BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    Select({ 0, 2 });
    Dispatch([&] { ((*w).*c.handler)(); });

    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Committed("SELECT crc || ' ' || exempt FROM fileinfo ORDER BY idx;"),
        (std::vector<std::string> { "OLD1 0", "OLD2 0", "OLD3 0" }));
    EXPECT_EQ(Column(3), (std::vector<std::string> { "OLD1", "OLD2", "OLD3" }));
    EXPECT_EQ(dialogs->Messages(), std::vector<std::string> { "Unable to update database." });
    EXPECT_TRUE((*w.*c.button)->Enabled());
    EXPECT_TRUE(reports.empty());
}

INSTANTIATE_TEST_SUITE_P(WinAlertActions, FailureTest, ::testing::ValuesIn(kFailures),
    [](const auto &info) { return std::string(info.param.name); });

namespace {

struct ExceptionCase
{
    const char *name;
    Handler handler;
    Ref<PushButton> winAlert::*button;
    const char *tag;
};

void PrintTo(const ExceptionCase &c, std::ostream *os) { *os << c.name; }

class ExceptionTest : public ActionsFixture, public ::testing::WithParamInterface<ExceptionCase>
{
};

const ExceptionCase kExceptions[] = {
    { "Update", &winAlert::btnAccept_Action, &winAlert::btnAccept,
        "winAlert.Controls.btnAccept.Action" },
    { "Exempt", &winAlert::btnExempt_Action, &winAlert::btnExempt,
        "winAlert.Controls.btnExempt.Action" },
};

} // namespace

TEST_P(ExceptionTest, Run_ExceptionAtTheSecondRow_ReportedRolledBackAndButtonEnabled)
{
    const ExceptionCase &c = GetParam();
    w->AlertList->SetCellTag(1, 1, std::string("not an idx"));
    Select({ 0, 1, 2 });
    Dispatch([&] { ((*w).*c.handler)(); });

    EXPECT_EQ(reports, std::vector<std::string> { c.tag });
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Column(3), (std::vector<std::string> { "OLD1", "OLD2", "OLD3" }));
    EXPECT_TRUE((*w.*c.button)->Enabled());
    EXPECT_TRUE(dialogs->Messages().empty());
    // The transaction has ended: the other connection can write at once.
    observer->SQLExecute("INSERT INTO log (what) VALUES ('after');");
    EXPECT_FALSE(observer->Error()) << observer->ErrorMessage();
    EXPECT_EQ(Log(), std::vector<std::string> { "after" });
}

INSTANTIATE_TEST_SUITE_P(WinAlertActions, ExceptionTest, ::testing::ValuesIn(kExceptions),
    [](const auto &info) { return std::string(info.param.name); });
