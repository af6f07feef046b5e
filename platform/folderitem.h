#pragma once

#include "platform/date.h"
#include "platform/ref.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct stat; // <sys/stat.h>, for the framework's own use

namespace platform {

namespace applefork {
struct Fork;
}
class BinaryStream;
class TextInputStream;
class TextOutputStream;
class ResourceFork;
class Picture;

/// A reference to a file or folder, which need not exist. Paths are shown in the colon form:
/// volume name, every folder followed by ":", then the name; a folder's path ends with ":".
/// The colon path describes the directory entry itself: a symbolic link reads as a file even
/// when it points to a folder, so its path never ends with ":".
class FolderItem
{
public:
    /// The item at a Linux path (absolute; made absolute against the working folder otherwise).
    static Ref<FolderItem> FromNativePath(const std::string &posixPath);

    /// The Linux path, for the framework's own use and for tests.
    const std::string &NativePath() const { return m_path; }

    std::string AbsolutePath() const;
    /// The name as it stands in the colon form (a ":" of the Linux name reads "/").
    std::string Name() const;
    /// The name as the file manager shows it: the Linux name.
    std::string DisplayName() const;

    /// Does not follow a symbolic link: a dangling link exists.
    bool Exists() const;
    /// True for a symbolic link.
    bool Alias() const;
    /// True for a folder (following a link to it).
    bool Directory() const;
    /// Size of the data fork in bytes (0 for anything that is not a readable regular file).
    int64_t Length() const;
    /// Size of the resource fork in bytes, 0 when there is none.
    int64_t ResourceForkLength() const;
    /// Birth time where the file system records it, else the earlier of the change and
    /// modification times. Follows a link; the Unix epoch for an item that does not exist.
    Date CreationDate() const;
    /// Follows a link; the Unix epoch for an item that does not exist.
    Date ModificationDate() const;

    /// The item called `name` inside this folder (it need not exist). The name may be given in
    /// the colon form ("a/b") or as the Linux name ("a:b"); nil for "", "." and "..".
    Ref<FolderItem> Child(const std::string &name) const;
    /// The folder that holds this item; nil for the root.
    Ref<FolderItem> Parent() const;

    /// Regular files only; nil for anything else or when the file cannot be read.
    Ref<BinaryStream> OpenAsBinaryFile() const;
    Ref<TextInputStream> OpenAsTextFile() const;
    /// Creates or empties the file; nil when it cannot be written.
    Ref<TextOutputStream> CreateTextFile() const;
    /// The parsed resource fork, nil when there is none or it is damaged.
    Ref<ResourceFork> OpenResourceFork() const;
    /// Nil when the file is not a picture Qt can read. Defined by the widgets library: Qt's image
    /// readers are part of Qt Gui.
    Ref<Picture> OpenAsPicture() const;
    /// Removes the file or empty folder; false on failure.
    bool Delete() const;

    explicit FolderItem(std::string posixPath);

    /// An item as a folder listing makes it. In a cooperative thread it reads its status from the
    /// file system once and answers every question about it (existence, kind, size, dates, the
    /// folder test of its path, the checks before it is opened) from that reading, until the
    /// thread lets other code run; then it reads it again. Elsewhere it reads afresh each time.
    /// `sidecarListed`: the listing saw the AppleDouble file "._name" beside it; where it did not,
    /// the item's resource fork is looked for in its attributes only. The listing ends this with
    /// ForgetListing when it makes its next item or ends: an item kept on is a plain one.
    static Ref<FolderItem> Listed(std::string posixPath, bool sidecarListed);
    void ForgetListing() const { m_memo.reset(); }

private:
    friend class FileListMBS; // compares work done ahead with the item's status
    struct StatusMemo;
    /// lstat and stat of the item, through the memo where it has one; false where they fail.
    bool LinkStatus(struct stat &st) const;
    bool TargetStatus(struct stat &st) const;
    /// stat, or lstat for a dangling link; false when the item is not there at all.
    bool StatusFollowing(struct stat &st) const;
    /// A descriptor for reading the item, or -1. Anything but a regular file is refused before it
    /// is opened, and the open never blocks (a FIFO swapped in meanwhile is refused too). `size`,
    /// when given, receives the file's size at the open.
    int OpenForReading(int64_t *size = nullptr) const;
    /// The item's resource fork, as ResourceForkLength and OpenResourceFork look for it.
    applefork::Fork FindFork(bool read) const;

    std::string m_path; // absolute, normalised, no trailing slash except for "/"
    mutable std::shared_ptr<StatusMemo> m_memo; // listed items only
};

/// `path` in the colon form (volume first), or a bare name resolved against the application's
/// folder; nil for an unknown volume. Only mode 0 (colon paths) is supported.
Ref<FolderItem> GetFolderItem(const std::string &path, int mode);

/// The folder that holds the executable.
Ref<FolderItem> ApplicationFolder();
/// Replaces the application folder; an empty path gives back the executable's. (Tests run the
/// program's logic in a folder of their own.)
void SetApplicationFolder(const std::string &posixPath);

namespace SpecialFolder {
/// The XDG configuration folder ($XDG_CONFIG_HOME when absolute, else ~/.config); nil when it
/// is not there (or not a folder), as a special folder that cannot be found is.
Ref<FolderItem> Preferences();
/// The XDG documents folder.
Ref<FolderItem> Documents();
} // namespace SpecialFolder

/// The mount table that names volumes; read from /proc/self/mountinfo unless replaced, and read
/// again when the kernel reports a mount or an unmount. The root is always the volume "Disk";
/// kernel and memory file systems (proc, tmpfs, ...) are no volumes; of two mounts with one name
/// only the first is one.
namespace Volumes {
struct Mount
{
    std::string mountPoint; // Linux path
    std::string fsType;
};
/// Replaces the mount table; an empty list restores the system's.
void SetMountTable(std::vector<Mount> mounts);
/// The volume name of a mount point ("Disk" for "/"), in the colon form.
std::string VolumeName(const std::string &mountPoint);
/// The mounts of a /proc/self/mountinfo text in its order, octal escapes ("\040") decoded. A
/// bind mount of a single file (/etc/hosts in a container) is left out: it holds no folder.
std::vector<Mount> ParseMountInfo(const std::string &text);

struct Volume
{
    std::string name; // colon form
    std::string mountPoint; // Linux path
};
/// The volume that holds an absolute, normalised Linux path: the longest mount point that is
/// a volume ("/", "Disk", at least).
Volume VolumeOf(const std::string &posixPath);
/// The mount point of the volume called `name`; empty when there is none.
std::string MountPointOf(const std::string &name);
} // namespace Volumes

/// A byte stream over a file.
class BinaryStream
{
public:
    virtual ~BinaryStream() = default;
    /// Up to `count` bytes; fewer at the end of the file.
    virtual std::string Read(std::size_t count) = 0;
    /// Reads into `buffer`, returns the number of bytes read (0 at the end or on error).
    virtual std::size_t ReadInto(char *buffer, std::size_t size) = 0;
    virtual bool EOF_() const = 0;
    virtual int64_t Length() const = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t pos) = 0;
    /// True after a read failed (not at the end of the file).
    virtual bool ReadError() const = 0;
    virtual void Close() = 0;
};

class TextInputStream
{
public:
    virtual ~TextInputStream() = default;
    /// One line without its line end ("\n", "\r\n" or "\r").
    virtual std::string ReadLine() = 0;
    virtual std::string ReadAll() = 0;
    virtual bool EOF_() const = 0;
    virtual void Close() = 0;
};

class TextOutputStream
{
public:
    virtual ~TextOutputStream() = default;
    virtual void Write(const std::string &text) = 0;
    /// The text followed by the platform's line end.
    virtual void WriteLine(const std::string &text) = 0;
    /// Writes out what is buffered; false when the data could not be written whole.
    virtual bool Close() = 0;
};

/// A picture loaded from a file.
class Picture
{
public:
    virtual ~Picture() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    int Transparent = 0;
};

/// The platform's line end.
inline constexpr const char *EndOfLine = "\n";

} // namespace platform
