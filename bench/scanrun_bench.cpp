// Whole scans on the offscreen platform, timed by their parts, with the event loop watched
// throughout. Plain main program; each phase prints its figures:
//   small   100,000 files of 4 KiB in 1,000 folders: a first scan into an empty catalogue (the
//           walk, then the loader), a rescan of the unchanged tree (walk and comparison, then the
//           loader), and a rescan after a byte changed in each of 1,000 files (1,000 warnings
//           windows: time, memory, and the event loop with them open); the size of one record
//           of the fresh snapshot
//   large   8 files of 512 MiB: the walk's throughput against `openssl dgst -sha256 -hmac` over
//           the same files, alternated, best of two each
//   loader  the catalogue loader over 1,000,000 rows: time of both passes and the memory of the
//           list and the stored snapshot per row
// Arguments name the phases to run (default: all). The data is made in a temporary folder once
// per run, read once so that it is in the page cache, and removed at the end. The loader's 750 ms
// sleep is taken out of its times. The walk, the comparison and the reload are run one after the
// other as the end of a scan runs them, so that each is timed on its own.

#include "scan/loadthread.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/app_folder.h"
#include "bench/catalogue_fixture.h"
#include "bench/eventloop_probe.h"
#include "bench/resident.h"
#include "bench/scan_data.h"
#include "core/app.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/controls.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/filelist.h"
#include "platform/folderitem.h"
#include "platform/listbox.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "scan/comparison_p.h"
#include "scan/records.h"
#include "scan/startthread.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "ui/warnings/winalert.h"

#include <malloc.h>
#include <unistd.h>

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kLoaderSleepSeconds = 0.75;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int64_t HeapBytes()
{
    const struct mallinfo2 m = mallinfo2();
    return int64_t(m.uordblks + m.hblkhd);
}

class BenchApp : public App
{
public:
    void Event_Open() override { }
};

/// The controls of the main window that the scan reaches by name, in a plain window.
class ScanWindow : public Window
{
protected:
    void CreateControls() override
    {
        auto list = New<Listbox>();
        list->SetColumnCount(4);
        list->SetHasHeading(true);
        list->SetBounds(10, 10, 780, 420);
        AddControl("lstFiles", list);
        for (const char *name : { "StaticText1", "StaticText2" }) {
            auto text = New<StaticText>();
            text->SetBounds(10, name[10] == '1' ? 440 : 462, 600, 20);
            AddControl(name, text);
        }
        auto pb = New<ProgressBar>();
        pb->SetBounds(620, 440, 170, 20);
        AddControl("pb", pb);
        auto pbMBS = New<PushButton>();
        pbMBS->SetBounds(620, 462, 170, 24);
        AddControl("pbMBS", pbMBS);
        SetSize(800, 500);
    }
};

/// A scan whose walk ends apart from what follows it, so that each part is timed on its own.
class TimedWalk : public Loadthread
{
public:
    Clock::time_point walkEnd;

protected:
    void Event_Run() override
    {
        const RunningScan running;
        // As the scan's own run walks: its lookups read together.
        const Database::ReadsTogether reads(Globals::g_DB);
        LoadFolderMBS(folder);
        walkEnd = Clock::now();
    }
};

/// Turns the event loop until every cooperative thread has ended.
void RunThreads()
{
    if (!ProcessEventsUntil([] { return Scheduler::LiveCount() == 0; }, 3'600'000))
        throw std::runtime_error("the threads did not end");
}

struct Timed
{
    double seconds;
    double turnsPerSecond;
    double largestGapMs;
    double timerRunsPerSecond = 0;
    double largestTimerGapMs = 0;
};

void Print(const char *what, const Timed &t, const std::string &extra = "")
{
    std::printf("%-46s %8.3f s  loop %6.0f turns/s, largest gap %6.1f ms; zero timer %6.0f/s, "
                "largest gap %7.1f ms%s\n",
        what, t.seconds, t.turnsPerSecond, t.largestGapMs, t.timerRunsPerSecond,
        t.largestTimerGapMs, extra.c_str());
    std::fflush(stdout);
}

/// Runs `start` (which makes threads ready), then the threads to their end, watched.
template<class Start> Timed Watch(Start start)
{
    bench::EventLoopProbe probe;
    probe.Start();
    const auto begin = Clock::now();
    start();
    RunThreads();
    const auto end = Clock::now();
    probe.Stop();
    return { Seconds(end - begin), probe.TurnsPerSecond(), probe.LargestGapMs(),
        probe.TimerRunsPerSecond(), probe.LargestTimerGapMs() };
}

/// The walk of `root`, timed from its start to its last file.
Timed Walk(const std::string &root)
{
    auto scan = std::make_shared<TimedWalk>();
    scan->folder = FolderItem::FromNativePath(root);
    auto begin = Clock::now();
    Timed t = Watch([&] {
        begin = Clock::now();
        scan->Run();
    });
    t.seconds = Seconds(scan->walkEnd - begin);
    return t;
}

/// The comparison, as the end of a scan runs it: when a stored snapshot is loaded, or the walk
/// made records.
Timed Compare()
{
    return Watch([] {
        if (Globals::OldFiles.empty() && Globals::NewFiles.empty())
            return;
        auto scan = std::make_shared<platform::testing::LambdaThread>([] {
            const RunningScan running;
            TimedWalk().CompareData();
        });
        scan->Run();
    });
}

/// The reload that ends a scan, without its 750 ms sleep.
Timed Reload()
{
    Timed t = Watch([] { New<StartThread>(/*emptyOldFiles=*/true)->Run(); });
    t.seconds -= kLoaderSleepSeconds;
    return t;
}

int VisibleWarningWindows()
{
    int n = 0;
    for (const Ref<Window> &w : OpenWindows()) {
        if (dynamic_cast<winAlert *>(w.Raw()) && w->Visible())
            ++n;
    }
    return n;
}

std::string PerSecond(double count, double seconds)
{
    char text[64];
    std::snprintf(text, sizeof text, "  %9.0f files/s", seconds > 0 ? count / seconds : 0);
    return text;
}

/// A record of the fresh snapshot as the walk makes it, for a file of `folder`: its heap bytes.
double NewFilesRecordBytes(const std::string &folder)
{
    const FileListMBS list(FolderItem::FromNativePath(folder));
    std::vector<Ref<TheNewFiles>> records;
    records.reserve(std::size_t(list.Count()));
    const int64_t before = HeapBytes();
    for (int i = 0; i < list.Count(); ++i) {
        auto record = New<TheNewFiles>();
        const Ref<FolderItem> entry = list.TrueItem(i);
        record->Path = entry->AbsolutePath();
        record->CRC = std::string(64, 'A');
        record->MyID = i;
        record->name = list.Name(i);
        record->f = entry;
        records.push_back(std::move(record));
    }
    return double(HeapBytes() - before) / double(records.size());
}

void SmallFiles(const platform::testing::TempFolder &work)
{
    constexpr int kFolders = 1000, kPerFolder = 100;
    const std::string root = work / "tree";
    bench::MakeFolder(root);
    auto start = Clock::now();
    const std::vector<std::string> files = bench::MakeSmallTree(root, kFolders, kPerFolder, 4096);
    bench::ReadAll(files);
    std::printf("made %zu files of 4 KiB in %d folders in %.1f s\n", files.size(), kFolders,
        Seconds(Clock::now() - start));
    const double n = double(files.size());

    Globals::g_DB = bench::MakeEmptyCatalogue(work / "crcData.rsd");
    Globals::OldFiles.clear();
    Globals::NewFiles.clear();

    std::fprintf(stderr, "first scan: walking\n");
    const Timed walk = Walk(root);
    Print("first scan: walk", walk, PerSecond(n, walk.seconds));
    const Timed compare = Compare();
    const Timed reload = Reload();
    Print("first scan: comparison (its records against their new rows)", compare);
    Print("first scan: reload (sleep left out)", reload);
    Print("first scan: comparison and reload", { compare.seconds + reload.seconds, 0, 0 });

    std::fprintf(stderr, "rescan: walking\n");
    const Timed rewalk = Walk(root);
    const std::size_t records = Globals::NewFiles.size();
    std::fprintf(stderr, "rescan: comparing\n");
    const Timed recompare = Compare();
    Print("rescan: walk", rewalk, PerSecond(n, rewalk.seconds));
    Print("rescan: comparison", recompare, "  (" + std::to_string(records) + " records)");
    Print("rescan: walk and comparison", { rewalk.seconds + recompare.seconds, 0, 0 },
        PerSecond(n, rewalk.seconds + recompare.seconds));
    Print("rescan: reload (sleep left out)", Reload());

    // A byte changed in every hundredth file: one in each folder.
    std::vector<std::string> changed;
    for (std::size_t i = 0; i < files.size(); i += 100)
        changed.push_back(files[i]);
    for (const std::string &path : changed)
        bench::ChangeOneByte(path);
    const int windowsBefore = VisibleWarningWindows();
    const int64_t rssBefore = int64_t(bench::ResidentBytes()), heapBefore = HeapBytes();
    const Timed changedWalk = Walk(root);
    const Timed warnings = Compare();
    const int opened = VisibleWarningWindows() - windowsBefore;
    const int64_t rssAfter = int64_t(bench::ResidentBytes()), heapAfter = HeapBytes();
    Print("changed rescan: walk", changedWalk, PerSecond(n, changedWalk.seconds));
    char extra[160];
    std::snprintf(extra, sizeof extra,
        "  %d windows for %zu changed files; RSS +%.1f MiB, heap +%.1f MiB", opened, changed.size(),
        double(rssAfter - rssBefore) / 1048576.0, double(heapAfter - heapBefore) / 1048576.0);
    Print("changed rescan: comparison with warnings", warnings, extra);
    // Still usable: the event loop with every window open, then the windows closed.
    bench::EventLoopProbe idle;
    idle.Start();
    ProcessEventsUntil([] { return false; }, 1000);
    idle.Stop();
    Print("changed rescan: event loop with windows open",
        { 1.0, idle.TurnsPerSecond(), idle.LargestGapMs(), idle.TimerRunsPerSecond(),
            idle.LargestTimerGapMs() });
    start = Clock::now();
    for (const Ref<Window> &w : OpenWindows()) {
        if (dynamic_cast<winAlert *>(w.Raw()) && w->Visible())
            w->Close();
    }
    ProcessEventsUntil([] { return VisibleWarningWindows() == 0; }, 60'000);
    std::printf(
        "changed rescan: %d windows closed in %.3f s\n", opened, Seconds(Clock::now() - start));
    Print("changed rescan: reload (sleep left out)", Reload());

    std::printf("a fresh-snapshot record: %.0f bytes of heap (path of %zu bytes)\n",
        NewFilesRecordBytes(root + "/d0000"),
        FolderItem::FromNativePath(files[0])->AbsolutePath().size());
    Globals::g_DB->Close();
    Globals::g_DB = nullptr;
}

/// Seconds that `openssl dgst -sha256 -hmac` takes over the files, one call per file keyed with
/// its name as the scan keys it; negative when a call fails.
double OpensslSeconds(const std::vector<std::string> &paths)
{
    const auto begin = Clock::now();
    for (const std::string &path : paths) {
        const std::string name = path.substr(path.rfind('/') + 1);
        const std::string command
            = "openssl dgst -sha256 -hmac '" + name + "' '" + path + "' > /dev/null";
        if (std::system(command.c_str()) != 0)
            return -1;
    }
    return Seconds(Clock::now() - begin);
}

void LargeFiles(const platform::testing::TempFolder &work)
{
    constexpr int kCount = 8;
    constexpr int64_t kSize = int64_t(512) << 20;
    const std::string root = work / "large";
    bench::MakeFolder(root);
    const auto start = Clock::now();
    const std::vector<std::string> files = bench::MakeLargeFiles(root, kCount, kSize);
    bench::ReadAll(files);
    std::printf("made %d files of 512 MiB in %.1f s\n", kCount, Seconds(Clock::now() - start));
    const double gib = double(kCount) * double(kSize) / double(1 << 30);

    Globals::g_DB = bench::MakeEmptyCatalogue(work / "large.rsd");
    double ours = 1e9, theirs = 1e9;
    for (int round = 0; round < 2; ++round) {
        const Timed walk = Walk(root);
        Globals::NewFiles.clear();
        char extra[64];
        std::snprintf(extra, sizeof extra, "  %.2f GiB/s", gib / walk.seconds);
        Print("large files: walk", walk, extra);
        ours = std::min(ours, walk.seconds);
        const double openssl = OpensslSeconds(files);
        if (openssl < 0)
            throw std::runtime_error("openssl dgst failed");
        std::printf("large files: openssl dgst -sha256 -hmac        %8.3f s  %.2f GiB/s\n", openssl,
            gib / openssl);
        theirs = std::min(theirs, openssl);
    }
    std::printf("large files: ours %.2f GiB/s, openssl %.2f GiB/s, ratio %.2f (best of two)\n",
        gib / ours, gib / theirs, theirs / ours);
    Globals::g_DB->Close();
    Globals::g_DB = nullptr;
}

void Loader(const platform::testing::TempFolder &work)
{
    constexpr int kRows = 1'000'000;
    auto start = Clock::now();
    Globals::g_DB = bench::MakeFilledCatalogue(work / "million.rsd", kRows);
    std::printf("made a catalogue of %d rows in %.1f s\n", kRows, Seconds(Clock::now() - start));
    Globals::OldFiles.clear();
    MainWindow()->Control<Listbox>("lstFiles")->DeleteAllRows();
    malloc_trim(0);
    const int64_t rssBefore = int64_t(bench::ResidentBytes()), heapBefore = HeapBytes();
    const Timed reload = Reload();
    const int64_t rssAfter = int64_t(bench::ResidentBytes()), heapAfter = HeapBytes();
    char extra[160];
    std::snprintf(extra, sizeof extra, "  %zu records; per row: RSS %.0f bytes, heap %.0f bytes",
        Globals::OldFiles.size(), double(rssAfter - rssBefore) / kRows,
        double(heapAfter - heapBefore) / kRows);
    Print("loader over 1,000,000 rows (both passes)", reload, extra);
    Globals::OldFiles.clear();
    MainWindow()->Control<Listbox>("lstFiles")->DeleteAllRows();
    Globals::g_DB->Close();
    Globals::g_DB = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    platform::testing::InitForTests(argc, argv);
    // The program's own scheduling: a worker switches only once its time slice is spent.
    Scheduler::SetDeterministic(false);
    RegisterApplication(std::make_shared<BenchApp>());
    App_().DBExists = true;
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);
    const Ref<Window> window = MakeWindow<ScanWindow>();
    SetMainWindow(window);
    window->Show();
    Globals::g_winAlert = MakeWindow<winAlert>();

    std::set<std::string> phases(argv + 1, argv + argc);
    const bool all = phases.empty();
    int status = 0;
    try {
        const platform::testing::TempFolder work;
        bench::UseApplicationFolder(work / "app");
        if (all || phases.count("small"))
            SmallFiles(work);
        if (all || phases.count("large"))
            LargeFiles(work);
        if (all || phases.count("loader"))
            Loader(work);
        SetApplicationFolder("");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "scanrun_bench: %s\n", e.what());
        status = 1;
    }
    if (!dialogs->shown.empty()) {
        std::fprintf(stderr, "scanrun_bench: %zu dialogs were shown\n", dialogs->shown.size());
        status = 1;
    }
    Globals::g_winAlert = nullptr;
    Globals::OldFiles.clear();
    Globals::NewFiles.clear();
    Scheduler::DestroyAll();
    // Every window goes while Qt is still up.
    for (const Ref<Window> &w : OpenWindows())
        w->Close();
    ProcessEventsUntil([] { return OpenWindows().empty(); }, 10'000);
    SetDialogProvider(nullptr);
    return status;
}
