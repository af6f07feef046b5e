#include "scan/loadthread.h"

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/globals.h"
#include "platform/controls.h"
#include "platform/database.h"
#include "platform/window.h"
#include "scan/comparison_p.h"
#include "scan/countformat.h"
#include "scan/maincontrols.h"
#include "scan/records.h"
#include "ui/warnings/winalert.h"

using namespace platform;

namespace {

// --- one comparison at a time --------------------------------------------------------------------

bool g_comparing = false;
std::vector<Thread *> g_waiting; // scans suspended until the comparison ends

/// Holds the one comparison turn while it lives; waits, suspended, while another scan holds it.
class ComparisonTurn
{
public:
    ComparisonTurn()
    {
        while (g_comparing)
            Wait();
        g_comparing = true;
    }
    ~ComparisonTurn()
    {
        g_comparing = false;
        // Each waiter looks again; the first to run takes the turn, the others wait on.
        for (Thread *waiter : g_waiting)
            Scheduler::Wake(waiter);
    }
    ComparisonTurn(const ComparisonTurn &) = delete;
    ComparisonTurn &operator=(const ComparisonTurn &) = delete;

private:
    static void Wait()
    {
        struct Waiting
        {
            Thread *self = CurrentThread();
            Waiting() { g_waiting.push_back(self); }
            ~Waiting() { std::erase(g_waiting, self); }
        } waiting;
        Scheduler::Block();
    }
};

// --- scans side by side ------------------------------------------------------------------------

int g_runningScans = 0;
// The files warned about while the scans running now ran: path and fresh digest.
std::set<std::pair<std::string, std::string>> g_warned;

/// True the first time the file's change is warned about while scans run side by side.
bool FirstWarning(const std::string &path, const std::string &crc)
{
    return g_warned.emplace(path, crc).second;
}

} // namespace

RunningScan::RunningScan() { ++g_runningScans; }

RunningScan::~RunningScan()
{
    if (--g_runningScans == 0)
        g_warned.clear();
}

void Loadthread::CompareData()
{
    // Counted as running itself, so that a comparison made outside a scan forgets as well.
    const RunningScan comparing;
    const ComparisonTurn turn;
    // A lookup per record, and nothing written.
    const Database::ReadsTogether reads(Globals::g_DB);
    // This comparison's records: every one appended until now, taken in one step. What scans
    // append while it runs waits in NewFiles for the next comparison.
    std::vector<Ref<TheNewFiles>> records;
    records.swap(Globals::NewFiles);
    // Should the comparison end through an exception, the records it has not reached go back in
    // front of NewFiles, for the next comparison: none is dropped unseen, none compared twice.
    std::size_t next = 0;
    struct PutBack
    {
        std::vector<Ref<TheNewFiles>> &records;
        std::size_t &next;
        ~PutBack()
        {
            if (next < records.size())
                Globals::NewFiles.insert(Globals::NewFiles.begin(),
                    records.begin() + std::ptrdiff_t(next), records.end());
        }
    } putBack { records, next };

    m_StaticText1->SetText("Comparing Data....");
    m_StaticText2->SetText("Processed " + FormatCount(t) + " files.");
    MainControl<ProgressBar> pb("pb");
    pb->SetVisible(true);
    const auto last = int(records.size()) - 1;
    pb->SetMaximum(last);
    const std::string ofLast = " of " + std::to_string(last) + " values.";
    for (int i = 0; i <= last; ++i) {
        const TheNewFiles &record = *records[std::size_t(i)];
        pb->SetValue(i);
        m_StaticText2->SetText("Processing " + std::to_string(i) + ofLast);
        // The exact path, as the walk stored it: nothing trimmed.
        const Ref<RecordSet> rs = Globals::g_DB->SQLSelect(
            "SELECT idx, crc, resource, exempt, fullpath, name FROM fileinfo WHERE fullpath = '"
            + Globals::DoubleQuotes(record.Path) + "';");
        next = std::size_t(i) + 1;
        // Only the first row counts; a NULL crc (a folder's row) is no baseline.
        if (rs && !rs->EOF_()) {
            const Ref<DatabaseField> crc = rs->Field("crc");
            if (!crc->IsNull() && !rs->Field("exempt")->BooleanValue()
                && crc->StringValue() != record.CRC && FirstWarning(record.Path, record.CRC)) {
                Globals::g_winAlert->SendAlert(rs->Field("name")->StringValue(),
                    rs->Field("resource")->StringValue(), crc->StringValue(), record.CRC,
                    rs->Field("fullpath")->StringValue(),
                    int32_t(rs->Field("idx")->IntegerValue()));
                // Each warning in a window of its own: the one just shown stays on screen.
                Globals::g_winAlert = MakeWindow<winAlert>();
            }
        }
        // Let go of as soon as it is compared: dropping a million records at the end, between
        // two yields, held the event loop up for tens of milliseconds.
        records[std::size_t(i)] = nullptr;
        Yield();
    }
    m_StaticText1->SetText("Scan Completed.");
    m_StaticText2->SetText(" ");
    pb->SetVisible(false);
}
