#pragma once

#include "platform/date.h"
#include "platform/folderitem.h"
#include "platform/ref.h"
#include "platform/resourcefork.h"
#include "platform/thread.h"

#include <cstdint>
#include <string>

/// The scan worker: one cooperative thread per scan, never reused, so every scan starts from the
/// initial values. The thread body (the folder walk) is still to come: until then the class is
/// abstract and Event_Run is the one inherited from Thread.
class Loadthread : public platform::Thread
{
protected:
    /// The scan's running count: one more per digested file and per resource read.
    int32_t t = 0;
    /// The joined data of the resources of the type last checksummed.
    std::string sResource;

    /// Makes sure `fileinfo` holds a row for `path`: a path without a row gets one, committed by
    /// itself, with `crc` as its baseline; a stored row is left alone. A failed insert shows the
    /// "Database Error" box and adds no row; any exception is reported and swallowed.
    void AddData(const platform::Date &date, const std::string &crc, const std::string &path,
        const std::string &name, int32_t count) const;

    /// The CRC-32 text (8 upper-case hex digits) of the data of every resource of `type` in
    /// `fork`, joined in index order; adds 1 to `t` per resource read and leaves the joined data
    /// in `sResource`. "" after a reported exception.
    std::string CalculateResourceFork(
        const platform::Ref<platform::ResourceFork> &fork, const std::string &type);

    /// False for a file the scan leaves alone: nil, missing, a link, or a name of the system's or
    /// of our own catalogue. Reports any exception and answers False.
    bool ProcessPrivateFileOK(const platform::Ref<platform::FolderItem> &f) const;
    /// False for a folder whose own plain files the scan leaves alone: nil, missing, a link, not
    /// a folder, a trash, a cache or "Volumes". Reports any exception and answers False.
    bool ProcessPrivateFolderOK(const platform::Ref<platform::FolderItem> &f) const;

    /// The data-fork digest text: HMAC-SHA-256 of the whole data fork keyed with the display
    /// name, as 64 upper-case hex digits; "" when the data fork cannot be opened or read.
    /// Yields after every piece it feeds, so other threads run while a large file is digested.
    std::string SHA(const platform::Ref<platform::FolderItem> &f) const;
};
