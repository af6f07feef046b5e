#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/application.h"
#include "platform/thread.h"
#include "tests/support/testsupport.h"

using namespace platform;

namespace {

using FnThread = platform::testing::LambdaThread;

void Start(std::function<void()> body)
{
    auto thread = std::make_shared<FnThread>(std::move(body));
    thread->Run();
}

/// Turns the event loop until every thread has ended; the benchmark fails if they do not.
void RunThreads(benchmark::State &state)
{
    if (!ProcessEventsUntil([] { return Scheduler::LiveCount() == 0; }, 600'000))
        state.SkipWithError("the threads did not finish");
}

/// Yield on a worker whose time slice is not spent: the cost every loop pass of a scan pays.
/// Once per slice (10 ms) it does switch, which the average includes.
void BM_Yield_SliceNotSpent(benchmark::State &state)
{
    Scheduler::SetDeterministic(false);
    Start([&state] {
        for (auto _ : state)
            Yield();
    });
    RunThreads(state);
    Scheduler::SetDeterministic(true);
}
BENCHMARK(BM_Yield_SliceNotSpent);

/// Two threads in deterministic mode, each Yield a switch to the other: one iteration is two
/// switches (A to B and back); "per_switch" is the time of one.
void BM_Switch_TwoThreadsDeterministic(benchmark::State &state)
{
    Scheduler::SetDeterministic(true);
    bool done = false;
    std::int64_t switches = 0;
    Start([&] {
        for (auto _ : state) {
            Yield();
            switches += 2;
        }
        done = true;
    });
    Start([&] {
        while (!done)
            Yield();
    });
    RunThreads(state);
    state.counters["per_switch"] = benchmark::Counter(
        double(switches), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Switch_TwoThreadsDeterministic);

/// Yield from GUI code with one ready thread: a round that resumes it once.
void BM_Yield_GuiRound(benchmark::State &state)
{
    Scheduler::SetDeterministic(true);
    bool done = false;
    Start([&] {
        while (!done)
            Yield();
    });
    for (auto _ : state)
        Yield();
    done = true;
    RunThreads(state);
}
BENCHMARK(BM_Yield_GuiRound);

} // namespace

int main(int argc, char **argv)
{
    // The Qt application object on the offscreen platform, which the scheduler's posted calls
    // and timers need.
    platform::testing::InitForTests(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
