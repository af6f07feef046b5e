#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <string>
#include <vector>

namespace platform {

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

    std::string m_folder; // Linux path of the listed folder
    std::vector<Entry> m_entries;
    // The item TrueItem made last and its index: asked for the same entry, Item gives it again,
    // with what it has read of its status. It stops being a listed item when the next is made:
    // the items a scan keeps must not keep their readings too.
    mutable Ref<FolderItem> m_lastItem;
    mutable int m_lastIndex = -1;
};

} // namespace platform
