#pragma once

#include "platform/controls.h"
#include "platform/date.h"
#include "platform/folderitem.h"
#include "platform/ref.h"
#include "platform/resourcefork.h"
#include "platform/thread.h"
#include "scan/maincontrols.h"

#include <cstdint>
#include <string>

/// The scan worker: one cooperative thread per scan, never reused, so every scan starts from the
/// initial values. The starter sets `folder` and calls Run; the thread walks the folder tree,
/// stores a catalogue row for every new file, compares the fresh digests with the catalogue and
/// has the main list and the stored snapshot reloaded.
class Loadthread : public platform::Thread
{
public:
    /// The root of the scan.
    platform::Ref<platform::FolderItem> folder;
    /// The name of the last file digested.
    std::string s;
    /// The colon path of the folder that held the last file digested (it ends with ":").
    std::string p;
    /// The last checksum text computed: a data-fork digest or a resource CRC-32 text.
    std::string iCRC;

    /// Compares the fresh snapshot with the catalogue and raises a warnings window for every
    /// changed file that is not exempt. One comparison runs at a time: a later one waits,
    /// yielding, then takes every record then in NewFiles and compares those; records appended
    /// meanwhile stay for the next comparison. While scans run side by side, a file is warned
    /// once, however many of them digested it.
    void CompareData();

    /// The reference's absolute path up to, and not including, its last ":"; "" for nil.
    std::string SplitPath(const platform::Ref<platform::FolderItem> &f) const;

protected:
    /// Walks `folder` depth first, then writes the final status, brings the arrow cursor back,
    /// compares (when a stored snapshot is loaded) and has the catalogue reloaded. A scan that
    /// ends through an exception is reported as unhandled and brings the arrow cursor back too.
    void Event_Run() override;

    /// Walks the folder `f` (its files judged by `f`) and, recursively, every folder below it.
    void LoadFolderMBS(const platform::Ref<platform::FolderItem> &f);

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

    /// The data-fork digest text of `f` (DataForkSHA in scan/sha.h).
    std::string SHA(const platform::Ref<platform::FolderItem> &f) const;

private:
    /// The end-of-walk steps: final status, arrow cursor, comparison, reload.
    void EndOfWalk();

    // The status lines, written for every file.
    MainControl<platform::StaticText> m_StaticText1 { "StaticText1" };
    MainControl<platform::StaticText> m_StaticText2 { "StaticText2" };
};
