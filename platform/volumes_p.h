#pragma once

#include <string>

namespace platform::Volumes {

/// True when a kernel or memory file system (proc, sysfs, tmpfs, ...) is mounted exactly at
/// the absolute, normalised Linux path `posixPath`.
bool IsKernelMountPoint(const std::string &posixPath);

} // namespace platform::Volumes
