#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

namespace detail {
class AheadBatch;
}

/// The entries of one folder, read once when the list is made and sorted by name in byte
/// order. Listed are folders, regular files and symbolic links; devices, FIFOs and sockets are
/// not, nor an AppleDouble file "._name" beside an entry "name" (it holds that entry's resource
/// fork), nor the mount point of a kernel or memory file system (proc, sysfs, tmpfs, ...).
/// Entries are indexed 0 to Count() - 1; any other index raises OutOfBoundsException.
class FileListMBS
{
public:
    /// Lists `folder` (a link to a folder lists the folder it points to; the entries' paths stay
    /// under the link). A folder that does not exist or cannot be read gives no entries; a nil
    /// `folder` raises NilObjectException.
    explicit FileListMBS(const Ref<FolderItem> &folder);
    ~FileListMBS();
    FileListMBS(const FileListMBS &) = delete;
    FileListMBS &operator=(const FileListMBS &) = delete;

    int Count() const;
    /// True only for a real folder; a symbolic link is never one, whatever it points to.
    bool Directory(int i) const;
    /// The entry's name in the colon form: the same text as TrueItem(i)->Name().
    std::string Name(int i) const;
    /// The entry itself, as a listed item (see FolderItem::Listed) until the next call or the end
    /// of the listing.
    Ref<FolderItem> TrueItem(int i) const;
    /// The entry with a symbolic link followed to its final target (the entry itself when it is
    /// no link: the item TrueItem(i) gave last, where it gave one); for a dangling link or a loop
    /// of links, the link's immediate target.
    Ref<FolderItem> Item(int i) const;

    /// A regular file as work done ahead reads it: its Linux name, and its bytes in order.
    class AheadFile
    {
    public:
        virtual ~AheadFile() = default;
        virtual const std::string &DisplayName() const = 0;
        /// Up to `size` bytes; 0 at the end.
        virtual std::size_t ReadInto(char *buffer, std::size_t size) = 0;
        virtual bool ReadError() const = 0;
    };
    /// Runs on a worker thread of the system: it may read the file it is given and nothing else
    /// of the program's (no items, threads, controls or catalogue).
    using AheadWork = std::string (*)(AheadFile &file);

    /// Has `work` done on the listing's regular files of at most `maxSize` bytes by a few worker
    /// threads, from entry `from` on, a window of entries ahead of the one WorkedAhead was last
    /// asked for. Symbolic links are not worked on. A second call does nothing, and so does a
    /// call where no worker thread could be started.
    void WorkAhead(AheadWork work, int64_t maxSize, int from);
    /// What `work` gave for entry i, where it was done on the very file TrueItem(i)'s item reads
    /// now (the same file, size, mode and modification and change times before and after the
    /// reading, with no read failing); else nothing, and the caller does the work itself. Only
    /// for the entry TrueItem made last; waits for a worker that is on it. Entries before i are
    /// not worked on any more.
    std::optional<std::string> WorkedAhead(int i) const;

private:
    enum class Kind : unsigned char { File, Folder, Link };
    struct Entry
    {
        std::string name; // the Linux name
        Kind kind;
        bool sidecar = false; // the AppleDouble file "._name" is there too
    };

    const Entry &At(int i) const;
    std::string PathOf(const Entry &entry) const;
    /// Adds entries to the work done ahead until its window is full.
    void AddAhead() const;

    std::string m_folder; // Linux path of the listed folder
    std::vector<Entry> m_entries;
    // The item TrueItem made last and its index: asked for the same entry, Item gives it again,
    // with what it has read of its status. It stops being a listed item when the next is made:
    // the items a scan keeps must not keep their readings too.
    mutable Ref<FolderItem> m_lastItem;
    mutable int m_lastIndex = -1;
    // Work done ahead: the batch, and the next entry to consider adding to it.
    std::shared_ptr<detail::AheadBatch> m_ahead;
    mutable std::size_t m_aheadNext = 0;
};

} // namespace platform
