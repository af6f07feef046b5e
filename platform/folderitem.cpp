#include "platform/folderitem.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/applefork_p.h"
#include "platform/resourcefork.h"
#include "platform/schedulerturn_p.h"
#include "platform/thread.h"

namespace platform {

namespace {

std::string WorkingFolder()
{
    std::string buffer(4096, '\0');
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    return buffer.c_str();
}

// True for a path that Normalise would give back as it is: absolute, and no component empty,
// "." or "..". Most paths are, and checking is cheaper than taking them apart.
bool IsNormal(std::string_view path)
{
    if (path.empty() || path.front() != '/')
        return false;
    if (path.size() == 1)
        return true;
    if (path.back() == '/')
        return false;
    for (std::size_t start = 1; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

// Absolute, without "." and "..", without empty components and without a trailing "/".
std::string Normalise(const std::string &path)
{
    if (IsNormal(path))
        return path;
    const std::string absolute
        = (!path.empty() && path.front() == '/') ? path : WorkingFolder() + "/" + path;
    std::vector<std::string_view> parts;
    std::string_view rest(absolute);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty())
        return "/";
    std::string out;
    for (std::string_view part : parts) {
        out += '/';
        out += part;
    }
    return out;
}

std::string ColonName(std::string name)
{
    std::replace(name.begin(), name.end(), ':', '/');
    return name;
}

std::string LinuxName(std::string name)
{
    std::replace(name.begin(), name.end(), '/', ':');
    return name;
}

bool IsRealFolder(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExecutableFolder()
{
    std::string buffer(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return WorkingFolder();
    buffer.resize(std::size_t(n));
    const std::size_t slash = buffer.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : buffer.substr(0, slash);
}

std::mutex g_appFolderMutex;
std::string g_appFolderOverride;

std::string HomeFolder()
{
    if (const char *home = std::getenv("HOME"); home && *home == '/')
        return home;
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

// XDG_DOCUMENTS_DIR of user-dirs.dirs: "$HOME/Documents" or an absolute path, quoted.
std::string DocumentsFromUserDirs(const std::string &configFolder, const std::string &home)
{
    std::ifstream in(configFolder + "/user-dirs.dirs");
    std::string found;
    for (std::string line; std::getline(in, line);) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = line.substr(start + key.size());
        while (
            !value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (value.size() < 2 || value.front() != '"' || value.back() != '"')
            continue;
        value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            unescaped += value[i];
        }
        if (unescaped.rfind("$HOME", 0) == 0 && (unescaped.size() == 5 || unescaped[5] == '/'))
            found = home + unescaped.substr(5);
        else if (!unescaped.empty() && unescaped.front() == '/')
            found = unescaped;
    }
    return found;
}

} // namespace

FolderItem::FolderItem(std::string posixPath)
    : m_path(Normalise(posixPath))
{
}

// What the listing saw of the item, and what one reading of its status said in the scheduler
// turn it was made in.
struct FolderItem::StatusMemo
{
    struct Reading
    {
        std::optional<bool> linkOk;
        struct stat link
        {
        };
        std::optional<bool> targetOk;
        struct stat target
        {
        };
    };
    bool sidecarListed = true;
    uint64_t turn = 0;
    Reading reading;

    // The reading to answer from: none outside a cooperative thread, and a fresh one once other
    // code may have run since it was made.
    Reading *Current()
    {
        if (!CurrentThread())
            return nullptr;
        if (const uint64_t now = detail::SchedulerTurn(); turn != now) {
            reading = {};
            turn = now;
        }
        return &reading;
    }
};

Ref<FolderItem> FolderItem::Listed(std::string posixPath, bool sidecarListed)
{
    auto item = New<FolderItem>(std::move(posixPath));
    item->m_memo = std::make_shared<StatusMemo>();
    item->m_memo->sidecarListed = sidecarListed;
    return item;
}

bool FolderItem::LinkStatus(struct stat &st) const
{
    StatusMemo::Reading *memo = m_memo ? m_memo->Current() : nullptr;
    if (!memo)
        return lstat(m_path.c_str(), &st) == 0;
    if (!memo->linkOk)
        memo->linkOk = lstat(m_path.c_str(), &memo->link) == 0;
    st = memo->link;
    return *memo->linkOk;
}

bool FolderItem::TargetStatus(struct stat &st) const
{
    StatusMemo::Reading *memo = m_memo ? m_memo->Current() : nullptr;
    if (!memo)
        return stat(m_path.c_str(), &st) == 0;
    if (!memo->targetOk) {
        // Where the item itself is no link, following it reads what was read without.
        if (memo->linkOk && *memo->linkOk && !S_ISLNK(memo->link.st_mode)) {
            memo->target = memo->link;
            memo->targetOk = true;
        } else {
            memo->targetOk = stat(m_path.c_str(), &memo->target) == 0;
        }
    }
    st = memo->target;
    return *memo->targetOk;
}

bool FolderItem::StatusFollowing(struct stat &st) const
{
    return TargetStatus(st) || LinkStatus(st);
}

Ref<FolderItem> FolderItem::FromNativePath(const std::string &posixPath)
{
    return New<FolderItem>(posixPath);
}

std::string FolderItem::AbsolutePath() const
{
    const Volumes::Volume volume = Volumes::VolumeOf(m_path);
    std::string out = volume.name + ":";
    if (m_path.size() <= volume.mountPoint.size())
        return out;
    std::string_view rest(m_path);
    rest.remove_prefix(volume.mountPoint == "/" ? 1 : volume.mountPoint.size() + 1);
    for (;;) {
        const std::size_t slash = rest.find('/');
        out += ColonName(std::string(rest.substr(0, slash)));
        if (slash == std::string_view::npos)
            break;
        out += ':';
        rest.remove_prefix(slash + 1);
    }
    if (struct stat st; LinkStatus(st) && S_ISDIR(st.st_mode))
        out += ':';
    return out;
}

std::string FolderItem::Name() const
{
    if (m_path == "/")
        return Volumes::VolumeName("/");
    return ColonName(m_path.substr(m_path.rfind('/') + 1));
}

std::string FolderItem::DisplayName() const
{
    if (m_path == "/")
        return Volumes::VolumeName("/");
    return m_path.substr(m_path.rfind('/') + 1);
}

bool FolderItem::Exists() const
{
    struct stat st;
    return LinkStatus(st);
}

bool FolderItem::Alias() const
{
    struct stat st;
    return LinkStatus(st) && S_ISLNK(st.st_mode);
}

bool FolderItem::Directory() const
{
    struct stat st;
    return TargetStatus(st) && S_ISDIR(st.st_mode);
}

int64_t FolderItem::Length() const
{
    struct stat st;
    if (!TargetStatus(st) || !S_ISREG(st.st_mode))
        return 0;
    if (faccessat(AT_FDCWD, m_path.c_str(), R_OK, AT_EACCESS) != 0)
        return 0;
    return int64_t(st.st_size);
}

// Only a regular file has a fork; a symbolic link has none of its own (its target's is reached
// through the target's item).
applefork::Fork FolderItem::FindFork(bool read) const
{
    struct stat st;
    if (!LinkStatus(st) || !S_ISREG(st.st_mode))
        return {};
    return applefork::FindForkOfRegularFile(m_path, read, !m_memo || m_memo->sidecarListed);
}

int64_t FolderItem::ResourceForkLength() const { return FindFork(/*read=*/false).length; }

Ref<ResourceFork> FolderItem::OpenResourceFork() const
{
    applefork::Fork fork = FindFork(/*read=*/true);
    if (!fork.complete)
        return nullptr;
    return ResourceFork::Parse(std::move(fork.bytes));
}

Date FolderItem::CreationDate() const
{
    struct statx sx;
    const auto seconds = [](const statx_timestamp &t) { return int64_t(t.tv_sec); };
    if (statx(AT_FDCWD, m_path.c_str(), 0, STATX_BTIME | STATX_CTIME | STATX_MTIME, &sx) == 0
        || statx(AT_FDCWD, m_path.c_str(), AT_SYMLINK_NOFOLLOW,
               STATX_BTIME | STATX_CTIME | STATX_MTIME, &sx)
            == 0) {
        if (sx.stx_mask & STATX_BTIME)
            return Date(seconds(sx.stx_btime));
        return Date(std::min(seconds(sx.stx_ctime), seconds(sx.stx_mtime)));
    }
    // statx is missing from old kernels and some sandboxes.
    struct stat st;
    if (StatusFollowing(st))
        return Date(std::min(int64_t(st.st_ctime), int64_t(st.st_mtime)));
    return Date(0);
}

Date FolderItem::ModificationDate() const
{
    struct stat st;
    return Date(StatusFollowing(st) ? int64_t(st.st_mtime) : 0);
}

Ref<FolderItem> FolderItem::Child(const std::string &name) const
{
    const std::string entry = LinuxName(name);
    if (entry.empty() || entry == "." || entry == ".." || entry.find('\0') != std::string::npos)
        return nullptr;
    return New<FolderItem>(m_path == "/" ? "/" + entry : m_path + "/" + entry);
}

Ref<FolderItem> FolderItem::Parent() const
{
    if (m_path == "/")
        return nullptr;
    const std::size_t slash = m_path.rfind('/');
    return New<FolderItem>(slash == 0 ? "/" : m_path.substr(0, slash));
}

bool FolderItem::Delete() const
{
    if (m_memo)
        m_memo->reading = {};
    if (IsRealFolder(m_path))
        return rmdir(m_path.c_str()) == 0;
    return unlink(m_path.c_str()) == 0;
}

Ref<FolderItem> GetFolderItem(const std::string &path, int mode)
{
    if (mode != 0 || path.find('\0') != std::string::npos)
        return nullptr;
    const std::size_t colon = path.find(':');
    if (colon == std::string::npos)
        return path.empty() ? ApplicationFolder() : ApplicationFolder()->Child(path);

    std::string native = Volumes::MountPointOf(path.substr(0, colon));
    if (native.empty())
        return nullptr;
    std::string_view rest(path);
    rest.remove_prefix(colon + 1);
    while (!rest.empty()) {
        const std::size_t next = rest.find(':');
        const std::string part = LinuxName(std::string(rest.substr(0, next)));
        // An empty name inside the path, "." or ".." names nothing on Linux.
        if (part.empty() || part == "." || part == "..")
            return nullptr;
        if (native.back() != '/')
            native += '/';
        native += part;
        if (next == std::string_view::npos)
            break;
        rest.remove_prefix(next + 1); // a trailing ":" (a folder) leaves nothing
    }
    return New<FolderItem>(native);
}

Ref<FolderItem> ApplicationFolder()
{
    std::lock_guard lock(g_appFolderMutex);
    if (!g_appFolderOverride.empty())
        return New<FolderItem>(g_appFolderOverride);
    static const std::string folder = ExecutableFolder();
    return New<FolderItem>(folder);
}

void SetApplicationFolder(const std::string &posixPath)
{
    std::lock_guard lock(g_appFolderMutex);
    g_appFolderOverride = posixPath.empty() ? std::string() : Normalise(posixPath);
}

namespace SpecialFolder {

namespace {

std::string ConfigFolderPath()
{
    // A relative XDG_CONFIG_HOME is to be ignored.
    if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return config;
    return HomeFolder() + "/.config";
}

} // namespace

Ref<FolderItem> Preferences()
{
    auto folder = New<FolderItem>(ConfigFolderPath());
    if (!folder->Directory())
        return nullptr;
    return folder;
}

Ref<FolderItem> Documents()
{
    const std::string home = HomeFolder();
    const std::string fromFile = DocumentsFromUserDirs(ConfigFolderPath(), home);
    return New<FolderItem>(fromFile.empty() ? home + "/Documents" : fromFile);
}

} // namespace SpecialFolder

} // namespace platform
