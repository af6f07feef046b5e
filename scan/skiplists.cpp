#include "scan/loadthread.h"

#include <string_view>

#include "platform/exceptions.h"

using namespace platform;

namespace {

// Name tests ignore the case of ASCII letters. The suffixes and prefixes sought are ASCII, so a
// byte test gives what a test of the last (or first) n characters would.

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameAt(std::string_view s, std::size_t pos, std::string_view word)
{
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (FoldAscii(s[pos + i]) != FoldAscii(word[i]))
            return false;
    }
    return true;
}

bool Is(std::string_view name, std::string_view word)
{
    return name.size() == word.size() && SameAt(name, 0, word);
}

bool EndsWith(std::string_view name, std::string_view suffix)
{
    return name.size() >= suffix.size() && SameAt(name, name.size() - suffix.size(), suffix);
}

bool StartsWith(std::string_view name, std::string_view prefix)
{
    return name.size() >= prefix.size() && SameAt(name, 0, prefix);
}

bool Contains(std::string_view name, std::string_view word)
{
    for (std::size_t pos = 0; pos + word.size() <= name.size(); ++pos) {
        if (SameAt(name, pos, word))
            return true;
    }
    return false;
}

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
