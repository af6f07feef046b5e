// "Exempt Selected Resources" over 10,000 selected rows of a catalogue of 100,000 files: every
// row is looked up by its idx, updated and committed by itself, with a yield after each. Reports
// the time of the press (the target is at most 2 s) and the rows per second.

#include "bench/catalogue_fixture.h"
#include "core/app.h"
#include "core/filetypes.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "ui/main/window1.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace platform;

namespace {

constexpr int kSelected = 10000;

void BM_ExemptSelected_TenThousandRows_OneCommitEach(benchmark::State &state)
{
    Scheduler::SetDeterministic(false);
    platform::testing::TempFolder tmp;
    std::filesystem::create_directories(tmp / "config");
    setenv("XDG_CONFIG_HOME", (tmp / "config").c_str(), 1);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);
    auto app = std::make_shared<App>();
    app->DBExists = true;
    RegisterApplication(app);
    Globals::Initialize();
    FileTypes::Initialize_();
    Globals::g_DB = bench::MakeFilledCatalogue(tmp / "crcData.rsd");

    auto w = MakeWindow<Window1>();
    SetMainWindow(w);
    if (!ProcessEventsUntil(
            [&] { return Scheduler::LiveCount() == 0 && w->lstFiles->ListCount() == bench::kRows; },
            600'000))
        state.SkipWithError("the loader did not fill the list");

    for (auto _ : state) {
        state.PauseTiming();
        w->lstFiles->SetListIndex(-1);
        for (int i = 0; i < kSelected; ++i)
            w->lstFiles->SetSelected(i * (bench::kRows / kSelected), true);
        state.ResumeTiming();

        w->btnExempt_Action();

        state.PauseTiming();
        const auto rs = Globals::g_DB->SQLSelect("SELECT count(*) FROM fileinfo WHERE exempt = 1;");
        if (!rs || rs->IdxField(1)->IntegerValue() != kSelected || !dialogs->shown.empty())
            state.SkipWithError("the flags were not all stored");
        Globals::g_DB->SQLExecute("UPDATE fileinfo SET exempt = 0;");
        state.ResumeTiming();
    }
    state.counters["rows"] = kSelected;
    state.counters["rows_per_s"] = benchmark::Counter(
        double(kSelected) * double(state.iterations()), benchmark::Counter::kIsRate);

    w->Close();
    Globals::Finalize();
    SetDialogProvider(nullptr);
    unsetenv("XDG_CONFIG_HOME");
    Scheduler::SetDeterministic(true);
}
BENCHMARK(BM_ExemptSelected_TenThousandRows_OneCommitEach)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
