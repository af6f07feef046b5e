#include "scan/startthread.h"

#include <string>

#include "core/filetypes.h"
#include "core/globals.h"
#include "platform/controls.h"
#include "platform/database.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "platform/listbox.h"
#include "scan/maincontrols.h"
#include "scan/nametests.h"
#include "scan/records.h"

using namespace platform;

namespace {

// Every loader run empties the list and appends every catalogue row to OldFiles, so two at once
// would leave both doubled. One runs; one more may wait behind it, and whatever is started while
// one waits merges into that one: the waiting run reads the catalogue only once it begins, so it
// loads whatever the merged starts would have loaded.
struct Loaders
{
    StartThread *running = nullptr;
    bool runningEmptiesOldFiles = false;
    StartThread *queued = nullptr;
    bool queuedEmptiesOldFiles = false;
};
Loaders g_loaders;

/// A loader's place among the runs, from the start of its run to its end, however it ends.
class Turn
{
public:
    explicit Turn(StartThread &self)
        : m_self(self)
    {
    }
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;

    /// Waits, suspended, until this run holds the turn; false when it merged into the queued
    /// run instead and has nothing to do.
    bool Take(bool emptyOldFiles)
    {
        if (!g_loaders.running && !g_loaders.queued) {
            g_loaders.running = &m_self;
            g_loaders.runningEmptiesOldFiles = emptyOldFiles;
            return true;
        }
        if (g_loaders.queued) {
            g_loaders.queuedEmptiesOldFiles = g_loaders.queuedEmptiesOldFiles || emptyOldFiles;
            return false;
        }
        g_loaders.queued = &m_self;
        g_loaders.queuedEmptiesOldFiles = emptyOldFiles;
        // The run that ends hands the turn over (Release), so nothing can take it in between.
        while (g_loaders.running != &m_self)
            Scheduler::Block();
        return true;
    }

    /// Whether the run that holds the turn (this one) is to empty OldFiles first.
    bool EmptiesOldFiles() const { return g_loaders.runningEmptiesOldFiles; }

    ~Turn()
    {
        if (g_loaders.running == &m_self)
            Release();
        else if (g_loaders.queued == &m_self)
            g_loaders.queued = nullptr; // ended while it waited (killed, or the program's end)
    }

private:
    static void Release()
    {
        g_loaders.running = g_loaders.queued;
        g_loaders.runningEmptiesOldFiles = g_loaders.queuedEmptiesOldFiles;
        g_loaders.queued = nullptr;
        g_loaders.queuedEmptiesOldFiles = false;
        Scheduler::Wake(g_loaders.running);
    }

    StartThread &m_self;
};

} // namespace

void StartThread::Event_Run()
{
    Turn turn(*this);
    if (!turn.Take(m_emptyOldFiles))
        return;
    // What merged into this run asked for counts as asked by this run.
    m_emptyOldFiles = turn.EmptiesOldFiles();
    if (CatchAll("winMain.Methods.PopulateListFromDB", [this] { PopulateList(); }))
        return;
    // The scan button must not stay disabled for the rest of the run. When the controls
    // themselves are what failed, the report above has said so already.
    (void)Capture([] {
        MainControl<PushButton>("pbMBS")->SetEnabled(true);
        MainControl<ProgressBar>("pb")->SetVisible(false);
    });
}

void StartThread::PopulateList()
{
    Sleep(750);
    const Ref<RecordSet> rs = Globals::g_DB->SQLSelect("SELECT * FROM fileinfo;");
    MainControl<PushButton> pbMBS("pbMBS");
    pbMBS->SetEnabled(false);
    MainControl<ProgressBar> pb("pb");
    pb->SetVisible(true);
    const int64_t count = rs->RecordCount();
    pb->SetMaximum(int(count));
    MainControl<Listbox> lstFiles("lstFiles");
    lstFiles->DeleteAllRows();
    if (rs->EOF_()) {
        if (m_emptyOldFiles)
            Globals::OldFiles.clear();
        pbMBS->SetEnabled(true);
        pb->SetVisible(false);
        return;
    }

    MainControl<StaticText> StaticText1("StaticText1");
    const std::string ofCount = " of " + std::to_string(count);
    const Ref<DatabaseField> idx = rs->Field("idx");
    const Ref<DatabaseField> name = rs->Field("name");
    const Ref<DatabaseField> fullpath = rs->Field("fullpath");
    const Ref<DatabaseField> crc = rs->Field("crc");
    const Ref<DatabaseField> exempt = rs->Field("exempt");
    while (!rs->EOF_()) {
        // The index of the row added last, not the record's place in the set.
        const int n = lstFiles->LastIndex();
        pb->SetValue(n);
        StaticText1->SetText("Loading Record " + std::to_string(n) + ofCount);
        const auto rowIdx = int32_t(idx->IntegerValue());
        const std::string rowName = name->StringValue();
        const std::string rowPath = fullpath->StringValue();
        const std::string rowCrc = crc->StringValue();
        const bool rowExempt = exempt->BooleanValue();

        lstFiles->AddRow("");
        const int row = lstFiles->LastIndex();
        lstFiles->SetCell(row, 0, rowName);
        lstFiles->SetCell(row, 1, "<data>");
        lstFiles->SetCell(row, 2, rowCrc);
        lstFiles->SetCellTag(row, 0, rowIdx);
        lstFiles->SetCellType(row, 3, Listbox::TypeCheckbox);
        lstFiles->SetCellCheck(row, 3, rowExempt);
        lstFiles->SetRowTag(row, rowPath);
        lstFiles->SetRowPicture(row, Document());
        rs->MoveNext();
        Yield();
    }
    rs->Close();
    LoadOldFiles();
    pbMBS->SetEnabled(true);
}

void StartThread::LoadOldFiles()
{
    CatchAll("winMain.Methods.LoadOldFiles", [this] {
        const Ref<RecordSet> rs = Globals::g_DB->SQLSelect("SELECT * FROM fileinfo;");
        MainControl<ProgressBar> pb("pb");
        pb->SetMaximum(int(rs->RecordCount()));
        MainControl<StaticText> StaticText1("StaticText1");
        StaticText1->SetText("Building Database...");
        // A reload replaces the snapshot only now, with no yield before its first record is
        // back: a scan that ends while the loader sleeps or fills the list still finds the
        // stored snapshot loaded, and compares.
        if (m_emptyOldFiles)
            Globals::OldFiles.clear();
        int k = 0;
        if (!rs->EOF_()) {
            const Ref<DatabaseField> crc = rs->Field("crc");
            const Ref<DatabaseField> fullpath = rs->Field("fullpath");
            const Ref<DatabaseField> name = rs->Field("name");
            const Ref<DatabaseField> idx = rs->Field("idx");
            while (!rs->EOF_()) {
                ++k;
                pb->SetValue(k);
                auto record = New<TheOldFiles>();
                record->Path = fullpath->StringValue();
                record->CRC = crc->StringValue();
                record->MyID = int32_t(idx->IntegerValue());
                record->name = name->StringValue();
                // Made for the stored path whether or not the file is still there.
                record->f = GetFolderItem(record->Path, /*mode=*/0);
                Globals::OldFiles.push_back(std::move(record));
                rs->MoveNext();
                Yield();
            }
        }
        rs->Close();
        StaticText1->SetText("Files loaded Successfully!");
        pb->SetVisible(false);
    });
}

bool StartThread::DisplayFolderAsFolder(const std::string &name)
{
    bool asFolder = false;
    CatchAll("winMain.Methods.DisplayFolderAsFolder", [&] {
        asFolder = !NameTests::EndsWith(name, ".app") && !NameTests::EndsWith(name, ".rtfd")
            && !NameTests::EndsWith(name, ".plugin");
    });
    return asFolder;
}
