#include "platform/folderitem.h"
#include "platform/volumes_p.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::Volumes {

namespace {

// File systems of the kernel and of memory: what is mounted there is no disk of its own.
constexpr std::array<std::string_view, 27> kKernelFileSystems = {
    "proc",
    "sysfs",
    "devtmpfs",
    "devpts",
    "cgroup",
    "cgroup2",
    "tmpfs",
    "ramfs",
    "securityfs",
    "debugfs",
    "tracefs",
    "pstore",
    "bpf",
    "mqueue",
    "hugetlbfs",
    "configfs",
    "fusectl",
    "autofs",
    "binfmt_misc",
    "efivarfs",
    "selinuxfs",
    "rpc_pipefs",
    "nsfs",
    "nfsd",
    "fuse.gvfsd-fuse",
    "fuse.portal",
    "rootfs",
};

bool IsKernelFileSystem(std::string_view type)
{
    return std::find(kKernelFileSystems.begin(), kKernelFileSystems.end(), type)
        != kKernelFileSystems.end();
}

struct Table
{
    std::vector<Volume> volumes; // the root first
    std::vector<std::string> kernelMountPoints; // sorted
};

std::shared_ptr<const Table> BuildTable(const std::vector<Mount> &mounts)
{
    auto table = std::make_shared<Table>();
    table->volumes.push_back({ "Disk", "/" });
    for (const Mount &mount : mounts) {
        const std::string point = FolderItem(mount.mountPoint).NativePath();
        // The last mount on a point is the one seen there.
        auto &kernel = table->kernelMountPoints;
        kernel.erase(std::remove(kernel.begin(), kernel.end(), point), kernel.end());
        if (point != "/" && IsKernelFileSystem(mount.fsType))
            kernel.push_back(point);
        if (point == "/" || IsKernelFileSystem(mount.fsType))
            continue;
        const std::string name = VolumeName(point);
        const bool taken = std::any_of(table->volumes.begin(), table->volumes.end(),
            [&](const Volume &v) { return v.name == name; });
        if (!taken)
            table->volumes.push_back({ name, point });
    }
    std::sort(table->kernelMountPoints.begin(), table->kernelMountPoints.end());
    return table;
}

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[16384];
    if (lseek(fd, 0, SEEK_SET) < 0)
        return text;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, std::size_t(n));
    }
    return text;
}

// The system's table is read once and read again only when the kernel reports a mount or an
// unmount (the mountinfo file signals POLLPRI then), looked at no more than every 200 ms.
class State
{
public:
    std::shared_ptr<const Table> Current()
    {
        std::lock_guard lock(m_mutex);
        if (m_replaced)
            return m_table;
        const auto now = std::chrono::steady_clock::now();
        if (!m_table) {
            if (m_fd < 0)
                m_fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
            Reload();
            m_lastCheck = now;
        } else if (m_fd >= 0 && now - m_lastCheck > std::chrono::milliseconds(200)) {
            m_lastCheck = now;
            pollfd p { m_fd, POLLPRI, 0 };
            if (poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)))
                Reload();
        }
        return m_table;
    }

    void Replace(std::vector<Mount> mounts)
    {
        std::lock_guard lock(m_mutex);
        m_replaced = !mounts.empty();
        m_table = m_replaced ? BuildTable(mounts) : nullptr;
    }

private:
    void Reload()
    {
        // Without a readable mountinfo the root is the one volume.
        m_table = BuildTable(m_fd >= 0 ? ParseMountInfo(ReadAll(m_fd)) : std::vector<Mount>());
    }

    std::mutex m_mutex;
    std::shared_ptr<const Table> m_table;
    bool m_replaced = false;
    int m_fd = -1; // kept open for the change notice
    std::chrono::steady_clock::time_point m_lastCheck;
};

State &TheState()
{
    static State *state = new State; // used until the very end of the program
    return *state;
}

std::string DecodeOctalEscapes(std::string_view field)
{
    const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1])
            && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            out += char(
                ((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

} // namespace

void SetMountTable(std::vector<Mount> mounts) { TheState().Replace(std::move(mounts)); }

std::string VolumeName(const std::string &mountPoint)
{
    const std::string point = FolderItem(mountPoint).NativePath();
    if (point == "/")
        return "Disk";
    std::string name = point.substr(point.rfind('/') + 1);
    std::replace(name.begin(), name.end(), ':', '/');
    return name;
}

std::vector<Mount> ParseMountInfo(const std::string &text)
{
    // ID parentID major:minor root mountPoint options [optional fields...] - type source ...
    std::vector<Mount> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        const auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 5 || dash == f.end() || dash + 1 == f.end() || dash - f.begin() < 6)
            continue;
        const std::string root = DecodeOctalEscapes(f[3]);
        Mount mount { DecodeOctalEscapes(f[4]), DecodeOctalEscapes(*(dash + 1)) };
        if (mount.mountPoint.empty() || mount.mountPoint.front() != '/')
            continue;
        // Only a bind mount can put a single file on a mount point; stat nothing else, so a
        // network share that stopped answering cannot hold up the table.
        if (root != "/") {
            struct stat st;
            if (stat(mount.mountPoint.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
                continue;
        }
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

Volume VolumeOf(const std::string &posixPath)
{
    const auto table = TheState().Current();
    const Volume *best = &table->volumes.front();
    for (const Volume &v : table->volumes) {
        const std::string &m = v.mountPoint;
        if (m.size() <= best->mountPoint.size() || posixPath.compare(0, m.size(), m) != 0)
            continue;
        if (posixPath.size() == m.size() || posixPath[m.size()] == '/')
            best = &v;
    }
    return *best;
}

bool IsKernelMountPoint(const std::string &posixPath)
{
    const auto table = TheState().Current();
    return std::binary_search(
        table->kernelMountPoints.begin(), table->kernelMountPoints.end(), posixPath);
}

std::string MountPointOf(const std::string &name)
{
    const auto table = TheState().Current();
    for (const Volume &v : table->volumes)
        if (v.name == name)
            return v.mountPoint;
    return {};
}

} // namespace platform::Volumes
