#pragma once

#include "platform/thread.h"

#include <string>

/// The catalogue loader: refills the main window's list `lstFiles` from the catalogue, then
/// appends one record per catalogue row to the stored snapshot OldFiles, keeping the scan button
/// disabled meanwhile. Make one with New and Run it; each object runs once.
///
/// One loader runs at a time. A loader started while another runs is queued behind it; one
/// started while another is queued merges into that one and ends at once. A loader made with
/// `emptyOldFiles` (a reload after a scan) replaces OldFiles instead of appending to it: it
/// empties OldFiles right before its snapshot pass; a queued run into which such a loader merged
/// does so too.
class StartThread : public platform::Thread
{
public:
    StartThread() = default;
    explicit StartThread(bool emptyOldFiles)
        : m_emptyOldFiles(emptyOldFiles)
    {
    }

    /// The snapshot pass: appends a TheOldFiles record per catalogue row to OldFiles (emptied
    /// first by a reload).
    void LoadOldFiles();

protected:
    /// Waits for its turn, sleeps 750 ms, then the list pass and the snapshot pass.
    void Event_Run() override;

    /// True unless `name` ends in ".app", ".rtfd" or ".plugin"; false after a reported exception.
    bool DisplayFolderAsFolder(const std::string &name);

private:
    /// The list pass, then the snapshot pass, as one run of the loader.
    void PopulateList();

    bool m_emptyOldFiles = false;
};
