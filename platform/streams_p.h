#pragma once

// How the framework opens a file for reading, shared by the streams and the picture reader.

#include <string>

namespace platform::detail {

/// A descriptor for reading the regular file at `path`, or -1. Anything but a regular file is
/// refused before it is opened, and the open never blocks (a FIFO swapped in meanwhile is
/// refused too).
int OpenForReading(const std::string &path);

} // namespace platform::detail
