#include "platform/applefork_p.h"

#include "platform/resourcefork.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform::applefork {

namespace {

constexpr uint32_t kMagic = 0x00051607;
constexpr uint32_t kVersion = 0x00020000;
// Magic, version, 16 bytes of filler, the 2-byte entry count.
constexpr uint64_t kHeaderSize = 26;
constexpr uint64_t kEntrySize = 12; // id, offset, length
constexpr uint32_t kResourceForkEntry = 2;
constexpr uint64_t kPlaceholderSize = 286;
constexpr std::string_view kPlaceholderTag = "This resource fork intentionally left blank";

const char *const kForkAttributes[]
    = { "user.com.apple.ResourceFork", "user.org.netatalk.ResourceFork" };

uint32_t BigEndian(const unsigned char *p, int size)
{
    uint32_t v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Exactly `size` bytes at `offset`, or nothing (a read error, or the file got shorter).
std::optional<std::string> ReadAt(int fd, uint64_t offset, uint64_t size)
{
    std::string out(size, '\0');
    uint64_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, out.data() + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += uint64_t(n);
    }
    return out;
}

class Fd
{
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// A regular file opened for reading; never follows a link, never blocks on a FIFO.
int OpenRegular(int dirFd, const char *path, struct stat &st)
{
    const int fd = openat(dirFd, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool IsHeader(const std::string &head)
{
    const auto *p = reinterpret_cast<const unsigned char *>(head.data());
    return head.size() >= 8 && BigEndian(p, 4) == kMagic && BigEndian(p + 4, 4) == kVersion;
}

// The resource-fork entry of the sidecar: offset and length inside the file, checked against
// its size and its entry table.
std::optional<std::pair<uint64_t, uint64_t>> ForkEntry(int fd, uint64_t fileSize)
{
    const auto head = ReadAt(fd, 0, kHeaderSize);
    if (!head || !IsHeader(*head))
        return std::nullopt;
    const uint64_t count = BigEndian(reinterpret_cast<const unsigned char *>(head->data()) + 24, 2);
    const uint64_t tableEnd = kHeaderSize + count * kEntrySize;
    if (tableEnd > fileSize)
        return std::nullopt;
    const auto table = ReadAt(fd, kHeaderSize, count * kEntrySize);
    if (!table)
        return std::nullopt;
    const auto *p = reinterpret_cast<const unsigned char *>(table->data());
    for (uint64_t i = 0; i < count; ++i, p += kEntrySize) {
        if (BigEndian(p, 4) != kResourceForkEntry)
            continue;
        const uint64_t offset = BigEndian(p + 4, 4), length = BigEndian(p + 8, 4);
        if (length != 0 && (offset < tableEnd || offset > fileSize || length > fileSize - offset))
            return std::nullopt;
        return std::make_pair(offset, length);
    }
    return std::nullopt;
}

// Reads `length` bytes through `read` when asked, or when they are needed to recognise the
// placeholder; the placeholder becomes no fork.
template<class ReadFn> Fork Finish(int64_t length, bool read, ReadFn readBytes)
{
    Fork fork;
    fork.length = length;
    if (length <= 0)
        return {};
    const bool mayBePlaceholder = uint64_t(length) == kPlaceholderSize;
    if ((read && length <= kMaxReadSize) || mayBePlaceholder) {
        if (std::optional<std::string> bytes = readBytes();
            bytes && bytes->size() == uint64_t(length)) {
            if (mayBePlaceholder && IsBlankPlaceholder(*bytes))
                return {};
            fork.bytes = std::move(*bytes);
            fork.complete = true;
        }
    }
    return fork;
}

Fork FromSidecar(const std::string &sidecar, bool read)
{
    struct stat st;
    const Fd fd(OpenRegular(AT_FDCWD, sidecar.c_str(), st));
    if (fd.Get() < 0)
        return {};
    const auto entry = ForkEntry(fd.Get(), uint64_t(st.st_size));
    if (!entry)
        return {};
    return Finish(int64_t(entry->second), read,
        [&] { return ReadAt(fd.Get(), entry->first, entry->second); });
}

Fork FromAttribute(const std::string &path, const char *name, bool read)
{
    // lgetxattr: should the file be swapped for a link meanwhile, the link's own attributes are
    // read, and a link has none of these.
    const ssize_t size = lgetxattr(path.c_str(), name, nullptr, 0);
    if (size <= 0)
        return {};
    return Finish(int64_t(size), read, [&]() -> std::optional<std::string> {
        std::string bytes(std::size_t(size), '\0');
        const ssize_t n = lgetxattr(path.c_str(), name, bytes.data(), bytes.size());
        if (n != size)
            return std::nullopt; // changed meanwhile
        return bytes;
    });
}

// Whether the file may carry the attribute `name`: one listing of its attribute names answers for
// every attribute a fork may be kept in, where asking for each would cost a call apiece. A list
// too long for the buffer, or one that cannot be read, answers "may".
class AttributeNames
{
public:
    explicit AttributeNames(const std::string &path)
        : m_size(llistxattr(path.c_str(), m_names, sizeof m_names))
    {
    }
    bool MayHave(std::string_view name) const
    {
        if (m_size < 0)
            return true;
        for (std::string_view rest(m_names, std::size_t(m_size)); !rest.empty();) {
            const std::size_t end = std::min(rest.find('\0'), rest.size());
            if (rest.substr(0, end) == name)
                return true;
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
        return false;
    }

private:
    char m_names[1024];
    ssize_t m_size;
};

} // namespace

std::string SidecarPath(const std::string &posixPath)
{
    const std::size_t slash = posixPath.rfind('/');
    if (slash == std::string::npos || slash + 1 >= posixPath.size())
        return {};
    return posixPath.substr(0, slash + 1) + "._" + posixPath.substr(slash + 1);
}

bool IsAppleDoubleFile(int dirFd, const char *name)
{
    struct stat st;
    const Fd fd(OpenRegular(dirFd, name, st));
    if (fd.Get() < 0)
        return false;
    const auto head = ReadAt(fd.Get(), 0, 8);
    return head && IsHeader(*head);
}

Fork FindForkOfRegularFile(const std::string &posixPath, bool read, bool lookForSidecar)
{
    if (const std::string sidecar = lookForSidecar ? SidecarPath(posixPath) : std::string();
        !sidecar.empty()) {
        if (Fork fork = FromSidecar(sidecar, read); fork.length > 0)
            return fork;
    }
    const AttributeNames names(posixPath);
    for (const char *name : kForkAttributes)
        if (names.MayHave(name))
            if (Fork fork = FromAttribute(posixPath, name, read); fork.length > 0)
                return fork;
    return {};
}

bool IsBlankPlaceholder(const std::string &fork)
{
    if (fork.size() != kPlaceholderSize || fork.find(kPlaceholderTag) == std::string::npos)
        return false;
    const Ref<ResourceFork> parsed = ResourceFork::Parse(fork);
    return parsed && parsed->TypeCount() == 0;
}

} // namespace platform::applefork
