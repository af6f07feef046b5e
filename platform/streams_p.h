#pragma once

// How the framework opens a file for reading, shared by the streams and the picture reader.

#include <cstdint>
#include <string>

namespace platform::detail {

/// A descriptor for reading the regular file at `path`, or -1. Anything but a regular file is
/// refused before it is opened, and the open never blocks (a FIFO swapped in meanwhile is
/// refused too). `size`, when given, receives the file's size at the open.
int OpenForReading(const std::string &path, int64_t *size = nullptr);
/// The same, for a path just seen to be a regular file: only the checks after the open are made.
int OpenRegularForReading(const std::string &path, int64_t *size = nullptr);

} // namespace platform::detail
