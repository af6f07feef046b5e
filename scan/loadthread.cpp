#include "scan/loadthread.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "core/app.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/controls.h"
#include "platform/database.h"
#include "platform/exceptions.h"
#include "platform/filelist.h"
#include "scan/comparison_p.h"
#include "scan/countformat.h"
#include "scan/instrrev.h"
#include "scan/maincontrols.h"
#include "scan/records.h"
#include "scan/sha.h"
#include "scan/startthread.h"

using namespace platform;

namespace {

// Small files are read and digested ahead of the walk by worker threads: for them the opening,
// reading and hashing cost more than everything else the walk does for a file. Larger ones are
// digested by the walk itself, in pieces with yields between, so the window never waits long.
constexpr int64_t kWorkedAheadSize = 1 << 20;

} // namespace

void Loadthread::Event_Run()
{
    const RunningScan running;
    const std::exception_ptr error = Capture([this] {
        // The walk looks up every file it digests; most are found, and change nothing.
        const Database::ReadsTogether reads(Globals::g_DB);
        LoadFolderMBS(folder);
        EndOfWalk();
    });
    if (!error)
        return;
    // Reported as any exception that ends a thread; then the cursor must not say "busy" for ever.
    HandleUnhandledException(error);
    App_().SetMouseCursor(Application::MouseCursor::Arrow);
}

void Loadthread::LoadFolderMBS(const Ref<FolderItem> &f)
{
    FileListMBS list(f);
    const int count = list.Count();
    // The listing's own reference to the last fork it opened, dropped at its next fork or its end.
    Ref<ResourceFork> fork;
    // The listed folder's path, which every file digested from it is reported under.
    std::string listedPath;
    // The folder's own test, made at its first file and kept for the others: its answer could
    // change only if the folder itself were removed or replaced while it is listed.
    std::optional<bool> folderOK;
    for (int i = 0; i < count; ++i) {
        if (list.Directory(i)) {
            const Ref<FolderItem> subfolder = list.TrueItem(i);
            LoadFolderMBS(subfolder);
            m_StaticText1->SetText(subfolder->AbsolutePath());
        } else {
            const Ref<FolderItem> entry = list.TrueItem(i);
            if (entry->ResourceForkLength() > 0) {
                fork = entry->OpenResourceFork();
                const int types = fork ? fork->TypeCount() : 0;
                for (int j = 0; j < types; ++j) {
                    iCRC = CalculateResourceFork(fork, fork->ResourceType(j));
                    Yield();
                }
            } else {
                if (!folderOK) {
                    folderOK = ProcessPrivateFolderOK(f);
                    if (*folderOK)
                        list.WorkAhead(&DataForkSHAAhead, kWorkedAheadSize, i);
                }
                if (*folderOK && ProcessPrivateFileOK(entry)) {
                    s = list.Name(i);
                    const Ref<FolderItem> data = list.Item(i);
                    std::optional<std::string> ahead = list.WorkedAhead(i);
                    iCRC = ahead ? std::move(*ahead) : SHA(data);
                    const std::string path = entry->AbsolutePath();
                    AddData(data->ModificationDate(), iCRC, path, s, t);
                    auto record = New<TheNewFiles>();
                    record->Path = path;
                    record->CRC = iCRC;
                    record->MyID = t;
                    record->name = s;
                    record->f = entry;
                    Globals::NewFiles.push_back(std::move(record));
                    ++t;
                    if (listedPath.empty())
                        listedPath = f->AbsolutePath();
                    p = listedPath;
                }
                // Also for a file passed over: the lines then repeat the last digested file.
                m_StaticText1->SetText(p + s);
                m_StaticText2->SetText("Scanning file " + FormatCount(t));
            }
        }
        Yield();
    }
}

void Loadthread::EndOfWalk()
{
    m_StaticText1->SetText("Complete");
    m_StaticText2->SetText("Processed " + FormatCount(t) + " files.");
    App_().SetMouseCursor(Application::MouseCursor::Arrow);

    // A catalogue made at start-up was never loaded by the main window. A reload, like the one
    // below: appended to a snapshot loaded by an earlier scan, it would hold every row twice.
    if (!App_().DBExists)
        New<StartThread>(/*emptyOldFiles=*/true)->Run();

    // One stored record is enough: a one-file catalogue must be compared as well. Records with
    // nothing stored to be compared against are compared too, against the rows they were just
    // stored in: left for a later scan, they would be checked against rows that may have taken a
    // new digest meanwhile ("Update Checksum" after a re-check) and warn of a change that never
    // happened, while every first scan's records were held in memory until the next scan.
    if (!Globals::OldFiles.empty() || !Globals::NewFiles.empty())
        CompareData();

    const Ref<RecordSet> rs = Globals::g_DB->SQLSelect("SELECT * FROM fileinfo;");
    if (int64_t(Globals::OldFiles.size()) - 1 <= rs->RecordCount())
        New<StartThread>(/*emptyOldFiles=*/true)->Run();
}

std::string Loadthread::SplitPath(const Ref<FolderItem> &f) const
{
    if (!f)
        return "";
    const std::string path = f->AbsolutePath();
    const int32_t colon = InstrRev::InStrRev(path, ":", 0);
    if (colon == 0)
        return path;
    return path.substr(0, std::size_t(colon - 1));
}
