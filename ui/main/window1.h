#pragma once

#include "platform/controls.h"
#include "platform/dragitem.h"
#include "platform/folderitem.h"
#include "platform/graphics.h"
#include "platform/listbox.h"
#include "platform/ref.h"
#include "platform/window.h"

#include <cstdint>

/// The main window: the catalogue list, the status lines and progress bar, the file details and
/// the scan and exempt buttons, under the application's menu bar.
class Window1 : public platform::Window
{
public:
    /// Index of the row last clicked in lstFiles: the row that validation re-checks.
    int32_t MyRow = 0;

    platform::Ref<platform::PushButton> pbMBS;
    platform::Ref<platform::StaticText> StaticText1;
    platform::Ref<platform::ProgressBar> pb;
    platform::Ref<platform::StaticText> StaticText2;
    platform::Ref<platform::PushButton> btnUnexempt;
    platform::Ref<platform::PushButton> btnValidate;
    platform::Ref<platform::PushButton> btnExempt;
    platform::Ref<platform::Listbox> lstFiles;
    platform::Ref<platform::GroupBox> GroupBox1;
    platform::Ref<platform::StaticText> FileName;
    platform::Ref<platform::StaticText> Location;
    platform::Ref<platform::StaticText> Created;
    platform::Ref<platform::StaticText> Modified;

    void pbMBS_Action();
    void btnUnexempt_Action();
    /// Digests the file of row MyRow again and compares it with its catalogue row: a difference
    /// opens a warnings window of its own, an equal checksum is confirmed with a message.
    void btnValidate_Action();
    void btnExempt_Action();
    void lstFiles_DropObject(const platform::Ref<platform::DragItem> &obj, int32_t action);
    void lstFiles_Open();
    void lstFiles_Change();
    void lstFiles_CellAction(int32_t row, int32_t column);
    bool lstFiles_CellBackgroundPaint(platform::Graphics &g, int32_t row, int32_t column);
    bool lstFiles_CellClick(int32_t row, int32_t column, int32_t x, int32_t y);
    /// Starts a scan of the chosen folder, as the button does; answers false either way.
    bool FileOpenFolder_Action_();
    /// One dropped item: its ancestor-folder rows, then a scan of its own.
    void AddFolderItem(const platform::Ref<platform::FolderItem> &f);

protected:
    /// The folder of the last folder dialog (nil after a cancel), handed to the new scan.
    platform::Ref<platform::FolderItem> TheFolder;
    // Screen bounds for restoring the window's position; nothing that runs sets them.
    int32_t m_iMinTop = 0;
    int32_t m_iMinLeft = 0;
    int32_t m_iMaxTop = 0;
    int32_t m_iMaxLeft = 0;
    /// True while a re-check of a row runs: a press meanwhile does nothing.
    bool m_validating = false;

    void Layout() override;
    void CreateControls() override;
    void CreateControls0_();
    void AddMenuHandlers() override;
    void Event_Open() override;
    void Event_Close() override;
    /// Stores a folder row for every folder above `f` that the catalogue lacks, under one drive
    /// row, in one transaction; a failure is shown or reported, never left half stored.
    void ProcessFolders(const platform::Ref<platform::FolderItem> &f);
    /// Sets the exempt flag of every selected row to `exempt`, in the list and in the catalogue,
    /// one commit per row. A row whose catalogue row cannot be changed gets its box back, and a
    /// failed change is told once, after the loop.
    void ToggleSelected(bool exempt);
    /// The smallest left and top and the largest right and bottom edge over all screens, into
    /// m_iMinLeft, m_iMinTop, m_iMaxLeft and m_iMaxTop. Nothing calls it.
    void CalculateScreenSizes();
    /// Applies the preferences file's position, size and column widths within the screen bounds.
    /// Nothing calls it: the window always opens at its design place and size.
    void LoadWindowPrefs();
    /// Writes the window's left, top, width, height and the list's column widths, one a line,
    /// into "Brindlecove_Prefs" in the preferences folder, replacing it.
    void SaveWindowPrefs();
};

/// The one main window: the open one, or a new one when there is none.
platform::Ref<Window1> Window1_();
