// The catalogue's per-file statements on a catalogue of 100,000 rows: the lookup by path that
// every digested file costs, and the lookup, insert and commit of a file seen for the first time.
// Run with --benchmark_repetitions=N; the median aggregate is the figure to read.

#include "bench/catalogue_fixture.h"
#include "platform/database.h"

#include <stdexcept>
#include <string>

#include "platform/folderitem.h"
#include "tests/support/testsupport.h"

#include <benchmark/benchmark.h>

using namespace platform;

namespace {

using bench::kRows;
using bench::StoredPath;

/// A catalogue file with the program's schema and kRows scanned files, made once per process.
class Catalogue
{
public:
    Catalogue() { m_db = bench::MakeFilledCatalogue(m_folder / "crcData.rsd"); }
    Database &db() { return *m_db; }

private:
    platform::testing::TempFolder m_folder;
    Ref<Database> m_db;
};

Catalogue &Shared()
{
    static Catalogue catalogue;
    return catalogue;
}

/// A file seen for the first time, as the scan adds it: the lookup finds nothing, then the row is
/// inserted in autocommit mode and committed (the commit has nothing left to do).
void BM_NewCatalogueRow(benchmark::State &state)
{
    Database &db = Shared().db();
    static int next = 0;
    for (auto _ : state) {
        const std::string path = "Disk:Users:me:New:file" + std::to_string(next) + ".txt";
        auto rs = db.SQLSelect("SELECT * FROM fileinfo WHERE fullpath = '" + path + "'");
        if (!rs || rs->RecordCount() != 0) {
            state.SkipWithError("the new path was found");
            break;
        }
        DatabaseRecord r;
        r.IntegerColumn("referenceidx", next);
        r.Column("resource", "<data>");
        r.Column("crc", "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08");
        r.BooleanColumn("exempt", false);
        r.Column("date", "2024-05-01");
        r.Column("fullpath", path);
        r.Column("name", "file" + std::to_string(next) + ".txt");
        r.BooleanColumn("isfolder", false);
        db.InsertRecord("fileinfo", r);
        if (db.Error()) {
            state.SkipWithError(db.ErrorMessage().c_str());
            break;
        }
        db.Commit();
        ++next;
    }
}
BENCHMARK(BM_NewCatalogueRow)->Unit(benchmark::kMicrosecond);

/// The lookup of a file the catalogue holds, reading its checksum.
void BM_SelectByPathFound(benchmark::State &state)
{
    Database &db = Shared().db();
    int i = 0;
    for (auto _ : state) {
        auto rs = db.SQLSelect("SELECT * FROM fileinfo WHERE fullpath = '" + StoredPath(i) + "'");
        if (!rs || rs->EOF_()) {
            state.SkipWithError("the stored path was not found");
            break;
        }
        benchmark::DoNotOptimize(rs->Field("crc")->StringValue());
        i = (i + 7919) % kRows;
    }
}
BENCHMARK(BM_SelectByPathFound)->Unit(benchmark::kMicrosecond);

/// The same lookup as the comparison makes it: the record count is asked before the fields.
void BM_SelectByPathFoundWithCount(benchmark::State &state)
{
    Database &db = Shared().db();
    int i = 0;
    for (auto _ : state) {
        auto rs = db.SQLSelect("SELECT * FROM fileinfo WHERE fullpath = '" + StoredPath(i) + "'");
        if (!rs || rs->RecordCount() != 1) {
            state.SkipWithError("the stored path was not found");
            break;
        }
        benchmark::DoNotOptimize(rs->Field("crc")->StringValue());
        i = (i + 7919) % kRows;
    }
}
BENCHMARK(BM_SelectByPathFoundWithCount)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
