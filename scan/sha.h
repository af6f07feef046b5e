#pragma once

#include "platform/filelist.h"
#include "platform/folderitem.h"
#include "platform/ref.h"

#include <string>

/// The data-fork digest text: HMAC-SHA-256 of the whole data fork keyed with the display name,
/// as 64 upper-case hex digits; "" when the data fork cannot be opened or read. Yields after
/// every piece it feeds, so other threads run while a large file is digested. The scan and the
/// main window's re-check of a row both digest through it, so their texts always compare.
std::string DataForkSHA(const platform::Ref<platform::FolderItem> &f);

/// The same digest of a file that a listing's work done ahead reads (see FileListMBS::WorkAhead).
/// It never yields: it runs on a worker thread of the system.
std::string DataForkSHAAhead(platform::FileListMBS::AheadFile &file);
