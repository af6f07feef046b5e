#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <cstdint>
#include <string>

// Two distinct classes with one layout: the stored and the fresh snapshot must never be mixed up.

/// One catalogue row of the stored snapshot, made by the catalogue loader.
class TheOldFiles
{
public:
    std::string Path; ///< fileinfo.fullpath
    std::string CRC; ///< fileinfo.crc
    int32_t MyID = 0; ///< fileinfo.idx
    std::string name; ///< fileinfo.name
    platform::Ref<platform::FolderItem> f; ///< made from Path, whether or not the file exists
};

/// One file digested by a scan, made by the folder walk.
class TheNewFiles
{
public:
    std::string Path; ///< the file's colon path
    std::string CRC; ///< the digest text, "" when the file could not be read
    int32_t MyID = 0; ///< the scan's running count at the file
    std::string name; ///< the entry's name as the listing gives it
    platform::Ref<platform::FolderItem> f; ///< the listed entry itself
};
