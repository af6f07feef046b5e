// Filling the catalogue list: a million rows of four cells, a cell tag, a row tag, a check box
// and a row picture, appended as the catalogue loader does while the event loop keeps turning.
// Reports the time and the memory the rows take (growth of the resident set per row).

#include "bench/resident.h"
#include "platform/application.h"
#include "platform/listbox.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

using namespace platform;

namespace {

constexpr int kRows = 1000000;
constexpr int kSlice = 10000;

class BenchPicture : public Picture
{
public:
    int Width() const override { return 16; }
    int Height() const override { return 16; }
};

class ListWindow : public Window
{
public:
    Ref<Listbox> lstFiles;

protected:
    void Layout() override { SetSize(846, 651); }
    void CreateControls() override
    {
        lstFiles = New<Listbox>();
        AddControl("lstFiles", lstFiles);
        lstFiles->SetBounds(20, 14, 806, 364);
        lstFiles->SetLocks(true, true, true, true);
        lstFiles->SetColumnCount(4);
        lstFiles->SetHasHeading(true);
        lstFiles->SetSelectionType(1);
        lstFiles->SetColumnType(3, Listbox::TypeCheckbox);
        lstFiles->SetColumnWidths("*, 65, 185, 60");
        lstFiles->CellBackgroundPaint = [](Graphics &g, int row, int) {
            g.ForeColor = row % 2 == 0 ? RGB(255, 255, 255) : RGB(237, 243, 254);
            g.FillRect(0, 0, g.Width(), g.Height());
            return false;
        };
    }
};

std::string Checksum(uint64_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s(64, '0');
    uint64_t x = n * 0x9E3779B97F4A7C15ULL + 1;
    for (int i = 0; i < 64; ++i) {
        if (i % 16 == 0)
            x ^= x >> 29, x *= 0xBF58476D1CE4E5B9ULL, x ^= x >> 32;
        s[std::size_t(i)] = digits[(x >> ((i % 16) * 4)) & 0xF];
    }
    return s;
}

void AddCatalogueRow(Listbox &list, int i, const Ref<Picture> &picture)
{
    const std::string name = "file" + std::to_string(100000 + i % 900000) + ".txt";
    list.AddRow("");
    const int row = list.LastIndex();
    list.SetCell(row, 0, name);
    list.SetCell(row, 1, "<data>");
    list.SetCell(row, 2, Checksum(uint64_t(i)));
    list.SetCellTag(row, 0, int32_t(i + 1));
    list.SetCellType(row, 3, Listbox::TypeCheckbox);
    list.SetCellCheck(row, 3, i % 7 == 0);
    list.SetRowTag(row, "Disk:Users:bench:Documents:Archive:" + name);
    list.SetRowPicture(row, picture);
}

void TurnEventLoop() { QApplication::processEvents(QEventLoop::AllEvents); }

void WaitForView(const Listbox &list)
{
    auto *view = static_cast<QTreeView *>(list.NativeHandle());
    while (view->model()->rowCount() < list.ListCount())
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    TurnEventLoop(); // the view lays out and paints its rows
}

/// Times `fill` on a fresh main-size window until the view shows every row, and reports the
/// memory the rows took.
void MeasureFill(
    benchmark::State &state, const std::function<void(Listbox &, const Ref<Picture> &)> &fill)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto window = MakeWindow<ListWindow>();
        TurnEventLoop();
        auto picture = Ref<Picture>(std::make_shared<BenchPicture>());
        const long before = bench::ResidentBytes();
        state.ResumeTiming();

        fill(*window->lstFiles, picture);
        WaitForView(*window->lstFiles);

        state.PauseTiming();
        state.counters["rows"] = kRows;
        state.counters["bytes_per_row"] = double(bench::ResidentBytes() - before) / kRows;
        window->Close();
        TurnEventLoop();
        state.ResumeTiming();
    }
}

// Slices of rows with a turn of the event loop between them.
void BM_ListboxAppend_SlicesBetweenEventLoopTurns(benchmark::State &state)
{
    MeasureFill(state, [](Listbox &list, const Ref<Picture> &picture) {
        for (int i = 0; i < kRows; ++i) {
            AddCatalogueRow(list, i, picture);
            if ((i + 1) % kSlice == 0)
                TurnEventLoop();
        }
    });
}
BENCHMARK(BM_ListboxAppend_SlicesBetweenEventLoopTurns)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// As the catalogue loader fills the list: a cooperative thread yields after every row, and the
// scheduler gives the event loop its turn when the thread's time slice is spent.
void BM_ListboxAppend_ThreadYieldingPerRow(benchmark::State &state)
{
    Scheduler::SetDeterministic(false);
    MeasureFill(state, [](Listbox &list, const Ref<Picture> &picture) {
        bool done = false;
        auto thread = std::make_shared<platform::testing::LambdaThread>([&] {
            for (int i = 0; i < kRows; ++i) {
                AddCatalogueRow(list, i, picture);
                Yield();
            }
            done = true;
        });
        thread->Run();
        while (!done)
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    });
    Scheduler::SetDeterministic(true);
}
BENCHMARK(BM_ListboxAppend_ThreadYieldingPerRow)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
