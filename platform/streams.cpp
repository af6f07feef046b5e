#include "platform/folderitem.h"

#include "platform/fileio_p.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

int detail::OpenRetrying(int folderFd, const char *path, int flags, mode_t mode)
{
    int fd;
    do
        fd = openat(folderFd, path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

std::size_t detail::ReadFully(int fd, char *buffer, std::size_t size, int64_t position,
    int64_t knownSize, bool &atEnd, bool &error)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, buffer + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = true;
            break;
        }
        done += std::size_t(n);
        if (n == 0 || (done < size && position + int64_t(done) >= knownSize)) {
            atEnd = true;
            break;
        }
    }
    return done;
}

namespace {

using detail::OpenRetrying;
using detail::ReadFully;

constexpr std::size_t kTextBuffer = 64 * 1024;

// O_NONBLOCK keeps a FIFO that slipped in between the checks from holding up the open; a
// regular file reads and writes the same either way, but the flag is cleared all the same. The
// descriptor was opened with no other status flag, so clearing them all clears only that one.
int KeepIfRegular(int fd, int64_t *size = nullptr)
{
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        return -1;
    }
    if (size)
        *size = int64_t(st.st_size);
    return fd;
}

bool IsRegularOrMissing(const std::string &path, bool missingIsFine)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return missingIsFine && errno == ENOENT;
    return S_ISREG(st.st_mode);
}

int CreateForWriting(const std::string &path)
{
    if (!IsRegularOrMissing(path, /*missingIsFine=*/true))
        return -1;
    return KeepIfRegular(
        OpenRetrying(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
}

// Read-ahead pays only where there is much to read; for a small file the advice costs more than
// it saves.
constexpr int64_t kSequentialAdviceFrom = 1 << 20;

class FileBinaryStream : public BinaryStream
{
public:
    FileBinaryStream(int fd, int64_t sizeAtOpen)
        : m_fd(fd)
        , m_sizeAtOpen(sizeAtOpen)
    {
        if (m_sizeAtOpen >= kSequentialAdviceFrom)
            posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    ~FileBinaryStream() override { Close(); }

    std::string Read(std::size_t count) override
    {
        std::string out;
        if (m_fd < 0)
            return out;
        // Grow with what is read, so a huge count on a small file allocates little.
        constexpr std::size_t kPiece = 1 << 20;
        while (out.size() < count) {
            const std::size_t piece = std::min(count - out.size(), kPiece);
            const std::size_t old = out.size();
            out.resize(old + piece);
            const std::size_t n = ReadInto(out.data() + old, piece);
            out.resize(old + n);
            if (n < piece)
                break;
        }
        return out;
    }

    std::size_t ReadInto(char *buffer, std::size_t size) override
    {
        // At the end until the position is set again, as a C stream is.
        if (m_fd < 0 || m_atEnd || m_error)
            return 0;
        const std::size_t n
            = ReadFully(m_fd, buffer, size, m_position, m_sizeAtOpen, m_atEnd, m_error);
        m_position += int64_t(n);
        return n;
    }

    bool EOF_() const override { return m_fd < 0 || m_error || m_atEnd || m_position >= Length(); }

    int64_t Length() const override
    {
        struct stat st;
        return m_fd >= 0 && fstat(m_fd, &st) == 0 ? int64_t(st.st_size) : 0;
    }

    int64_t Position() const override { return m_position; }

    void SetPosition(int64_t pos) override
    {
        pos = std::max<int64_t>(pos, 0);
        if (m_fd >= 0 && lseek(m_fd, off_t(pos), SEEK_SET) >= 0) {
            m_position = pos;
            m_atEnd = false;
        }
    }

    bool ReadError() const override { return m_error; }

    void Close() override
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
    int64_t m_sizeAtOpen;
    int64_t m_position = 0;
    bool m_atEnd = false;
    bool m_error = false;
};

class FileTextInputStream : public TextInputStream
{
public:
    explicit FileTextInputStream(int fd)
        : m_fd(fd)
    {
        posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    ~FileTextInputStream() override { Close(); }

    std::string ReadLine() override
    {
        std::string line;
        for (;;) {
            if (m_start == m_buffer.size() && !Fill())
                return line;
            const std::size_t end = m_buffer.find_first_of("\r\n", m_start);
            if (end == std::string::npos) {
                line.append(m_buffer, m_start);
                m_start = m_buffer.size();
                continue;
            }
            line.append(m_buffer, m_start, end - m_start);
            m_start = end + 1;
            if (m_buffer[end] == '\r' && (m_start < m_buffer.size() || Fill())
                && m_buffer[m_start] == '\n')
                ++m_start;
            return line;
        }
    }

    std::string ReadAll() override
    {
        std::string all = m_buffer.substr(m_start);
        m_start = m_buffer.size();
        while (Fill()) {
            all.append(m_buffer);
            m_start = m_buffer.size();
        }
        return all;
    }

    bool EOF_() const override { return m_start == m_buffer.size() && !Fill(); }

    void Close() override
    {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = -1;
        m_buffer.clear();
        m_start = 0;
    }

private:
    // Drops what was consumed and reads more; false when nothing more is there. A read error
    // ends the text as the end of the file does.
    bool Fill() const
    {
        m_buffer.erase(0, m_start);
        m_start = 0;
        if (m_fd < 0 || m_done)
            return !m_buffer.empty();
        const std::size_t old = m_buffer.size();
        m_buffer.resize(old + kTextBuffer);
        ssize_t n;
        do
            n = read(m_fd, m_buffer.data() + old, kTextBuffer);
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            m_done = true;
            n = 0;
        }
        m_buffer.resize(old + std::size_t(n));
        return !m_buffer.empty();
    }

    int m_fd;
    // EOF_ has to look ahead, so the read state changes under a const call.
    mutable std::string m_buffer;
    mutable std::size_t m_start = 0;
    mutable bool m_done = false;
};

class FileTextOutputStream : public TextOutputStream
{
public:
    explicit FileTextOutputStream(int fd)
        : m_fd(fd)
    {
    }
    ~FileTextOutputStream() override { Close(); }

    void Write(const std::string &text) override
    {
        if (m_fd < 0) {
            m_failed = true; // written after Close: lost
            return;
        }
        m_buffer += text;
        if (m_buffer.size() >= kTextBuffer)
            Flush();
    }

    void WriteLine(const std::string &text) override
    {
        Write(text);
        Write(EndOfLine);
    }

    bool Close() override
    {
        if (m_fd >= 0) {
            Flush();
            if (close(m_fd) != 0)
                m_failed = true;
            m_fd = -1;
        }
        return !m_failed;
    }

private:
    void Flush()
    {
        std::size_t done = 0;
        while (!m_failed && done < m_buffer.size()) {
            const ssize_t n = write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                m_failed = true;
            else
                done += std::size_t(n);
        }
        m_buffer.clear();
    }

    int m_fd;
    std::string m_buffer;
    bool m_failed = false; // once a write failed the file is not whole, whatever follows
};

} // namespace

// Devices are never opened, not even for a look: opening a tape or a modem has effects.
int FolderItem::OpenForReading(int64_t *size) const
{
    if (struct stat st; !TargetStatus(st) || !S_ISREG(st.st_mode))
        return -1;
    return KeepIfRegular(OpenRetrying(AT_FDCWD, m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY), size);
}

Ref<BinaryStream> FolderItem::OpenAsBinaryFile() const
{
    int64_t size = 0;
    const int fd = OpenForReading(&size);
    if (fd < 0)
        return nullptr;
    return Ref<BinaryStream>(std::make_shared<FileBinaryStream>(fd, size));
}

Ref<TextInputStream> FolderItem::OpenAsTextFile() const
{
    const int fd = OpenForReading();
    if (fd < 0)
        return nullptr;
    return Ref<TextInputStream>(std::make_shared<FileTextInputStream>(fd));
}

Ref<TextOutputStream> FolderItem::CreateTextFile() const
{
    const int fd = CreateForWriting(m_path);
    if (fd < 0)
        return nullptr;
    return Ref<TextOutputStream>(std::make_shared<FileTextOutputStream>(fd));
}

} // namespace platform
