#pragma once

#include "platform/filetype.h"
#include "platform/folderitem.h"
#include "platform/ref.h"

/// The file types the program defines at start-up.
namespace FileTypes {

extern platform::Ref<platform::FileType> pText;
/// The type the main file list accepts for drops.
extern platform::Ref<platform::FileType> pSpecialAny;

/// Makes both types, "text" first.
void Initialize_();

} // namespace FileTypes

/// The row pictures, loaded from Resources/ on first use. A picture that cannot be loaded is not
/// remembered: the next call tries the file again.
platform::Ref<platform::Picture> Folder();
platform::Ref<platform::Picture> Document();
