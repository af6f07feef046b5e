// The scan's costs per file: the data-fork digest over a 1 GiB file in the page cache, against
// `openssl dgst -sha256 -hmac` on the same file in the same run, with the memory the digest
// takes; and AddData on a catalogue of 100,000 rows, for a new path (lookup, insert, commit) and
// for a stored one (lookup only), called as the walk calls it (on a scan thread whose lookups
// read together), beside the same lookup and insert made with SQLite's own calls
// on a catalogue of its own (the floor the connection is measured against). Each figure is a
// counter: read `ratio`, `peak_growth_MiB`, `mean_us` (checkpoints included) and the tail; the
// last line gives AddData's mean over the bare loop's.

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
#include "platform/thread.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

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
        // The fill's frames are copied back first, as the bare loop's catalogue is closed and
        // opened again: the calls timed are the same calls on the same catalogue for both.
        db->SQLExecute("PRAGMA wal_checkpoint(TRUNCATE);");
        if (db->Error())
            throw std::runtime_error(db->ErrorMessage());
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

/// Times each call of `call(i)` on its own and reports the mean (which carries the rare slow
/// calls, such as a commit that checkpoints the WAL), the median, the tail's percentiles and the
/// share of the total time that the slowest 1% of calls took.
template<class Call> double TimeEachCall(benchmark::State &state, Call call)
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
    const auto at
        = [&](double q) { return us[std::min(us.size() - 1, std::size_t(q * us.size()))]; };
    double total = 0, slowest = 0;
    for (std::size_t k = 0; k < us.size(); ++k) {
        total += us[k];
        if (k >= us.size() * 99 / 100)
            slowest += us[k];
    }
    state.counters["mean_us"] = total / double(us.size());
    state.counters["median_us"] = at(0.5);
    state.counters["p90_us"] = at(0.9);
    state.counters["p99_us"] = at(0.99);
    state.counters["p999_us"] = at(0.999);
    state.counters["max_us"] = us.back();
    state.counters["top1pct_share"] = total > 0 ? slowest / total : 0;
    return total / double(us.size());
}

// Means of the last runs, for the closing line.
double g_addDataMeanUs = 0;
double g_bareMeanUs = 0;

/// Runs `body` as the walk calls AddData: on a scan's cooperative thread whose lookups read
/// together, with the event loop turning until it ends.
template<class Body> void AsTheWalk(Body body)
{
    auto thread = std::make_shared<platform::testing::LambdaThread>([&] {
        const Database::ReadsTogether reads(Globals::g_DB);
        body();
    });
    thread->Run();
    ProcessEventsUntil([&] { return thread->GetState() == Thread::State::NotRunning; }, 600'000);
}

void BM_AddData_NewPath(benchmark::State &state)
{
    Catalogue &catalogue = TheCatalogue();
    BenchThread scan;
    const Date date;
    static int next = 0;
    AsTheWalk([&] {
        g_addDataMeanUs = TimeEachCall(state, [&](int) {
            const int n = next++;
            scan.AddData(date, kDigest, StoredPath(kRows + n), "new" + std::to_string(n), n);
        });
    });
    if (catalogue.Failed())
        state.SkipWithError("an insert failed");
}
BENCHMARK(BM_AddData_NewPath)->Iterations(20000);

/// The same catalogue, opened with SQLite's own calls in the connection's modes (WAL,
/// synchronous=NORMAL, the same page cache, SQLite's own checkpoints), with the lookup and the
/// insert prepared once.
class BareCatalogue
{
public:
    BareCatalogue()
    {
        const std::string path = m_folder / "bare.rsd";
        bench::MakeFilledCatalogue(path)->Close();
        if (sqlite3_open_v2(
                path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
                != SQLITE_OK
            || sqlite3_exec(m_db,
                   "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-16384;",
                   nullptr, nullptr, nullptr)
                != SQLITE_OK
            || sqlite3_prepare_v3(m_db, "SELECT name FROM fileinfo WHERE fullpath = ?;", -1,
                   SQLITE_PREPARE_PERSISTENT, &m_select, nullptr)
                != SQLITE_OK
            || sqlite3_prepare_v3(m_db,
                   "INSERT INTO fileinfo (referenceidx, resource, crc, exempt, date, fullpath, "
                   "name, isfolder) VALUES (?, '<data>', ?, 0, ?, ?, ?, 0);",
                   -1, SQLITE_PREPARE_PERSISTENT, &m_insert, nullptr)
                != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(m_db));
    }
    ~BareCatalogue()
    {
        sqlite3_finalize(m_select);
        sqlite3_finalize(m_insert);
        sqlite3_close_v2(m_db);
    }
    /// False when the path was found or a statement failed.
    bool AddNew(const std::string &date, const std::string &path, const std::string &name, int n)
    {
        sqlite3_bind_text(m_select, 1, path.data(), int(path.size()), SQLITE_STATIC);
        const int found = sqlite3_step(m_select);
        sqlite3_reset(m_select);
        if (found != SQLITE_DONE)
            return false;
        sqlite3_bind_int(m_insert, 1, n);
        sqlite3_bind_text(m_insert, 2, kDigest.data(), int(kDigest.size()), SQLITE_STATIC);
        sqlite3_bind_text(m_insert, 3, date.data(), int(date.size()), SQLITE_STATIC);
        sqlite3_bind_text(m_insert, 4, path.data(), int(path.size()), SQLITE_STATIC);
        sqlite3_bind_text(m_insert, 5, name.data(), int(name.size()), SQLITE_STATIC);
        const int inserted = sqlite3_step(m_insert);
        sqlite3_reset(m_insert);
        return inserted == SQLITE_DONE;
    }

private:
    platform::testing::TempFolder m_folder;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_select = nullptr;
    sqlite3_stmt *m_insert = nullptr;
};

void BM_BareSqlite_NewPath(benchmark::State &state)
{
    static BareCatalogue catalogue;
    const std::string date = Date().SQLDate();
    static int next = 0;
    bool ok = true;
    g_bareMeanUs = TimeEachCall(state, [&](int) {
        const int n = next++;
        ok = catalogue.AddNew(date, StoredPath(kRows + n), "new" + std::to_string(n), n) && ok;
    });
    if (!ok)
        state.SkipWithError("a bare lookup or insert failed");
}
BENCHMARK(BM_BareSqlite_NewPath)->Iterations(20000);

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
    AsTheWalk([&] {
        TimeEachCall(state, [&](int i) {
            const int n = int((int64_t(i) * 7919) % kRows);
            scan.AddData(date, kDigest, StoredPath(n), "file" + std::to_string(n), n);
        });
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
    if (g_addDataMeanUs > 0 && g_bareMeanUs > 0)
        std::printf("AddData for a new path: mean %.1f us; bare SQLite loop: mean %.1f us; "
                    "ratio %.2f\n",
            g_addDataMeanUs, g_bareMeanUs, g_addDataMeanUs / g_bareMeanUs);
    Globals::g_DB = nullptr;
    SetDialogProvider(nullptr);
    benchmark::Shutdown();
    return 0;
}
