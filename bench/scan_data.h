#pragma once

// The trees the scan benchmarks walk, made once per run in a temporary folder and removed with
// it: real files of varied bytes (no holes, no repeated blocks), so that reading and digesting
// them costs what it costs on a user's disk once the data is in the page cache.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {

/// Fills `out` with bytes of a xorshift64 generator seeded with `seed`: fast, and no two files
/// of one tree share their contents.
inline void FillVaried(std::vector<char> &out, uint64_t seed)
{
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i + 8 <= out.size(); i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        for (int b = 0; b < 8; ++b)
            out[i + std::size_t(b)] = char(x >> (8 * b));
    }
}

inline void WriteAll(const std::string &path, const char *data, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path);
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0)
        throw std::runtime_error("cannot write " + path);
}

inline void MakeFolder(const std::string &path)
{
    if (::mkdir(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot make " + path);
}

/// `folder`/d0000 … with `files` files each of `bytes` bytes, f000.bin …; the file paths in the
/// order a depth-first walk by name visits them.
inline std::vector<std::string> MakeSmallTree(
    const std::string &root, int folders, int files, std::size_t bytes)
{
    std::vector<std::string> paths;
    paths.reserve(std::size_t(folders) * std::size_t(files));
    std::vector<char> data(bytes);
    char name[32];
    for (int d = 0; d < folders; ++d) {
        std::snprintf(name, sizeof name, "/d%04d", d);
        const std::string folder = root + name;
        MakeFolder(folder);
        for (int f = 0; f < files; ++f) {
            std::snprintf(name, sizeof name, "/f%03d.bin", f);
            FillVaried(data, uint64_t(d) * 100003u + uint64_t(f));
            paths.push_back(folder + name);
            WriteAll(paths.back(), data.data(), data.size());
        }
    }
    return paths;
}

/// `count` files of `bytes` bytes each, big0.bin …, written in pieces of 8 MiB.
inline std::vector<std::string> MakeLargeFiles(const std::string &root, int count, int64_t bytes)
{
    std::vector<std::string> paths;
    std::vector<char> piece(8 << 20);
    for (int i = 0; i < count; ++i) {
        paths.push_back(root + "/big" + std::to_string(i) + ".bin");
        const int fd = ::open(paths.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            throw std::runtime_error("cannot create " + paths.back());
        for (int64_t done = 0; done < bytes;) {
            FillVaried(piece, uint64_t(i) << 32 | uint64_t(done >> 23));
            const auto size = std::size_t(std::min<int64_t>(int64_t(piece.size()), bytes - done));
            if (::write(fd, piece.data(), size) != ssize_t(size)) {
                ::close(fd);
                throw std::runtime_error("cannot write " + paths.back());
            }
            done += int64_t(size);
        }
        if (::close(fd) != 0)
            throw std::runtime_error("cannot write " + paths.back());
    }
    return paths;
}

/// Reads every file once, so that the runs that follow find them in the page cache.
inline void ReadAll(const std::vector<std::string> &paths)
{
    std::vector<char> buffer(8 << 20);
    for (const std::string &path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw std::runtime_error("cannot read " + path);
        while (::read(fd, buffer.data(), buffer.size()) > 0)
            ;
        ::close(fd);
    }
}

/// Changes one byte in the middle of the file, keeping its size.
inline void ChangeOneByte(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    struct stat st;
    char c = 0;
    const off_t at = ::fstat(fd, &st) == 0 ? st.st_size / 2 : 0;
    if (::pread(fd, &c, 1, at) != 1 || (c = char(~c), ::pwrite(fd, &c, 1, at)) != 1) {
        ::close(fd);
        throw std::runtime_error("cannot change " + path);
    }
    ::close(fd);
}

} // namespace bench
