// A rescan that finds 1,000 changed files: the comparison sends each warning to the hidden
// warnings window and makes a new hidden one for the next, yielding after each, so 1,000 windows
// of one row end up on screen. Reports the time, the memory each window takes (growth of the
// resident set), the largest gap between two turns of the event loop while it runs and how many
// gaps passed 20 ms, then the time to close them all.

#include "bench/resident.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/support/testsupport.h"
#include "ui/warnings/winalert.h"

#include <QApplication>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

using namespace platform;

namespace {

constexpr int kWarnings = 1000;

/// The largest time between two turns of the event loop while it is watched: a timer of no
/// interval fires once on every turn.
class LoopGaps
{
public:
    LoopGaps()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            if (m_turns > 0) {
                m_largest = std::max(m_largest, now - m_last);
                if (now - m_last > std::chrono::milliseconds(20))
                    ++m_over;
            }
            m_last = now;
            ++m_turns;
        });
        m_timer.start();
    }
    int Over() const { return m_over; }
    long Turns() const { return m_turns; }
    double LargestMs() const
    {
        return std::chrono::duration<double, std::milli>(m_largest).count();
    }

private:
    using Clock = std::chrono::steady_clock;
    QTimer m_timer;
    Clock::time_point m_last;
    Clock::duration m_largest {};
    long m_turns = 0;
    int m_over = 0;
};

std::string Digest(int i, char fill)
{
    std::string s(64, fill);
    const std::string n = std::to_string(i);
    std::copy(n.begin(), n.end(), s.begin());
    return s;
}

void BM_Rescan_OneThousandChangedFiles_OpenAWindowEach(benchmark::State &state)
{
    Scheduler::SetDeterministic(false);
    // The main window is on screen before any scan, as in the program.
    auto main = MakeWindow<Window>();
    main->SetSize(846, 651);
    QApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        Globals::g_winAlert = MakeWindow<winAlert>();
        QApplication::processEvents();
        const long before = bench::ResidentBytes();
        const std::size_t windowsBefore = OpenWindows().size();
        state.ResumeTiming();

        LoopGaps gaps;
        bool done = false;
        auto compare = std::make_shared<platform::testing::LambdaThread>([&] {
            for (int i = 0; i < kWarnings; ++i) {
                const std::string name = "file" + std::to_string(i) + ".dat";
                Globals::g_winAlert->SendAlert(name, "<data>", Digest(i, 'A'), Digest(i, 'B'),
                    "Disk:home:bench:Archive:" + name, i + 1);
                Globals::g_winAlert = MakeWindow<winAlert>();
                Yield();
            }
            done = true;
        });
        compare->Run();
        if (!ProcessEventsUntil([&] { return done; }, 600'000))
            state.SkipWithError("the comparison did not finish");
        // Until every window has painted its row: the user sees them all.
        QApplication::processEvents();

        state.PauseTiming();
        const long after = bench::ResidentBytes();
        state.counters["windows_shown"] = double(OpenWindows().size() - windowsBefore);
        state.counters["KiB_per_window"] = double(after - before) / 1024.0 / kWarnings;
        state.counters["MiB_total"] = double(after - before) / (1024.0 * 1024.0);
        state.counters["largest_loop_gap_ms"] = gaps.LargestMs();
        state.counters["gaps_over_20ms"] = gaps.Over();
        state.counters["turns"] = double(gaps.Turns());

        const auto closing = std::chrono::steady_clock::now();
        for (const auto &w : OpenWindows()) {
            if (w != main)
                w->Close();
        }
        Globals::g_winAlert = nullptr;
        QApplication::processEvents();
        state.counters["close_all_ms"]
            = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - closing)
                  .count();
        state.ResumeTiming();
    }
    main->Close();
    Scheduler::SetDeterministic(true);
}
BENCHMARK(BM_Rescan_OneThousandChangedFiles_OpenAWindowEach)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
