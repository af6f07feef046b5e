#pragma once

// The application's folder of a benchmark that runs the loader, as the program has it.

#include <filesystem>
#include <string>

#include "platform/folderitem.h"

namespace bench {

/// Makes `folder` the application's folder, holding a copy of the program's resources: the
/// loader gives every row the document picture, which it reads from there once. The target
/// defines TLM_RESOURCES_DIR as the source tree's resources folder.
inline void UseApplicationFolder(const std::string &folder)
{
    std::filesystem::create_directories(folder);
    std::filesystem::copy(
        TLM_RESOURCES_DIR, folder + "/Resources", std::filesystem::copy_options::recursive);
    platform::SetApplicationFolder(folder);
}

} // namespace bench
