// "Perform CRC Validation on Selected Files" on a file of 1 GiB in the page cache, pressed on the
// real main window: its throughput against `openssl dgst -sha256 -hmac` over the same file,
// alternated, best of three each; the event loop watched meanwhile (its turns per second and
// largest gap). Then the same press while a cooperative thread works beside it, as a scan does:
// how far that thread got and how much the press slowed. Plain main program; prints its figures.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/app_folder.h"
#include "bench/catalogue_fixture.h"
#include "bench/eventloop_probe.h"
#include "bench/scan_data.h"
#include "core/app.h"
#include "core/filetypes.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/folderitem.h"
#include "platform/listbox.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "scan/sha.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "ui/main/window1.h"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t kSize = int64_t(1) << 30;
constexpr const char *kSuccessful = "CRC Validation is Successful.";

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double OpensslSeconds(const std::string &path)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string command
        = "openssl dgst -sha256 -hmac '" + name + "' '" + path + "' > /dev/null";
    const auto begin = Clock::now();
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("openssl dgst failed");
    return Seconds(Clock::now() - begin);
}

struct Press
{
    double seconds = 0;
    double turnsPerSecond = 0;
    double largestGapMs = 0;
};

/// One press of the button on row 0; the scripted dialogs must then hold exactly the success box.
Press PressValidate(Window1 &w, ScriptedDialogs &dialogs)
{
    dialogs.shown.clear();
    bench::EventLoopProbe probe;
    probe.Start();
    const auto begin = Clock::now();
    w.btnValidate_Action();
    Press press;
    press.seconds = Seconds(Clock::now() - begin);
    probe.Stop();
    press.turnsPerSecond = probe.TurnsPerSecond();
    press.largestGapMs = probe.LargestGapMs();
    if (dialogs.Messages() != std::vector<std::string> { kSuccessful })
        throw std::runtime_error("the press did not confirm the file");
    return press;
}

void Run(const platform::testing::TempFolder &work, ScriptedDialogs &dialogs)
{
    const std::string root = work / "data";
    bench::MakeFolder(root);
    const std::vector<std::string> files = bench::MakeLargeFiles(root, 1, kSize);
    bench::ReadAll(files);
    const Ref<FolderItem> file = FolderItem::FromNativePath(files[0]);

    // The catalogue holds the file with its true digest, so every press confirms it.
    Globals::g_DB = bench::MakeEmptyCatalogue(work / "app/crcData.rsd");
    Globals::g_DB->SQLExecute("INSERT INTO fileinfo (referenceidx, resource, crc, exempt, date, "
                              "fullpath, name, isfolder) VALUES (0, '<data>', '"
        + DataForkSHA(file) + "', 0, '2024-05-01', '" + file->AbsolutePath() + "', '" + file->Name()
        + "', 0)");
    if (Globals::g_DB->Error())
        throw std::runtime_error(Globals::g_DB->ErrorMessage());

    auto w = MakeWindow<Window1>();
    SetMainWindow(w);
    if (!ProcessEventsUntil(
            [&] { return Scheduler::LiveCount() == 0 && w->lstFiles->ListCount() == 1; }, 60'000))
        throw std::runtime_error("the loader did not fill the list");
    w->MyRow = 0;

    const double gib = double(kSize) / double(1 << 30);
    double ours = 1e9, theirs = 1e9;
    for (int round = 0; round < 3; ++round) {
        const Press press = PressValidate(*w, dialogs);
        std::printf("validate 1 GiB: %.3f s  %.2f GiB/s  event loop %.0f turns/s, largest gap "
                    "%.1f ms\n",
            press.seconds, gib / press.seconds, press.turnsPerSecond, press.largestGapMs);
        ours = std::min(ours, press.seconds);
        const double openssl = OpensslSeconds(files[0]);
        std::printf("openssl dgst -sha256 -hmac: %.3f s  %.2f GiB/s\n", openssl, gib / openssl);
        theirs = std::min(theirs, openssl);
    }
    std::printf("validate 1 GiB: ours %.2f GiB/s, openssl %.2f GiB/s, ratio %.2f (best of three)\n",
        gib / ours, gib / theirs, theirs / ours);

    // A worker beside the press, as a scan is: it takes its slices while the digest yields.
    bool pressing = true;
    long passes = 0;
    auto worker = std::make_shared<platform::testing::LambdaThread>([&] {
        while (pressing) {
            ++passes;
            Yield();
        }
    });
    worker->Run();
    const Press shared = PressValidate(*w, dialogs);
    pressing = false;
    if (!ProcessEventsUntil([] { return Scheduler::LiveCount() == 0; }, 10'000))
        throw std::runtime_error("the worker did not end");
    std::printf("validate 1 GiB beside a busy thread: %.3f s (%.1f x alone), the thread made %ld "
                "passes; event loop %.0f turns/s, largest gap %.1f ms\n",
        shared.seconds, shared.seconds / ours, passes, shared.turnsPerSecond, shared.largestGapMs);

    w->Close();
    Globals::g_DB = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    platform::testing::InitForTests(argc, argv);
    // The program's own scheduling: a worker switches only once its time slice is spent.
    Scheduler::SetDeterministic(false);
    const platform::testing::TempFolder config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    auto app = std::make_shared<App>();
    app->DBExists = true;
    RegisterApplication(app);
    Globals::Initialize();
    FileTypes::Initialize_();
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);

    int status = 0;
    try {
        const platform::testing::TempFolder work;
        bench::UseApplicationFolder(work / "app");
        Run(work, *dialogs);
        SetApplicationFolder("");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "validate_bench: %s\n", e.what());
        status = 1;
    }
    Scheduler::DestroyAll();
    for (const Ref<Window> &w : OpenWindows())
        w->Close();
    Globals::Finalize();
    SetDialogProvider(nullptr);
    return status;
}
