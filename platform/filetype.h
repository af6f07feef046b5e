#pragma once

#include <string>
#include <vector>

namespace platform {

/// A kind of file the program names: for drops and dialogs.
class FileType
{
public:
    std::string Name;
    std::vector<std::string> Extensions;
    std::string MacType;
    std::string MacCreator;
};

/// A key-value table of the framework's.
class Dictionary;

} // namespace platform
