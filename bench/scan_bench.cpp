// The scan's costs per file: the data-fork digest over a 1 GiB file in the page cache, against
// `openssl dgst -sha256 -hmac` on the same file in the same run, with the memory the digest
// takes; and AddData on a catalogue of 100,000 rows, for a new path (lookup, insert, commit) and
// for a stored one (lookup only). Each figure is a counter: read `ratio`, `peak_growth_MiB` and
// `median_us`.

#include "scan/loadthread.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/catalogue_fixture.h"
#include "core/globals.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/folderitem.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"

#include <benchmark/benchmark.h>

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

using bench::kRows;
using bench::StoredPath;

class BenchThread : public Loadthread
{
public:
    using Loadthread::AddData;
    using Loadthread::SHA;

protected:
    void Event_Run() override { }
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

int64_t StatusKiB(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(std::string(field).size()));
    }
    return -1;
}

/// A 1 GiB file of varied bytes, written once per process and read once so it is in the page
/// cache.
class BigFile
{
public:
    static constexpr int64_t kSize = int64_t(1) << 30;
    static constexpr const char *kName = "digest-1GiB.bin";

    BigFile()
    {
        std::string block(1 << 20, '\0');
        uint32_t seed = 12345;
        {
            std::ofstream out(Path(), std::ios::binary);
            for (int64_t done = 0; done < kSize; done += int64_t(block.size())) {
                for (std::size_t i = 0; i < block.size(); i += 64) {
                    seed = seed * 1664525u + 1013904223u;
                    block[i] = char(seed >> 24);
                }
                out.write(block.data(), std::streamsize(block.size()));
            }
            if (!out)
                throw std::runtime_error("cannot write " + Path());
        }
        std::ifstream in(Path(), std::ios::binary);
        while (in.read(block.data(), std::streamsize(block.size())))
            ;
    }
    std::string Path() const { return m_folder / kName; }

private:
    platform::testing::TempFolder m_folder;
};

BigFile &TheBigFile()
{
    static BigFile file;
    return file;
}

/// Seconds that `openssl dgst -sha256 -hmac` takes over the file; negative when it fails.
double OpensslSeconds(const std::string &path)
{
    const std::string command
        = std::string("openssl dgst -sha256 -hmac ") + BigFile::kName + " '" + path + "'";
    const auto start = Clock::now();
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char line[512];
    const bool read = fgets(line, sizeof line, pipe) != nullptr;
    const int status = pclose(pipe);
    const auto end = Clock::now();
    return read && status == 0 ? Seconds(end - start) : -1;
}

void BM_SHA_1GiBInPageCache(benchmark::State &state)
{
    BigFile &file = TheBigFile();
    const auto f = FolderItem::FromNativePath(file.Path());
    BenchThread scan;
    double ours = 1e9, openssl = 1e9;
    int64_t growthKiB = 0;
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from here
        const int64_t before = StatusKiB("VmRSS:");
        const auto start = Clock::now();
        const std::string digest = scan.SHA(f);
        const auto end = Clock::now();
        growthKiB = std::max(growthKiB, StatusKiB("VmHWM:") - before);
        benchmark::DoNotOptimize(digest);
        if (digest.size() != 64) {
            state.SkipWithError("no digest");
            return;
        }
        ours = std::min(ours, Seconds(end - start));
        state.PauseTiming();
        const double theirs = OpensslSeconds(file.Path());
        state.ResumeTiming();
        if (theirs < 0) {
            state.SkipWithError("openssl dgst failed");
            return;
        }
        openssl = std::min(openssl, theirs);
    }
    const double gib = double(BigFile::kSize) / double(1 << 30);
    state.SetBytesProcessed(int64_t(state.iterations()) * BigFile::kSize);
    state.counters["ours_GiBps"] = gib / ours;
    state.counters["openssl_GiBps"] = gib / openssl;
    state.counters["ratio"] = openssl / ours;
    state.counters["peak_growth_MiB"] = double(growthKiB) / 1024.0;
}
BENCHMARK(BM_SHA_1GiBInPageCache)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

/// A catalogue with the program's schema and kRows scanned files in Globals::g_DB.
class Catalogue
{
public:
    Catalogue()
    {
        auto db = bench::MakeFilledCatalogue(m_folder / "crcData.rsd");
        Globals::g_DB = db;
        SetDialogProvider(m_dialogs);
    }
    bool Failed() const { return !m_dialogs->shown.empty(); }

private:
    platform::testing::TempFolder m_folder;
    std::shared_ptr<ScriptedDialogs> m_dialogs = std::make_shared<ScriptedDialogs>();
};

Catalogue &TheCatalogue()
{
    static Catalogue catalogue;
    return catalogue;
}

const std::string kDigest(64, 'A');

/// Times each call of `call(i)` on its own and reports the median and the 90th percentile.
template<class Call> void TimeEachCall(benchmark::State &state, Call call)
{
    std::vector<double> us;
    us.reserve(1 << 16);
    int i = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        call(i++);
        us.push_back(Seconds(Clock::now() - start) * 1e6);
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p90_us"] = us[us.size() * 9 / 10];
}

void BM_AddData_NewPath(benchmark::State &state)
{
    Catalogue &catalogue = TheCatalogue();
    BenchThread scan;
    const Date date;
    static int next = 0;
    TimeEachCall(state, [&](int) {
        const int n = next++;
        scan.AddData(date, kDigest, StoredPath(kRows + n), "new" + std::to_string(n), n);
    });
    if (catalogue.Failed())
        state.SkipWithError("an insert failed");
}
BENCHMARK(BM_AddData_NewPath)->Iterations(20000);

int64_t RowCount()
{
    const Ref<RecordSet> rs = Globals::g_DB->SQLSelect("SELECT count(*) FROM fileinfo;");
    return rs ? rs->IdxField(1)->IntegerValue() : -1;
}

void BM_AddData_KnownPath(benchmark::State &state)
{
    Catalogue &catalogue = TheCatalogue();
    const int64_t rows = RowCount();
    BenchThread scan;
    const Date date;
    TimeEachCall(state, [&](int i) {
        const int n = int((int64_t(i) * 7919) % kRows);
        scan.AddData(date, kDigest, StoredPath(n), "file" + std::to_string(n), n);
    });
    if (catalogue.Failed() || RowCount() != rows)
        state.SkipWithError("a stored path was inserted again");
}
BENCHMARK(BM_AddData_KnownPath)->Iterations(50000);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    platform::testing::InitForTests(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Globals::g_DB = nullptr;
    SetDialogProvider(nullptr);
    benchmark::Shutdown();
    return 0;
}
