#include "platform/thread.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/controls.h"
#include "platform/debuglog.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/menu.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

using namespace platform;

namespace {

constexpr int kWaitMs = 5000;

using State = Thread::State;

using FnThread = platform::testing::LambdaThread;

std::shared_ptr<FnThread> Start(std::function<void()> body)
{
    auto thread = std::make_shared<FnThread>(std::move(body));
    thread->Run();
    return thread;
}

/// Turns the event loop until `done` holds, for at most kWaitMs.
bool TurnUntil(const std::function<bool()> &done) { return ProcessEventsUntil(done, kWaitMs); }

bool AllEnded() { return Scheduler::LiveCount() == 0; }

std::string Join(const std::vector<std::string> &items)
{
    std::string out;
    for (const auto &item : items)
        out += (out.empty() ? "" : " ") + item;
    return out;
}

/// Counts the objects of its kind that are alive: one on a thread's stack shows whether the
/// stack was unwound.
struct Counted
{
    explicit Counted(int &alive)
        : m_alive(alive)
    {
        ++m_alive;
    }
    ~Counted() { --m_alive; }
    Counted(const Counted &) = delete;
    Counted &operator=(const Counted &) = delete;
    int &m_alive;
};

class ThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Scheduler::DestroyAll(); // whatever an earlier test left behind
        Scheduler::SetDeterministic(true);
        dialogs = std::make_shared<ScriptedDialogs>();
        SetDialogProvider(dialogs);
        System::SetDebugLogObserver([this](const std::string &line) { logLines.push_back(line); });
    }

    void TearDown() override
    {
        if (Scheduler::LiveCount() != 0) {
            ADD_FAILURE() << Scheduler::LiveCount() << " threads left running";
            Scheduler::DestroyAll();
        }
        System::SetDebugLogObserver(nullptr);
        SetDialogProvider(nullptr);
        Scheduler::SetDeterministic(true);
    }

    std::shared_ptr<ScriptedDialogs> dialogs;
    std::vector<std::string> logLines;
    std::vector<std::string> log;
};

// --- Interleaving ---------------------------------------------------------------------------

struct InterleaveCase
{
    const char *name;
    std::vector<int> steps; // steps of threads a, b, c...; a yield between two steps
    const char *expected;
};

// The case's name, not its bytes, in test names and failure messages.
void PrintTo(const InterleaveCase &c, std::ostream *os) { *os << c.name; }

class ThreadInterleaveTest : public ThreadTest, public ::testing::WithParamInterface<InterleaveCase>
{
};

TEST_P(ThreadInterleaveTest, Yield_Deterministic_SwitchesRoundRobin)
{
    const InterleaveCase &c = GetParam();
    std::vector<std::shared_ptr<FnThread>> threads;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const std::string name(1, char('a' + i));
        const int steps = c.steps[i];
        threads.push_back(Start([this, name, steps] {
            for (int step = 1; step <= steps; ++step) {
                log.push_back(name + std::to_string(step));
                if (step < steps)
                    Yield();
            }
        }));
    }
    // Run only makes the threads ready.
    EXPECT_TRUE(log.empty());
    for (const auto &thread : threads)
        EXPECT_EQ(thread->GetState(), State::Ready);

    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), c.expected);
    for (const auto &thread : threads)
        EXPECT_EQ(thread->GetState(), State::NotRunning);
}

INSTANTIATE_TEST_SUITE_P(Orders, ThreadInterleaveTest,
    ::testing::Values(InterleaveCase { "TwoEqual", { 3, 3 }, "a1 b1 a2 b2 a3 b3" },
        InterleaveCase { "TwoUneven", { 3, 1 }, "a1 b1 a2 a3" },
        InterleaveCase { "ThreeEqual", { 2, 2, 2 }, "a1 b1 c1 a2 b2 c2" },
        InterleaveCase { "ThreeUneven", { 1, 3, 2 }, "a1 b1 c1 b2 c2 b3" }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ThreadTest, CurrentThread_InsideAndOutside_NamesTheRunningThread)
{
    EXPECT_EQ(CurrentThread(), nullptr);
    Thread *seen = nullptr;
    State stateSeen = State::NotRunning;
    std::shared_ptr<FnThread> thread;
    thread = Start([&] {
        seen = CurrentThread();
        stateSeen = thread->GetState();
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(seen, thread.get());
    EXPECT_EQ(stateSeen, State::Running);
    EXPECT_EQ(CurrentThread(), nullptr);
}

TEST_F(ThreadTest, Run_DeepRecursion_FitsOnTheStack)
{
    // About 2 MiB of frames: more than Boost's default stack, within ours.
    std::function<int(int)> descend = [&](int depth) -> int {
        volatile char frame[16 * 1024];
        frame[0] = char(depth % 100);
        frame[sizeof frame - 1] = frame[0];
        const int here = frame[sizeof frame - 1] == char(depth % 100) ? 0 : 1;
        return depth == 0 ? here : descend(depth - 1) + here;
    };
    int result = -1;
    Start([&] { result = descend(128); });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(result, 0);
}

// --- Run ------------------------------------------------------------------------------------

struct RunTwiceCase
{
    const char *name;
    std::function<void()> before; // what the thread does before the second Run
    State expectedState;
};

// The case's name, not its bytes, in test names and failure messages.
void PrintTo(const RunTwiceCase &c, std::ostream *os) { *os << c.name; }

class ThreadRunTwiceTest : public ThreadTest, public ::testing::WithParamInterface<RunTwiceCase>
{
};

TEST_P(ThreadRunTwiceTest, Run_ThreadNotEnded_RaisesThreadAlreadyRunning)
{
    const RunTwiceCase &c = GetParam();
    auto thread = Start(c.before);
    if (c.expectedState != State::Ready) {
        ASSERT_TRUE(TurnUntil([&] { return thread->GetState() == c.expectedState; }));
    }
    EXPECT_THROW(thread->Run(), ThreadAlreadyRunningException);
    thread->Kill();
    ASSERT_TRUE(TurnUntil(AllEnded));
}

INSTANTIATE_TEST_SUITE_P(States, ThreadRunTwiceTest,
    ::testing::Values(RunTwiceCase { "Ready", [] {}, State::Ready },
        RunTwiceCase { "Sleeping", [] { CurrentThread()->Sleep(60'000); }, State::Sleeping },
        RunTwiceCase { "Blocked", [] { Scheduler::Block(); }, State::Suspended }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ThreadTest, Run_FromInsideItself_RaisesThreadAlreadyRunning)
{
    bool raised = false;
    Start([&] {
        try {
            CurrentThread()->Run();
        } catch (const ThreadAlreadyRunningException &) {
            raised = true;
        }
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_TRUE(raised);
}

TEST_F(ThreadTest, Run_AfterTheThreadEnded_RunsItAgain)
{
    int runs = 0;
    auto thread = Start([&] { ++runs; });
    ASSERT_TRUE(TurnUntil(AllEnded));
    thread->Run();
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(runs, 2);
}

TEST_F(ThreadTest, Run_NotOwnedBySharedPtr_RaisesAndRunsNothing)
{
    bool ran = false;
    FnThread thread([&] { ran = true; });
    EXPECT_THROW(thread.Run(), RuntimeException);
    EXPECT_EQ(thread.GetState(), State::NotRunning);
    EXPECT_EQ(Scheduler::LiveCount(), 0u);
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, Run_OwnerDropsItsReference_ThreadRunsToTheEnd)
{
    bool finished = false;
    std::weak_ptr<FnThread> weak;
    {
        auto thread = Start([&] {
            Yield();
            finished = true;
        });
        weak = thread;
    }
    EXPECT_FALSE(weak.expired());
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_TRUE(finished);
    EXPECT_TRUE(weak.expired());
}

// --- Sleep ----------------------------------------------------------------------------------

TEST_F(ThreadTest, Sleep_OtherThreadKeepsRunning_SleeperFinishesAfterIt)
{
    bool sleeperDone = false;
    int yieldsWhileAsleep = 0;
    std::vector<State> sleeperStates;
    auto sleeper = Start([&] {
        log.push_back("sleep");
        CurrentThread()->Sleep(50);
        log.push_back("awake");
        sleeperDone = true;
    });
    Start([&] {
        while (!sleeperDone) {
            if (yieldsWhileAsleep < 3)
                sleeperStates.push_back(sleeper->GetState());
            ++yieldsWhileAsleep;
            Yield();
        }
        log.push_back("counter done");
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "sleep awake counter done");
    EXPECT_GT(yieldsWhileAsleep, 0);
    EXPECT_EQ(sleeperStates, std::vector<State>(sleeperStates.size(), State::Sleeping));
    EXPECT_FALSE(sleeperStates.empty());
}

TEST_F(ThreadTest, Sleep_ZeroMs_GivesTheOthersATurn)
{
    Start([&] {
        log.push_back("a1");
        CurrentThread()->Sleep(0);
        log.push_back("a2");
    });
    Start([&] { log.push_back("b1"); });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "a1 b1 a2");
}

TEST_F(ThreadTest, Sleep_OnAReadyThreadFromOutside_PutsItToSleep)
{
    auto thread = Start([&] { log.push_back("ran"); });
    thread->Sleep(20);
    EXPECT_EQ(thread->GetState(), State::Sleeping);
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "ran");
}

// --- Unhandled exceptions -------------------------------------------------------------------

struct EscapeCase
{
    const char *name;
    std::function<void()> raise;
    const char *className; // nullptr: nothing is reported
};

// The case's name, not its bytes, in test names and failure messages.
void PrintTo(const EscapeCase &c, std::ostream *os) { *os << c.name; }

class ThreadEscapeTest : public ThreadTest, public ::testing::WithParamInterface<EscapeCase>
{
};

TEST_P(ThreadEscapeTest, EventRun_ExceptionEscapes_HandlerReportsItAndOthersRunOn)
{
    const EscapeCase &c = GetParam();
    Start([&] {
        log.push_back("a1");
        Yield();
        log.push_back("a raises");
        c.raise();
        log.push_back("a after");
    });
    Start([&] {
        for (int step = 1; step <= 4; ++step) {
            log.push_back("b" + std::to_string(step));
            Yield();
        }
    });
    ASSERT_TRUE(TurnUntil(AllEnded));

    EXPECT_EQ(Join(log), "a1 b1 a raises b2 b3 b4");
    if (!c.className) {
        EXPECT_TRUE(dialogs->shown.empty());
        return;
    }
    ASSERT_EQ(dialogs->Messages().size(), 1u);
    EXPECT_NE(dialogs->Messages()[0].find(c.className), std::string::npos)
        << dialogs->Messages()[0];
    bool logged = false;
    for (const auto &line : logLines)
        logged = logged || line.find(c.className) != std::string::npos;
    EXPECT_TRUE(logged);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ThreadEscapeTest,
    ::testing::Values(EscapeCase { "FrameworkException", [] { throw NilObjectException("boom"); },
                          "NilObjectException" },
        EscapeCase { "StandardException", [] { throw std::out_of_range("index 9"); },
            "OutOfBoundsException" },
        EscapeCase { "ThreadEnd", [] { throw ThreadEndException(); }, nullptr }),
    [](const auto &info) { return std::string(info.param.name); });

// --- Kill -----------------------------------------------------------------------------------

struct KillCase
{
    const char *name;
    State victimState; // the state in which the victim is killed from GUI code
    std::function<void()> wait;
};

// The case's name, not its bytes, in test names and failure messages.
void PrintTo(const KillCase &c, std::ostream *os) { *os << c.name; }

class ThreadKillTest : public ThreadTest, public ::testing::WithParamInterface<KillCase>
{
};

TEST_P(ThreadKillTest, Kill_SuspendedThread_EndsItAndUnwindsItsStack)
{
    const KillCase &c = GetParam();
    int alive = 0;
    bool passed = false;
    auto victim = Start([&] {
        Counted guard(alive);
        c.wait();
        passed = true;
    });
    ASSERT_TRUE(TurnUntil([&] { return victim->GetState() == c.victimState && alive == 1; }));

    victim->Kill();
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(passed);
    EXPECT_EQ(victim->GetState(), State::NotRunning);
    EXPECT_TRUE(dialogs->shown.empty());
}

INSTANTIATE_TEST_SUITE_P(States, ThreadKillTest,
    ::testing::Values(
        KillCase { "Sleeping", State::Sleeping, [] { CurrentThread()->Sleep(60'000); } },
        KillCase { "Blocked", State::Suspended, [] { Scheduler::Block(); } },
        KillCase { "Yielding", State::Ready,
            [] {
                for (;;)
                    Yield();
            } }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ThreadTest, Kill_BeforeTheFirstTurn_EventRunNeverRuns)
{
    bool ran = false;
    auto thread = Start([&] { ran = true; });
    thread->Kill();
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, Kill_ItselfThenYield_EndsAtThatYield)
{
    int alive = 0;
    Start([&] {
        Counted guard(alive);
        log.push_back("before");
        CurrentThread()->Kill();
        log.push_back("still running");
        Yield();
        log.push_back("after yield");
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "before still running");
    EXPECT_EQ(alive, 0);
}

TEST_F(ThreadTest, Kill_ByAnotherThread_EndsTheVictimAtItsNextResume)
{
    std::shared_ptr<FnThread> victim;
    victim = Start([&] {
        for (int step = 1;; ++step) {
            log.push_back("v" + std::to_string(step));
            Yield();
        }
    });
    Start([&] {
        log.push_back("k1");
        Yield();
        victim->Kill();
        log.push_back("killed");
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "v1 k1 v2 killed");
}

TEST_F(ThreadTest, Kill_ThreadSwallowsTheEnd_EndsAtItsNextYield)
{
    std::shared_ptr<FnThread> victim;
    victim = Start([&] {
        CatchAll("test", [] { CurrentThread()->Sleep(60'000); });
        log.push_back("caught");
        Yield();
        log.push_back("after yield");
    });
    ASSERT_TRUE(TurnUntil([&] { return victim->GetState() == State::Sleeping; }));
    victim->Kill();
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "caught");
}

// --- Block and Wake -------------------------------------------------------------------------

TEST_F(ThreadTest, Block_UntilWake_StaysSuspendedWhileOthersRun)
{
    std::shared_ptr<FnThread> blocked;
    blocked = Start([&] {
        log.push_back("blocking");
        Scheduler::Block();
        log.push_back("woken");
    });
    std::vector<State> seen;
    auto other = Start([&] {
        for (int step = 0; step < 5; ++step) {
            seen.push_back(blocked->GetState());
            Yield();
        }
    });
    ASSERT_TRUE(TurnUntil([&] { return other->GetState() == State::NotRunning; }));
    EXPECT_EQ(seen, std::vector<State>(5, State::Suspended));
    EXPECT_EQ(blocked->GetState(), State::Suspended);
    EXPECT_EQ(Join(log), "blocking");

    Scheduler::Wake(blocked.get());
    EXPECT_EQ(blocked->GetState(), State::Ready);
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "blocking woken");
}

TEST_F(ThreadTest, Wake_ThreadNotBlocked_LeavesItAlone)
{
    auto sleeper = Start([] { CurrentThread()->Sleep(60'000); });
    ASSERT_TRUE(TurnUntil([&] { return sleeper->GetState() == State::Sleeping; }));
    auto ready = Start([&] {
        log.push_back("r1");
        Yield();
        log.push_back("r2");
    });

    Scheduler::Wake(sleeper.get());
    Scheduler::Wake(ready.get());
    Scheduler::Wake(nullptr);
    EXPECT_EQ(sleeper->GetState(), State::Sleeping);
    EXPECT_EQ(ready->GetState(), State::Ready);
    ASSERT_TRUE(TurnUntil([&] { return ready->GetState() == State::NotRunning; }));
    EXPECT_EQ(Join(log), "r1 r2");
    EXPECT_EQ(sleeper->GetState(), State::Sleeping);
    sleeper->Kill();
    ASSERT_TRUE(TurnUntil(AllEnded));
}

TEST_F(ThreadTest, Block_FromGuiCode_Raises) { EXPECT_THROW(Scheduler::Block(), RuntimeException); }

// A thread may be suspended inside a catch block (a message box shown from a handler); each thread
// keeps its own record of the exceptions it is handling, whatever order they are resumed in.
class ThreadCatchBlockTest : public ThreadTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ThreadCatchBlockTest, Block_InsideCatchBlocks_EachThreadRethrowsItsOwn)
{
    const bool wakeFirstBlockedFirst = GetParam();
    auto body = [this](const std::string &name) {
        return [this, name] {
            try {
                throw std::runtime_error(name);
            } catch (...) {
                Scheduler::Block();
                try {
                    throw;
                } catch (const std::exception &e) {
                    log.push_back(name + " rethrew " + e.what());
                }
            }
            log.push_back(name + " uncaught " + std::to_string(std::uncaught_exceptions()));
        };
    };
    auto a = Start(body("a"));
    auto b = Start(body("b"));
    ASSERT_TRUE(TurnUntil(
        [&] { return a->GetState() == State::Suspended && b->GetState() == State::Suspended; }));
    auto first = wakeFirstBlockedFirst ? a : b;
    auto second = wakeFirstBlockedFirst ? b : a;
    Scheduler::Wake(first.get());
    ASSERT_TRUE(TurnUntil([&] { return first->GetState() == State::NotRunning; }));
    Scheduler::Wake(second.get());
    ASSERT_TRUE(TurnUntil(AllEnded));

    const std::string f = wakeFirstBlockedFirst ? "a" : "b";
    const std::string s = wakeFirstBlockedFirst ? "b" : "a";
    EXPECT_EQ(Join(log),
        f + " rethrew " + f + " " + f + " uncaught 0 " + s + " rethrew " + s + " " + s
            + " uncaught 0");
    EXPECT_EQ(std::current_exception(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WakeOrders, ThreadCatchBlockTest, ::testing::Bool(), [](const auto &info) {
    return std::string(info.param ? "FirstInFirstOut" : "LastInFirstOut");
});

// --- Yield from GUI code and the scopes -----------------------------------------------------

TEST_F(ThreadTest, Yield_FromGuiCode_RunsOneRound)
{
    for (const char *name : { "a", "b" })
        Start([this, name = std::string(name)] {
            for (int step = 1; step <= 3; ++step) {
                log.push_back(name + std::to_string(step));
                Yield();
            }
        });
    Yield();
    EXPECT_EQ(Join(log), "a1 b1");
    Yield();
    EXPECT_EQ(Join(log), "a1 b1 a2 b2");
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "a1 b1 a2 b2 a3 b3");
}

TEST_F(ThreadTest, Yield_FromGuiCodeWithNothingReady_Returns)
{
    Yield();
    EXPECT_EQ(Scheduler::LiveCount(), 0u);
}

TEST_F(ThreadTest, Yield_InsideNoYieldScopeOnAThread_DoesNothing)
{
    Start([&] {
        log.push_back("a1");
        {
            Scheduler::NoYieldScope noYield;
            Yield();
            log.push_back("a2");
        }
        Yield();
        log.push_back("a3");
    });
    Start([&] {
        log.push_back("b1");
        Yield();
        log.push_back("b2");
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "a1 a2 b1 a3 b2");
}

TEST_F(ThreadTest, Yield_InsideNoYieldScopeOnGuiCode_RunsNothing)
{
    Start([&] { log.push_back("ran"); });
    {
        Scheduler::NoYieldScope noYield;
        Yield();
    }
    EXPECT_TRUE(log.empty());
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "ran");
}

TEST_F(ThreadTest, NoYieldScope_ThreadSwitchedOutInside_OtherThreadsStillYield)
{
    // A scope belongs to the thread that opened it: blocking inside it must not silence others.
    std::shared_ptr<FnThread> a;
    a = Start([&] {
        Scheduler::NoYieldScope noYield;
        Scheduler::Block();
        Yield();
        log.push_back("a done");
    });
    ASSERT_TRUE(TurnUntil([&] { return a->GetState() == State::Suspended; }));
    Start([&] {
        log.push_back("b1");
        Yield();
        log.push_back("b2");
    });
    Start([&] {
        log.push_back("c1");
        Scheduler::Wake(a.get());
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "b1 c1 b2 a done");
}

TEST_F(ThreadTest, OutsideThreadScope_YieldInside_RunsTheOthersButNotItself)
{
    std::shared_ptr<FnThread> a;
    std::vector<Thread *> current;
    a = Start([&] {
        log.push_back("a start");
        current.push_back(CurrentThread());
        {
            Scheduler::OutsideThreadScope outside;
            current.push_back(CurrentThread());
            Yield();
            log.push_back("a round done");
        }
        current.push_back(CurrentThread());
    });
    Start([&] {
        log.push_back("b1");
        Yield();
        log.push_back("b2");
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "a start b1 a round done b2");
    EXPECT_EQ(current, (std::vector<Thread *> { a.get(), nullptr, a.get() }));
}

TEST_F(ThreadTest, OutsideThreadScope_NestedEventLoop_OtherThreadsRunInside)
{
    bool bDone = false;
    bool loopEnded = false;
    std::shared_ptr<FnThread> a;
    State aStateSeenByB = State::NotRunning;
    a = Start([&] {
        log.push_back("a loop");
        {
            Scheduler::OutsideThreadScope outside;
            loopEnded = ProcessEventsUntil([&] { return bDone; }, kWaitMs);
        }
        log.push_back("a back");
    });
    Start([&] {
        for (int step = 1; step <= 3; ++step) {
            log.push_back("b" + std::to_string(step));
            Yield();
        }
        aStateSeenByB = a->GetState();
        bDone = true;
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_TRUE(loopEnded);
    EXPECT_EQ(Join(log), "a loop b1 b2 b3 a back");
    EXPECT_EQ(aStateSeenByB, State::Running);
}

TEST_F(ThreadTest, Yield_NotDeterministic_EveryThreadFinishes)
{
    Scheduler::SetDeterministic(false);
    int yields = 0;
    for (int i = 0; i < 3; ++i)
        Start([&] {
            for (int step = 0; step < 1000; ++step) {
                ++yields;
                Yield();
            }
        });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(yields, 3000);
}

// --- Destroying threads ---------------------------------------------------------------------

TEST_F(ThreadTest, DestroyAll_SuspendedThreads_RunsEveryDestructorOnTheirStacks)
{
    int alive = 0;
    int reports = 0;
    SetExceptionReporter([&](const RuntimeException &, const std::string &) { ++reports; });
    std::vector<std::weak_ptr<FnThread>> weak;
    std::vector<std::function<void()>> waits = {
        [] { Scheduler::Block(); },
        [] { CurrentThread()->Sleep(60'000); },
        [] {
            for (;;)
                Yield();
        },
        [] {
            try {
                throw std::runtime_error("handled");
            } catch (...) {
                Scheduler::Block();
            }
        },
        [] { CatchAll("test", [] { Scheduler::Block(); }); },
    };
    for (const auto &wait : waits) {
        auto thread = Start([&alive, wait] {
            Counted outer(alive);
            Counted inner(alive);
            wait();
        });
        weak.push_back(thread);
    }
    ASSERT_TRUE(TurnUntil([&] { return alive == int(2 * waits.size()); }));
    bool neverStartedRan = false;
    weak.push_back(Start([&] { neverStartedRan = true; }));

    Scheduler::DestroyAll();
    SetExceptionReporter(nullptr);
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(Scheduler::LiveCount(), 0u);
    EXPECT_FALSE(neverStartedRan);
    EXPECT_EQ(reports, 0);
    EXPECT_TRUE(dialogs->shown.empty());
    for (const auto &w : weak)
        EXPECT_TRUE(w.expired());
    EXPECT_EQ(std::current_exception(), nullptr);
    EXPECT_EQ(CurrentThread(), nullptr);
}

TEST_F(ThreadTest, DestroyAll_ThenNewThreads_RunAsUsual)
{
    Start([] { Scheduler::Block(); });
    ASSERT_TRUE(TurnUntil([] { return Scheduler::LiveCount() == 1; }));
    Scheduler::DestroyAll();
    Start([&] {
        log.push_back("a1");
        Yield();
        log.push_back("a2");
    });
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), "a1 a2");
}

TEST(ThreadExitTest, Exit_WithSuspendedThreads_ExitsCleanly)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto blocked = Start([] { Scheduler::Block(); });
            auto sleeper = Start([] { CurrentThread()->Sleep(60'000); });
            bool looping = false;
            Start([&looping] {
                for (;;) {
                    looping = true;
                    Yield();
                }
            });
            const bool started = TurnUntil([&] {
                return blocked->GetState() == State::Suspended
                    && sleeper->GetState() == State::Sleeping && looping;
            });
            std::exit(started && Scheduler::LiveCount() == 3 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// --- Modal dialogs --------------------------------------------------------------------------

QMessageBox *VisibleBox(const std::string &text)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->text() == QString::fromStdString(text))
            return box;
    }
    return nullptr;
}

bool ClickOk(const std::string &text)
{
    QMessageBox *box = VisibleBox(text);
    if (!box || !box->button(QMessageBox::Ok))
        return false;
    box->button(QMessageBox::Ok)->click();
    return true;
}

/// A window with one push button that counts its presses, a menu item with a shortcut that
/// counts its choices, and a record of its Close event.
class ButtonWindow : public Window
{
public:
    Ref<PushButton> button;
    int presses = 0;
    int chosen = 0;
    bool closeEventRan = false;

protected:
    void Layout() override
    {
        auto bar = New<MenuBar>();
        auto file = New<MenuItem>("File");
        bar->Append(file);
        auto open = New<MenuItem>("Open Folder");
        open->SetName("FileOpenFolder");
        open->SetKeyboardShortcut("Cmd+O");
        file->Append(open);
        SetMenuBar(bar);
        SetTitle("Behind the box");
        SetSize(300, 200);
    }
    void AddMenuHandlers() override
    {
        AddMenuHandler("FileOpenFolder", [this] {
            ++chosen;
            return true;
        });
    }
    void CreateControls() override
    {
        button = New<PushButton>();
        AddControl("pbMBS", button);
        button->SetBounds(20, 20, 200, 24);
        button->SetCaption("Load Directory to Scan");
        button->Action = [this] { ++presses; };
    }
    void Event_Close() override { closeEventRan = true; }
};

QWindow *NativeWindowOf(const Window &w)
{
    return static_cast<QWidget *>(w.NativeHandle())->windowHandle();
}

/// A left click in the middle of `button`, given to the window system's input queue as a real
/// click is, so that modal blocking applies to it (QTest's widget overload would bypass it).
void ClickAsTheUser(const ButtonWindow &w)
{
    auto *widget = static_cast<QWidget *>(w.button->NativeHandle());
    QWindow *window = NativeWindowOf(w);
    const QPoint at = window->mapFromGlobal(widget->mapToGlobal(widget->rect().center()));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
}

/// Asks the window to close as the window manager's close box does.
void CloseAsTheUser(const ButtonWindow &w)
{
    QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
        NativeWindowOf(w));
    QCoreApplication::processEvents();
}

class ThreadDialogTest : public ThreadTest
{
protected:
    void SetUp() override
    {
        ThreadTest::SetUp();
        SetDialogProvider(nullptr); // Qt's dialogs
    }
};

TEST_F(ThreadDialogTest, MsgBox_FromAThread_OnlyThatThreadWaits)
{
    bool closed = false;
    int otherYields = 0;
    auto asker = Start([&] {
        MsgBox("from a");
        closed = true;
    });
    Start([&] {
        while (!closed) {
            ++otherYields;
            Yield();
        }
    });
    ASSERT_TRUE(TurnUntil([] { return VisibleBox("from a") != nullptr; }));
    EXPECT_EQ(asker->GetState(), State::Suspended);
    const int before = otherYields;
    ASSERT_TRUE(TurnUntil([&] { return otherYields > before + 10; }));
    EXPECT_FALSE(closed);

    ASSERT_TRUE(ClickOk("from a"));
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_TRUE(closed);
}

class ThreadDialogOrderTest : public ThreadDialogTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ThreadDialogOrderTest, MsgBox_TwoThreads_CloseInEitherOrder)
{
    const bool firstOpenedClosesFirst = GetParam();
    auto a = Start([&] {
        MsgBox("from a");
        log.push_back("a closed");
    });
    auto b = Start([&] {
        MsgBox("from b");
        log.push_back("b closed");
    });
    ASSERT_TRUE(TurnUntil(
        [] { return VisibleBox("from a") != nullptr && VisibleBox("from b") != nullptr; }));

    const std::string first = firstOpenedClosesFirst ? "a" : "b";
    const std::string second = firstOpenedClosesFirst ? "b" : "a";
    auto firstThread = firstOpenedClosesFirst ? a : b;
    auto secondThread = firstOpenedClosesFirst ? b : a;

    ASSERT_TRUE(ClickOk("from " + first));
    ASSERT_TRUE(TurnUntil([&] { return firstThread->GetState() == State::NotRunning; }));
    EXPECT_EQ(secondThread->GetState(), State::Suspended);
    EXPECT_NE(VisibleBox("from " + second), nullptr);

    ASSERT_TRUE(ClickOk("from " + second));
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(Join(log), first + " closed " + second + " closed");
}

INSTANTIATE_TEST_SUITE_P(
    CloseOrders, ThreadDialogOrderTest, ::testing::Bool(), [](const auto &info) {
        return std::string(info.param ? "FirstOpenedFirst" : "LastOpenedFirst");
    });

TEST_F(ThreadDialogTest, Kill_ThreadWaitingOnAMessageBox_ClosesTheBox)
{
    int alive = 0;
    auto asker = Start([&] {
        Counted guard(alive);
        MsgBox("killed while shown");
    });
    ASSERT_TRUE(TurnUntil([] { return VisibleBox("killed while shown") != nullptr; }));
    asker->Kill();
    ASSERT_TRUE(TurnUntil(AllEnded));
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(VisibleBox("killed while shown"), nullptr);
}

TEST_F(ThreadDialogTest, MsgBox_FromAThread_BlocksClicksShortcutsAndCloseRequestsOfOtherWindows)
{
    auto w = MakeWindow<ButtonWindow>();
    ASSERT_TRUE(TurnUntil([&] { return NativeWindowOf(*w)->isExposed(); }));
    // The click reaches the button while nothing is modal: the way of clicking works.
    ClickAsTheUser(*w);
    ASSERT_TRUE(TurnUntil([&] { return w->presses == 1; }));

    bool answered = false;
    int otherTurns = 0;
    auto asker = Start([&] {
        MsgBox("Database Error");
        answered = true;
    });
    Start([&] {
        while (!answered) {
            ++otherTurns;
            Yield();
        }
    });
    ASSERT_TRUE(TurnUntil([] { return VisibleBox("Database Error") != nullptr; }));
    QMessageBox *box = VisibleBox("Database Error");
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);

    ClickAsTheUser(*w);
    // The keyboard's input goes to the box, which has the focus; the menu's shortcuts are blocked.
    QTest::keyClick(box->windowHandle(), Qt::Key_O, Qt::ControlModifier);
    CloseAsTheUser(*w);
    // Whatever the click and the close request set off has run once the other thread has had
    // a few more turns.
    const int turns = otherTurns;
    ASSERT_TRUE(TurnUntil([&] { return otherTurns > turns + 5; }));
    EXPECT_EQ(w->presses, 1);
    EXPECT_EQ(w->chosen, 0);
    EXPECT_FALSE(w->IsClosed());
    EXPECT_FALSE(w->closeEventRan);
    EXPECT_EQ(asker->GetState(), State::Suspended);

    ASSERT_TRUE(ClickOk("Database Error"));
    ASSERT_TRUE(TurnUntil([&] { return answered; }));
    ClickAsTheUser(*w);
    ASSERT_TRUE(TurnUntil([&] { return w->presses == 2; }));
    w->Show(); // back in front, as the window manager brings it when the box goes
    ASSERT_TRUE(TurnUntil([&] { return QApplication::activeWindow() == w->NativeHandle(); }));
    QTest::keyClick(NativeWindowOf(*w), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(w->chosen, 1);
    CloseAsTheUser(*w);
    EXPECT_TRUE(w->IsClosed());
    EXPECT_TRUE(w->closeEventRan);
    ASSERT_TRUE(TurnUntil(AllEnded));
}

// --- Long GUI work that yields ---------------------------------------------------------------

/// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget)
        : m_widget(widget)
    {
        m_widget->installEventFilter(this);
    }
    ~PaintCounter() override
    {
        if (m_widget) // gone with its window when that closed
            m_widget->removeEventFilter(this);
    }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }

private:
    QPointer<QWidget> m_widget;
};

TEST_F(ThreadTest, LoopTurningScope_GuiCodeYields_RepaintsAndWakesSleepersButInputWaits)
{
    auto w = MakeWindow<ButtonWindow>();
    ASSERT_TRUE(TurnUntil([&] { return NativeWindowOf(*w)->isExposed(); }));
    QCoreApplication::processEvents(); // the paints of its first showing
    PaintCounter counter(static_cast<QWidget *>(w->button->NativeHandle()));

    // Queued as the window system queues them: a click on the button and a close request.
    QWindow *window = NativeWindowOf(*w);
    auto *widget = static_cast<QWidget *>(w->button->NativeHandle());
    const QPoint at = window->mapFromGlobal(widget->mapToGlobal(widget->rect().center()));
    using Async = QWindowSystemInterface::AsynchronousDelivery;
    QWindowSystemInterface::handleMouseEvent<Async>(window, at, window->mapToGlobal(at),
        Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Async>(window, at, window->mapToGlobal(at),
        Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
    QWindowSystemInterface::handleCloseEvent<Async>(window);

    bool woke = false;
    Start([&] {
        Thread *self = CurrentThread();
        self->Sleep(1);
        woke = true;
    });
    w->button->SetCaption("Digesting");
    {
        // GUI code that yields until the window has repainted and the sleeper has woken, as a
        // digest on the GUI thread yields after every piece; bounded like any wait.
        const Scheduler::LoopTurningScope turning;
        QElapsedTimer timer;
        timer.start();
        while (!(counter.paints > 0 && woke) && timer.elapsed() < kWaitMs)
            Yield();
        EXPECT_GT(counter.paints, 0);
        EXPECT_TRUE(woke);
        EXPECT_EQ(w->presses, 0);
        EXPECT_FALSE(w->closeEventRan);
    }
    // Held back, not lost: the loop delivers them once the stretch is over.
    ASSERT_TRUE(TurnUntil([&] { return w->presses == 1 && w->IsClosed(); }));
    EXPECT_TRUE(w->closeEventRan);
    ASSERT_TRUE(TurnUntil(AllEnded));
}

} // namespace
