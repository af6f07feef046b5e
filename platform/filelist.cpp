#include "platform/filelist.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/applefork_p.h"
#include "platform/exceptions.h"
#include "platform/readahead_p.h"
#include "platform/volumes_p.h"

namespace platform {

namespace {

struct DirCloser
{
    void operator()(DIR *dir) const { closedir(dir); }
};

unsigned char TypeOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return DT_DIR;
    if (S_ISREG(mode))
        return DT_REG;
    if (S_ISLNK(mode))
        return DT_LNK;
    return DT_UNKNOWN; // devices, FIFOs and sockets are not listed
}

std::string Join(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The path as the mount table has it: every link resolved.
bool IsKernelMountPoint(const std::string &path)
{
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    return real && Volumes::IsKernelMountPoint(real.get());
}

} // namespace

FileListMBS::FileListMBS(const Ref<FolderItem> &folder)
    : m_folder(folder->NativePath())
{
    const int fd = open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat folderStat;
    if (fstat(fd, &folderStat) != 0) {
        close(fd);
        return;
    }
    const std::unique_ptr<DIR, DirCloser> dir(fdopendir(fd));
    if (!dir) {
        close(fd);
        return;
    }

    std::vector<std::string> allNames; // every name, listed or not: a sidecar may describe any
    while (const dirent *d = readdir(dir.get())) {
        const std::string name = d->d_name;
        if (name == "." || name == "..")
            continue;
        allNames.push_back(name);
        unsigned char type = d->d_type;
        struct stat st
        {
        };
        // A folder is looked at to see whether another file system is mounted on it.
        if (type == DT_UNKNOWN || type == DT_DIR) {
            if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone meanwhile
            type = TypeOf(st.st_mode);
        }
        switch (type) {
        case DT_DIR:
            if (st.st_dev != folderStat.st_dev && IsKernelMountPoint(Join(m_folder, name)))
                continue;
            m_entries.push_back({ name, Kind::Folder });
            break;
        case DT_REG:
            m_entries.push_back({ name, Kind::File });
            break;
        case DT_LNK:
            m_entries.push_back({ name, Kind::Link });
            break;
        default:
            break;
        }
    }

    std::sort(allNames.begin(), allNames.end());
    const auto isSidecar = [&](const Entry &e) {
        return e.kind == Kind::File && e.name.size() > 2 && e.name.compare(0, 2, "._") == 0
            && std::binary_search(allNames.begin(), allNames.end(), e.name.substr(2))
            && applefork::IsAppleDoubleFile(fd, e.name.c_str());
    };
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(), isSidecar), m_entries.end());
    for (Entry &e : m_entries)
        e.sidecar = e.kind == Kind::File
            && std::binary_search(allNames.begin(), allNames.end(), "._" + e.name);
    std::sort(m_entries.begin(), m_entries.end(),
        [](const Entry &a, const Entry &b) { return a.name < b.name; });
}

FileListMBS::~FileListMBS()
{
    if (m_ahead)
        m_ahead->Cancel();
    if (m_lastItem)
        m_lastItem->ForgetListing();
}

const FileListMBS::Entry &FileListMBS::At(int i) const
{
    if (i < 0 || std::size_t(i) >= m_entries.size())
        throw OutOfBoundsException(
            "FileListMBS: index " + std::to_string(i) + " outside the listing of " + m_folder);
    return m_entries[std::size_t(i)];
}

std::string FileListMBS::PathOf(const Entry &entry) const { return Join(m_folder, entry.name); }

int FileListMBS::Count() const { return int(std::min<std::size_t>(m_entries.size(), INT_MAX)); }

bool FileListMBS::Directory(int i) const { return At(i).kind == Kind::Folder; }

std::string FileListMBS::Name(int i) const
{
    std::string name = At(i).name;
    std::replace(name.begin(), name.end(), ':', '/');
    return name;
}

Ref<FolderItem> FileListMBS::TrueItem(int i) const
{
    const Entry &entry = At(i);
    if (m_lastItem)
        m_lastItem->ForgetListing();
    m_lastItem = FolderItem::Listed(PathOf(entry), entry.sidecar);
    m_lastIndex = i;
    return m_lastItem;
}

Ref<FolderItem> FileListMBS::Item(int i) const
{
    const Entry &entry = At(i);
    if (entry.kind != Kind::Link)
        return i == m_lastIndex ? m_lastItem : FolderItem::Listed(PathOf(entry), entry.sidecar);
    const std::string path = PathOf(entry);
    if (std::unique_ptr<char, decltype(&std::free)> real(
            realpath(path.c_str(), nullptr), &std::free);
        real)
        return New<FolderItem>(real.get());
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0)
        return New<FolderItem>(path);
    target.resize(std::size_t(n));
    return New<FolderItem>(target.front() == '/' ? target : Join(m_folder, target));
}

void FileListMBS::WorkAhead(AheadWork work, int64_t maxSize, int from)
{
    if (m_ahead || from < 0 || std::size_t(from) >= m_entries.size())
        return;
    m_ahead = detail::AheadBatch::Start(m_folder, work, maxSize);
    m_aheadNext = std::size_t(from);
    if (m_ahead)
        AddAhead();
}

void FileListMBS::AddAhead() const
{
    std::size_t room = m_ahead->Room();
    if (room == 0)
        return;
    std::vector<std::pair<int, std::string>> files;
    for (; m_aheadNext < m_entries.size() && files.size() < room; ++m_aheadNext) {
        if (const Entry &entry = m_entries[m_aheadNext]; entry.kind == Kind::File)
            files.emplace_back(int(m_aheadNext), entry.name);
    }
    m_ahead->Add(std::move(files));
}

std::optional<std::string> FileListMBS::WorkedAhead(int i) const
{
    if (!m_ahead || i != m_lastIndex || !m_lastItem)
        return std::nullopt;
    m_ahead->ForgetBefore(i);
    m_aheadNext = std::max(m_aheadNext, std::size_t(i));
    AddAhead();
    struct stat now;
    if (!m_lastItem->LinkStatus(now))
        return std::nullopt;
    return m_ahead->Take(i, now);
}

} // namespace platform
