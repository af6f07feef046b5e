#include "platform/database_walwrites_p.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include <sqlite3.h>

namespace platform::dbdetail {

namespace {

// The WAL's layout (SQLite's file format): a 32-byte header at its start, then frames, each a
// 24-byte header followed by one page. Bytes 4 to 7 of a frame's header hold the database's size
// in pages after the commit for the frame that ends one, and zero for every other frame.
constexpr int kWalHeaderSize = 32;
constexpr int kFrameHeaderSize = 24;
/// Frames of a transaction larger than the page cache are written before its commit; past this
/// much they go out without waiting for it.
constexpr std::size_t kMostHeld = std::size_t(256) << 10;
/// SQLite's own write takes at most 128 KiB less one byte in each call it makes, and takes a
/// call that writes nothing for a full disk: what is held goes to it in pieces no larger.
constexpr std::size_t kMostPerWrite = std::size_t(64) << 10;

/// What a WAL handle holds back: bytes that belong at `start` of the file.
struct Held
{
    std::vector<unsigned char> bytes;
    sqlite3_int64 start = 0;
    /// Where the next frame is appended, as far as this handle has seen SQLite write; -1 when it
    /// has not seen it yet. Only a frame written there is held: SQLite also rewrites the headers
    /// of frames it wrote earlier in a transaction (with no page after them), and those go out
    /// at once.
    sqlite3_int64 appendAt = -1;
    bool pageDue = false; // the last bytes held are a frame's header
    bool commitFrame = false; // ... and that frame ends a commit

    sqlite3_int64 End() const { return start + sqlite3_int64(bytes.size()); }
};

/// Our handle of a database file or of its WAL, with SQLite's own after it. The two handles of
/// one connection know each other: frames are held only while the WAL's database handle is
/// there to write them out before its write lock is let go. So nothing is ever held past the
/// end of a write transaction, and bytes of a transaction that was rolled back can never land
/// on frames another connection wrote since.
struct OurFile
{
    sqlite3_file base; // SQLite's view of the handle: first, as SQLite requires
    OurFile *partner; // the database's WAL handle, or the WAL's database handle; nil when closed
    Held *held; // a WAL's; nil for a database
    const char *name; // a database's, as SQLite opened it; nil for a WAL
};

/// SQLite's VFS under ours, and where its handle starts in the space of ours.
sqlite3_vfs *g_under = nullptr;
constexpr int kInnerOffset = int((sizeof(OurFile) + alignof(std::max_align_t) - 1)
    / alignof(std::max_align_t) * alignof(std::max_align_t));

/// The database handles open, by the name SQLite opened them with: SQLite opens a WAL with a
/// name from which `sqlite3_filename_database` gives that same pointer back.
std::mutex g_openMutex;
std::unordered_map<const char *, OurFile *> g_databases;

sqlite3_file *Inner(sqlite3_file *file)
{
    return reinterpret_cast<sqlite3_file *>(reinterpret_cast<char *>(file) + kInnerOffset);
}

OurFile &Our(sqlite3_file *file) { return *reinterpret_cast<OurFile *>(file); }

Held &HeldOf(sqlite3_file *file) { return *Our(file).held; }

/// Writes what the WAL handle `file` holds. What did not reach the file is dropped either way:
/// SQLite hears of the failure and does not count those frames as written.
int WriteHeld(sqlite3_file *file)
{
    Held &h = HeldOf(file);
    if (h.bytes.empty())
        return SQLITE_OK;
    sqlite3_file *inner = Inner(file);
    int rc = SQLITE_OK;
    for (std::size_t at = 0; at < h.bytes.size() && rc == SQLITE_OK; at += kMostPerWrite) {
        const std::size_t piece = std::min(kMostPerWrite, h.bytes.size() - at);
        rc = inner->pMethods->xWrite(
            inner, h.bytes.data() + at, int(piece), h.start + sqlite3_int64(at));
    }
    h.bytes.clear();
    h.pageDue = false;
    return rc;
}

/// Writes what the WAL of the database handle `file` holds.
int WriteWalsHeld(sqlite3_file *file)
{
    OurFile *wal = Our(file).partner;
    return wal ? WriteHeld(&wal->base) : SQLITE_OK;
}

/// SQLite's own call `Method` on the handle under ours, with the same arguments.
template<auto Method> struct Forward;
template<class R, class... Args, R (*sqlite3_io_methods::*Method)(sqlite3_file *, Args...)>
struct Forward<Method>
{
    static R Pass(sqlite3_file *file, Args... args)
    {
        sqlite3_file *inner = Inner(file);
        return (inner->pMethods->*Method)(inner, args...);
    }
    /// The same on a WAL's handle, with what it holds written first.
    static R AfterHeld(sqlite3_file *file, Args... args)
    {
        if (const int rc = WriteHeld(file); rc != SQLITE_OK)
            return rc;
        return Pass(file, args...);
    }
};

// ---- The WAL's handle

int WalClose(sqlite3_file *file)
{
    const int written = WriteHeld(file);
    {
        const std::lock_guard lock(g_openMutex);
        if (OurFile *db = Our(file).partner)
            db->partner = nullptr;
    }
    sqlite3_file *inner = Inner(file);
    const int rc = inner->pMethods->xClose(inner);
    delete Our(file).held;
    return written != SQLITE_OK ? written : rc;
}

/// Adds `amount` bytes to what `h` holds; false when there is no memory for them.
bool Hold(Held &h, const unsigned char *bytes, int amount) noexcept
{
    try {
        h.bytes.insert(h.bytes.end(), bytes, bytes + amount);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

int WalWrite(sqlite3_file *file, const void *data, int amount, sqlite3_int64 offset)
{
    Held &h = HeldOf(file);
    const auto *bytes = static_cast<const unsigned char *>(data);
    const bool appended = h.bytes.empty() || offset == h.End();
    if (amount == kFrameHeaderSize && offset == h.appendAt && appended && !h.pageDue
        && Our(file).partner) {
        const sqlite3_int64 start = h.bytes.empty() ? offset : h.start;
        if (Hold(h, bytes, amount)) {
            h.start = start;
            h.pageDue = true;
            h.commitFrame = (bytes[4] | bytes[5] | bytes[6] | bytes[7]) != 0;
            return SQLITE_OK;
        }
    } else if (h.pageDue && offset == h.End() && Hold(h, bytes, amount)) {
        h.pageDue = false;
        h.appendAt = offset + amount;
        if (h.commitFrame || h.bytes.size() >= kMostHeld)
            return WriteHeld(file);
        return SQLITE_OK;
    }
    // Anything else, and a frame there is no memory to hold, goes out as SQLite wrote it, after
    // what is held.
    if (const int rc = WriteHeld(file); rc != SQLITE_OK)
        return rc;
    sqlite3_file *inner = Inner(file);
    const int rc = inner->pMethods->xWrite(inner, data, amount, offset);
    // A new WAL starts with its header, and its first frame follows it; otherwise the frame after
    // the page just written comes next, unless this was a header rewritten in place.
    if (offset == 0 && amount == kWalHeaderSize)
        h.appendAt = kWalHeaderSize;
    else if (amount != kFrameHeaderSize)
        h.appendAt = offset + amount;
    return rc;
}

// Every other call on the WAL sees it with what is held written first (Forward::AfterHeld).

int WalFetch(sqlite3_file *file, sqlite3_int64 offset, int amount, void **out)
{
    *out = nullptr;
    return Forward<&sqlite3_io_methods::xFetch>::AfterHeld(file, offset, amount, out);
}

// ---- The database's handle: its own, but that its WAL is written before any lock on the
// WAL's index moves or a commit becomes visible.

int DbClose(sqlite3_file *file)
{
    const int written = WriteWalsHeld(file);
    {
        const std::lock_guard lock(g_openMutex);
        g_databases.erase(Our(file).name);
        if (OurFile *wal = Our(file).partner)
            wal->partner = nullptr;
    }
    sqlite3_file *inner = Inner(file);
    const int rc = inner->pMethods->xClose(inner);
    return written != SQLITE_OK ? written : rc;
}

int DbShmLock(sqlite3_file *file, int offset, int n, int flags)
{
    const int written = WriteWalsHeld(file);
    // A lock is let go whatever became of the write; none is taken after a write that failed,
    // which SQLite then hears of instead.
    if (written != SQLITE_OK && !(flags & SQLITE_SHM_UNLOCK))
        return written;
    return Forward<&sqlite3_io_methods::xShmLock>::Pass(file, offset, n, flags);
}

void DbShmBarrier(sqlite3_file *file)
{
    WriteWalsHeld(file);
    Forward<&sqlite3_io_methods::xShmBarrier>::Pass(file);
}

int DbShmUnmap(sqlite3_file *file, int deleteFlag)
{
    WriteWalsHeld(file);
    return Forward<&sqlite3_io_methods::xShmUnmap>::Pass(file, deleteFlag);
}

template<auto Method> constexpr auto kPass = Forward<Method>::Pass;
template<auto Method> constexpr auto kAfterHeld = Forward<Method>::AfterHeld;
using Io = sqlite3_io_methods;

const sqlite3_io_methods kWalMethods = {
    3,
    WalClose,
    kAfterHeld<&Io::xRead>,
    WalWrite,
    kAfterHeld<&Io::xTruncate>,
    kAfterHeld<&Io::xSync>,
    kAfterHeld<&Io::xFileSize>,
    kAfterHeld<&Io::xLock>,
    kAfterHeld<&Io::xUnlock>,
    kPass<&Io::xCheckReservedLock>,
    kAfterHeld<&Io::xFileControl>,
    kPass<&Io::xSectorSize>,
    kPass<&Io::xDeviceCharacteristics>,
    // A WAL has no shared memory and is not mapped; these pass on what SQLite would ask of it.
    kPass<&Io::xShmMap>,
    kPass<&Io::xShmLock>,
    kPass<&Io::xShmBarrier>,
    kPass<&Io::xShmUnmap>,
    WalFetch,
    kPass<&Io::xUnfetch>,
};

// The database's own calls pass on as they come, but for its WAL's held frames (above).
const sqlite3_io_methods kDbMethods = {
    3,
    DbClose,
    kPass<&Io::xRead>,
    kPass<&Io::xWrite>,
    kPass<&Io::xTruncate>,
    kPass<&Io::xSync>,
    kPass<&Io::xFileSize>,
    kPass<&Io::xLock>,
    kPass<&Io::xUnlock>,
    kPass<&Io::xCheckReservedLock>,
    kPass<&Io::xFileControl>,
    kPass<&Io::xSectorSize>,
    kPass<&Io::xDeviceCharacteristics>,
    kPass<&Io::xShmMap>,
    DbShmLock,
    DbShmBarrier,
    DbShmUnmap,
    kPass<&Io::xFetch>,
    kPass<&Io::xUnfetch>,
};

int Open(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    const bool wal = flags & SQLITE_OPEN_WAL;
    // Journals and temporary files are SQLite's own handles, in the same space.
    if (!wal && !(flags & SQLITE_OPEN_MAIN_DB))
        return g_under->xOpen(g_under, name, file, flags, outFlags);
    OurFile &our = Our(file);
    our.base.pMethods = nullptr;
    our.partner = nullptr;
    our.held = nullptr;
    our.name = nullptr;
    sqlite3_file *inner = Inner(file);
    inner->pMethods = nullptr;
    int rc = g_under->xOpen(g_under, name, inner, flags, outFlags);
    // SQLite's own handle must be of the version whose calls ours pass on.
    if (rc == SQLITE_OK && inner->pMethods->iVersion < 3)
        rc = SQLITE_CANTOPEN;
    if (rc == SQLITE_OK && wal) {
        our.held = new (std::nothrow) Held;
        rc = our.held ? SQLITE_OK : SQLITE_NOMEM;
    }
    if (rc != SQLITE_OK) {
        // SQLite closes only what our handle shows open.
        if (inner->pMethods)
            inner->pMethods->xClose(inner);
        return rc;
    }
    const std::lock_guard lock(g_openMutex);
    if (wal) {
        const auto db = g_databases.find(sqlite3_filename_database(name));
        if (db != g_databases.end() && !db->second->partner) {
            our.partner = db->second;
            db->second->partner = &our;
        }
        our.base.pMethods = &kWalMethods;
    } else {
        if (name) {
            g_databases[name] = &our;
            our.name = name;
        }
        our.base.pMethods = &kDbMethods;
    }
    return SQLITE_OK;
}

// The rest of the VFS is SQLite's own.

int Delete(sqlite3_vfs *, const char *name, int syncDir)
{
    return g_under->xDelete(g_under, name, syncDir);
}
int Access(sqlite3_vfs *, const char *name, int flags, int *out)
{
    return g_under->xAccess(g_under, name, flags, out);
}
int FullPathname(sqlite3_vfs *, const char *name, int size, char *out)
{
    return g_under->xFullPathname(g_under, name, size, out);
}
void *DlOpen(sqlite3_vfs *, const char *name) { return g_under->xDlOpen(g_under, name); }
void DlError(sqlite3_vfs *, int size, char *out) { g_under->xDlError(g_under, size, out); }
void (*DlSym(sqlite3_vfs *, void *lib, const char *symbol))(void)
{
    return g_under->xDlSym(g_under, lib, symbol);
}
void DlClose(sqlite3_vfs *, void *lib) { g_under->xDlClose(g_under, lib); }
int Randomness(sqlite3_vfs *, int size, char *out)
{
    return g_under->xRandomness(g_under, size, out);
}
int Sleep(sqlite3_vfs *, int micros) { return g_under->xSleep(g_under, micros); }
int CurrentTime(sqlite3_vfs *, double *out) { return g_under->xCurrentTime(g_under, out); }
int GetLastError(sqlite3_vfs *, int size, char *out)
{
    return g_under->xGetLastError ? g_under->xGetLastError(g_under, size, out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs *, sqlite3_int64 *out)
{
    return g_under->xCurrentTimeInt64(g_under, out);
}
int SetSystemCall(sqlite3_vfs *, const char *name, sqlite3_syscall_ptr call)
{
    return g_under->xSetSystemCall(g_under, name, call);
}
sqlite3_syscall_ptr GetSystemCall(sqlite3_vfs *, const char *name)
{
    return g_under->xGetSystemCall(g_under, name);
}
const char *NextSystemCall(sqlite3_vfs *, const char *name)
{
    return g_under->xNextSystemCall(g_under, name);
}

constexpr const char *kName = "tallowmere-wal";
sqlite3_vfs g_vfs;

bool Register()
{
    sqlite3_vfs *under = sqlite3_vfs_find("unix");
    // Every call below is version 3's; a VFS without them is not the one this was written over.
    if (!under || under->iVersion < 3)
        return false;
    g_under = under;
    g_vfs = sqlite3_vfs {
        3,
        kInnerOffset + under->szOsFile,
        under->mxPathname,
        nullptr,
        kName,
        nullptr,
        Open,
        Delete,
        Access,
        FullPathname,
        DlOpen,
        DlError,
        DlSym,
        DlClose,
        Randomness,
        Sleep,
        CurrentTime,
        GetLastError,
        CurrentTimeInt64,
        SetSystemCall,
        GetSystemCall,
        NextSystemCall,
    };
    return sqlite3_vfs_register(&g_vfs, /*makeDflt=*/0) == SQLITE_OK;
}

} // namespace

const char *WalWritesVfs()
{
    static const bool registered = Register();
    return registered ? kName : nullptr;
}

} // namespace platform::dbdetail
