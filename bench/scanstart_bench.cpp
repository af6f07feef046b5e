// Scans started as the user starts them, with the real main window on the offscreen platform.
// Plain main program; each phase prints its figures:
//   button  100,000 files of 4 KiB in 1,000 folders: from pressing "Load Directory to Scan" (the
//           folder chosen in the scripted dialog) to "Files loaded Successfully!", split into the
//           walk, the comparison and the loader by what the status lines say; first into an
//           empty catalogue, then a rescan of the unchanged tree against the 100,000 rows
//   drop    ProcessFolders for a dropped folder 20 levels below its volume (20 ancestor rows
//           to store), into catalogues of 0, 1,000, 10,000 and 100,000 rows; median of 9
// Arguments name the phases to run (default: both). The tree is made in a temporary folder once
// per run, read once so that it is in the page cache, and removed at the end. The split is seen
// at the turns of the event loop, so each part is known to about one time slice (10 ms).

#include "ui/main/window1.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/app_folder.h"
#include "bench/catalogue_fixture.h"
#include "bench/scan_data.h"
#include "core/app.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/folderitem.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "ui/warnings/winalert.h"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kLoaderSleepSeconds = 0.75;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class BenchWindow : public Window1
{
public:
    using Window1::ProcessFolders;
};

/// One press of the scan button, timed to the end of every thread it started. The phases end
/// where the status line first shows what follows them: "Complete" after the walk, "Loading
/// Record" once the loader reads the catalogue (after its sleep), "Files loaded Successfully!".
void PressTheButton(
    BenchWindow &w, ScriptedDialogs &dialogs, const std::string &root, const char *what)
{
    dialogs.folderAnswers.push_back(FolderItem::FromNativePath(root));
    Clock::time_point walked {}, loading {}, loaded {};
    bool compared = false;
    const auto begin = Clock::now();
    w.pbMBS_Action();
    const bool ended = ProcessEventsUntil(
        [&] {
            const std::string status = w.StaticText1->Text();
            const auto now = Clock::now();
            if (walked == Clock::time_point {}
                && (status == "Complete" || status == "Comparing Data...."))
                walked = now;
            compared = compared || status == "Comparing Data....";
            // In this order: the status line still shows the last run's end when the press
            // comes.
            if (walked != Clock::time_point {} && loading == Clock::time_point {}
                && status.rfind("Loading Record", 0) == 0)
                loading = now;
            if (loading != Clock::time_point {} && loaded == Clock::time_point {}
                && status == "Files loaded Successfully!")
                loaded = now;
            return Scheduler::LiveCount() == 0;
        },
        3'600'000);
    if (!ended || loaded == Clock::time_point {})
        throw std::runtime_error("the scan did not end as it should");
    const auto end = Clock::now();
    // The comparison runs between the walk and the loader's start; the loader first sleeps.
    const double loaderStart = Seconds(loading - begin) - kLoaderSleepSeconds;
    char comparison[32] = "none";
    if (compared)
        std::snprintf(comparison, sizeof comparison, "%.2f s",
            std::max(0.0, loaderStart - Seconds(walked - begin)));
    std::printf("%s: to \"Files loaded Successfully!\" %.2f s (every thread ended: %.2f s): "
                "walk %.2f s, comparison %s, loader %.2f s plus its 0.75 s sleep\n",
        what, Seconds(loaded - begin), Seconds(end - begin), Seconds(walked - begin), comparison,
        Seconds(loaded - loading));
    std::fflush(stdout);
}

void Button(const platform::testing::TempFolder &work, BenchWindow &w, ScriptedDialogs &dialogs)
{
    const std::string root = work / "tree";
    bench::MakeFolder(root);
    const std::vector<std::string> files = bench::MakeSmallTree(root, 1000, 100, 4096);
    bench::ReadAll(files);
    std::printf("made %zu files of 4 KiB in 1,000 folders\n", files.size());

    Globals::g_DB = bench::MakeEmptyCatalogue(work / "button.rsd");
    App_().DBExists = false;
    Globals::OldFiles.clear();
    Globals::NewFiles.clear();
    PressTheButton(w, dialogs, root, "first scan, empty catalogue");
    // As in a later run of the program, which found the catalogue at start-up: the one reload is
    // the one after the comparison.
    App_().DBExists = true;
    PressTheButton(w, dialogs, root, "rescan, unchanged tree");
    Globals::g_DB->Close();
    Globals::g_DB = nullptr;
}

/// ProcessFolders for `runs` folders 20 levels deep (each under a top folder of its own, so
/// that every run stores its 20 rows); the median time.
double MedianDrop(BenchWindow &w, const std::string &volume, int runs)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        std::string path = volume + "/top" + std::to_string(run);
        for (int level = 2; level <= 20; ++level)
            path += "/level" + std::to_string(level);
        std::filesystem::create_directories(path);
        const auto item = FolderItem::FromNativePath(path);
        const auto begin = Clock::now();
        w.ProcessFolders(item);
        times.push_back(Seconds(Clock::now() - begin));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Drop(const platform::testing::TempFolder &work, BenchWindow &w)
{
    const std::string volume = work / "Vol";
    std::filesystem::create_directories(volume);
    Volumes::SetMountTable({ { "/", "overlay" }, { volume, "ext4" } });
    constexpr int kRuns = 9;
    for (const int rows : { 0, 1000, 10000, bench::kRows }) {
        const std::string file = work / ("drop-" + std::to_string(rows) + ".rsd");
        Globals::g_DB
            = rows == 0 ? bench::MakeEmptyCatalogue(file) : bench::MakeFilledCatalogue(file, rows);
        const double median = MedianDrop(w, volume, kRuns);
        Globals::g_DB->Close();
        std::printf("drop of a folder 20 levels deep into a catalogue of %d rows: ProcessFolders "
                    "%.2f ms (median of %d)\n",
            rows, median * 1e3, kRuns);
        std::fflush(stdout);
    }
    Globals::g_DB = nullptr;
    Volumes::SetMountTable({});
}

} // namespace

int main(int argc, char **argv)
{
    platform::testing::InitForTests(argc, argv);
    // The program's own scheduling: a worker switches only once its time slice is spent.
    Scheduler::SetDeterministic(false);
    RegisterApplication(std::make_shared<App>());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);

    std::set<std::string> phases(argv + 1, argv + argc);
    const bool all = phases.empty();
    int status = 0;
    try {
        const platform::testing::TempFolder work;
        bench::UseApplicationFolder(work / "app");
        const auto w = MakeWindow<BenchWindow>();
        SetMainWindow(w);
        w->Show();
        if (!Globals::g_winAlert)
            Globals::g_winAlert = MakeWindow<winAlert>();
        if (all || phases.count("button"))
            Button(work, *w, *dialogs);
        if (all || phases.count("drop"))
            Drop(work, *w);
        CloseAllWindows();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "scanstart_bench: %s\n", e.what());
        status = 1;
    }
    Globals::Finalize();
    return status;
}
