#pragma once

#include <cstdint>
#include <string>

namespace platform::applefork {

/// The AppleDouble sidecar that holds the Mac metadata of the item at `posixPath`: "._name" in
/// the same folder; empty for the root.
std::string SidecarPath(const std::string &posixPath);

/// True when `name` inside the open folder `dirFd` is a regular file that starts with an
/// AppleDouble header (magic 0x00051607, version 0x00020000). Never blocks on a FIFO.
bool IsAppleDoubleFile(int dirFd, const char *name);

struct Fork
{
    int64_t length = 0; // 0 when there is no fork
    std::string bytes; // the whole fork when asked for (and not larger than kMaxReadSize)
    bool complete = false; // bytes holds the whole fork
};

/// Forks larger than this are reported by length but not read.
inline constexpr int64_t kMaxReadSize = int64_t(256) << 20;

/// The resource fork of the regular file at `posixPath`, which the caller has seen to be one (a
/// symbolic link has none): entry 2 of its AppleDouble sidecar, where `lookForSidecar`, else the
/// attribute user.com.apple.ResourceFork, else user.org.netatalk.ResourceFork; the first that
/// holds a fork wins. The empty placeholder fork macOS writes counts as none. The bytes are read
/// when `read` is true.
Fork FindForkOfRegularFile(const std::string &posixPath, bool read, bool lookForSidecar = true);

/// True for the empty fork macOS writes into AppleDouble files: 286 bytes, tagged "This
/// resource fork intentionally left blank", a map without types.
bool IsBlankPlaceholder(const std::string &fork);

} // namespace platform::applefork
