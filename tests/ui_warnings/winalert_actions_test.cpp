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

/// One of the two runs over the selected rows: its handler, its button and its catch-all's tag.
struct Action
{
    void (winAlert::*handler)();
    Ref<PushButton> winAlert::*button;
    const char *tag;

    void Press(winAlert &w) const
    {
        Dispatch([&] { (w.*handler)(); });
    }
    PushButton &Button(winAlert &w) const { return *(w.*button); }
};

const Action kUpdate { &winAlert::btnAccept_Action, &winAlert::btnAccept,
    "winAlert.Controls.btnAccept.Action" };
const Action kExempt { &winAlert::btnExempt_Action, &winAlert::btnExempt,
    "winAlert.Controls.btnExempt.Action" };

/// A table of cases over the fixture; each case has a name.
template<class Case>
class ActionsTest : public ActionsFixture, public ::testing::WithParamInterface<Case>
{
};

template<class Case>
requires requires(const Case &c) { c.name; }
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

template<class Case> std::string CaseName(const ::testing::TestParamInfo<Case> &info)
{
    return info.param.name;
}

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
    Action action;
    std::vector<int> selected;
    std::vector<std::string> log; // the changes, in the order the statements ran
    std::vector<std::string> lastCalc; // column 3 afterwards
};

using RunTest = ActionsTest<RunCase>;

const RunCase kRuns[] = {
    { "UpdateOneRow", kUpdate, { 1 }, { "crc 2 NEW2" }, { "OLD1", "NEW2", "OLD3" } },
    { "UpdateRows0And2", kUpdate, { 0, 2 }, { "crc 1 NEW1", "crc 3 NEW3" },
        { "NEW1", "OLD2", "NEW3" } },
    { "ExemptRows0And2", kExempt, { 0, 2 }, { "exempt 1 1", "exempt 3 1" },
        { "OLD1", "OLD2", "OLD3" } },
};

} // namespace

TEST_P(RunTest, Run_SelectedRows_StatementsInRowOrderCommittedOnceAtTheEnd)
{
    const RunCase &c = GetParam();
    Select(c.selected);
    PushButton &button = c.action.Button(*w);
    std::vector<RunWatcher::Turn> turns;
    {
        RunWatcher watcher([&] { return Log().size(); }, button);
        c.action.Press(*w);
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

INSTANTIATE_TEST_SUITE_P(WinAlertActions, RunTest, ::testing::ValuesIn(kRuns), CaseName<RunCase>);

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
    Action action;
    const char *failingColumn;
    int failingIdx;
};

using FailureTest = ActionsTest<FailureCase>;

// Rows 0 and 2 are selected; one of their statements fails.
const FailureCase kFailures[] = {
    { "UpdateFirstFails", kUpdate, "crc", 1 },
    { "UpdateLastFails", kUpdate, "crc", 3 },
    { "ExemptFirstFails", kExempt, "exempt", 1 },
};

} // namespace

TEST_P(FailureTest, Run_OneStatementFails_WholeRunRolledBackCellsRestoredAndSaid)
{
    const FailureCase &c = GetParam();
    Execute(std::string("CREATE TRIGGER refuse BEFORE UPDATE OF ") + c.failingColumn
        + " ON fileinfo WHEN NEW.idx = " + std::to_string(c.failingIdx)
        + " BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    Select({ 0, 2 });
    c.action.Press(*w);

    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Committed("SELECT crc || ' ' || exempt FROM fileinfo ORDER BY idx;"),
        (std::vector<std::string> { "OLD1 0", "OLD2 0", "OLD3 0" }));
    EXPECT_EQ(Column(3), (std::vector<std::string> { "OLD1", "OLD2", "OLD3" }));
    EXPECT_EQ(dialogs->Messages(), std::vector<std::string> { "Unable to update database." });
    EXPECT_TRUE(c.action.Button(*w).Enabled());
    EXPECT_TRUE(reports.empty());
}

INSTANTIATE_TEST_SUITE_P(
    WinAlertActions, FailureTest, ::testing::ValuesIn(kFailures), CaseName<FailureCase>);

namespace {

struct ExceptionCase
{
    const char *name;
    Action action;
};

using ExceptionTest = ActionsTest<ExceptionCase>;

const ExceptionCase kExceptions[] = { { "Update", kUpdate }, { "Exempt", kExempt } };

} // namespace

TEST_P(ExceptionTest, Run_ExceptionAtTheSecondRow_ReportedRolledBackAndButtonEnabled)
{
    const ExceptionCase &c = GetParam();
    w->AlertList->SetCellTag(1, 1, std::string("not an idx"));
    Select({ 0, 1, 2 });
    c.action.Press(*w);

    EXPECT_EQ(reports, std::vector<std::string> { c.action.tag });
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(Column(3), (std::vector<std::string> { "OLD1", "OLD2", "OLD3" }));
    EXPECT_TRUE(c.action.Button(*w).Enabled());
    EXPECT_TRUE(dialogs->Messages().empty());
    // The transaction has ended: the other connection can write at once.
    observer->SQLExecute("INSERT INTO log (what) VALUES ('after');");
    EXPECT_FALSE(observer->Error()) << observer->ErrorMessage();
    EXPECT_EQ(Log(), std::vector<std::string> { "after" });
}

INSTANTIATE_TEST_SUITE_P(
    WinAlertActions, ExceptionTest, ::testing::ValuesIn(kExceptions), CaseName<ExceptionCase>);
