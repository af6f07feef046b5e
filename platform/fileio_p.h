#pragma once

// The system calls every reader of a file in the framework makes the same way: the streams and
// the work a listing has done ahead on its files.

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace platform::detail {

/// openat, asked again while a signal interrupts it; `folderFd` is AT_FDCWD for a plain path.
int OpenRetrying(int folderFd, const char *path, int flags, mode_t mode = 0);

/// Reads until `size` bytes, the end of the file or an error; 0 bytes means one of the last two.
/// A short read that reaches `knownSize` (the file's size, with the read starting at `position`)
/// is the end: asking again would only be told so.
std::size_t ReadFully(int fd, char *buffer, std::size_t size, int64_t position, int64_t knownSize,
    bool &atEnd, bool &error);

} // namespace platform::detail
