// "Update Checksum" over a warnings window of 10,000 selected rows, against a catalogue of a
// large user's tree: one transaction, a statement and a yield per row, the list's cells rewritten.
// Reports the time of the run and of its statements alone (the same updates run bare in one
// transaction), so the share the window's own work takes shows.

#include "bench/catalogue_fixture.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "tests/support/widgetprobes.h"
#include "ui/warnings/winalert.h"

#include <QApplication>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

using namespace platform;

namespace {

constexpr int kSelected = 10000;

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void BM_UpdateChecksum_TenThousandSelectedRows(benchmark::State &state)
{
    Scheduler::SetDeterministic(false);
    const platform::testing::TempFolder tmp;
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);
    Globals::g_DB = bench::MakeFilledCatalogue(tmp / "crcData.rsd");
    auto w = MakeWindow<winAlert>();
    for (int i = 0; i < kSelected; ++i) {
        const int idx = 1 + i * (bench::kRows / kSelected);
        w->SendAlert("file" + std::to_string(idx) + ".txt", "<data>", std::string(64, 'A'),
            std::string(64, 'B') + std::to_string(i), bench::StoredPath(idx - 1), idx);
    }
    // On screen with every row, as the user sees it.
    if (!ProcessEventsUntil(
            [&] { return platform::testing::RowsInView(*w->AlertList) == kSelected; }, 60'000))
        state.SkipWithError("the rows never reached the view");
    // Selected as the user selects them all, with Ctrl+A: one range of rows. (Rows selected one
    // by one are as many ranges, and Qt tests a row against each of them.)
    for (QWidget *widget : QApplication::allWidgets())
        if (auto *view = qobject_cast<QTreeView *>(widget))
            view->selectAll();
    if (w->AlertList->SelCount() != kSelected)
        state.SkipWithError("the rows are not all selected");

    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Dispatch([&] { w->btnAccept_Action(); });
        state.counters["run_ms"] = MsSince(start);

        state.PauseTiming();
        const auto bare = std::chrono::steady_clock::now();
        Globals::g_DB->SQLExecute("BEGIN TRANSACTION;");
        for (int i = 0; i < kSelected; ++i)
            Globals::g_DB->SQLExecute("UPDATE fileinfo SET crc = '" + w->AlertList->Cell(i, 4)
                + "' WHERE idx = " + std::to_string(1 + i * (bench::kRows / kSelected)) + ";");
        Globals::g_DB->Commit();
        state.counters["statements_alone_ms"] = MsSince(bare);
        state.ResumeTiming();
    }
    if (!dialogs->shown.empty())
        state.SkipWithError("the run showed a dialog");
    w->Close();
    Globals::g_DB->Close();
    Globals::g_DB = nullptr;
    SetDialogProvider(nullptr);
    Scheduler::SetDeterministic(true);
}
BENCHMARK(BM_UpdateChecksum_TenThousandSelectedRows)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
