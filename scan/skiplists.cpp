#include "scan/loadthread.h"

#include "platform/exceptions.h"
#include "scan/nametests.h"

using namespace platform;
using namespace NameTests;

namespace {

// The catalogue, and the two side files its WAL journal keeps beside it while it is open.
bool IsCatalogueFile(std::string_view name)
{
    return Is(name, "crcData.rsd") || Is(name, "crcData.rsd-wal") || Is(name, "crcData.rsd-shm");
}

} // namespace

// Each test fetches the name afresh, and the chain stops at the first test that fails.

bool Loadthread::ProcessPrivateFileOK(const Ref<FolderItem> &f) const
{
    bool ok = false;
    // The location tag is the one this handler's reports have always carried.
    CatchAll("ProcessThead.Methods.ProcessPrivateFolderOK", [&] {
        ok = f && f->Exists() && !f->Alias() && !Is(f->Name(), ".DS_Store")
            && !IsCatalogueFile(f->Name()) && !EndsWith(f->Name(), ".plist")
            && !EndsWith(f->Name(), ".cache") && !EndsWith(f->Name(), ".ics")
            && !Is(f->Name(), "Desktop DB") && !Is(f->Name(), "Desktop DF")
            && !EndsWith(f->Name(), "-journal");
    });
    return ok;
}

bool Loadthread::ProcessPrivateFolderOK(const Ref<FolderItem> &f) const
{
    bool ok = false;
    CatchAll("ProcessThread.Methods.ProcessPrivateFolderOK", [&] {
        ok = f && f->Exists() && !f->Alias() && f->Directory() && !StartsWith(f->Name(), ".Trashes")
            && !Contains(f->Name(), "cache") && !Is(f->Name(), "Volumes");
    });
    return ok;
}
