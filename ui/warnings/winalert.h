#pragma once

#include "platform/controls.h"
#include "platform/graphics.h"
#include "platform/listbox.h"
#include "platform/ref.h"
#include "platform/window.h"

#include <cstdint>
#include <string>

/// A "Corruption Warnings" window: files whose fresh checksum differs from the stored one, one
/// row each.
///
/// Make one with `platform::MakeWindow<winAlert>()`: it comes back built and hidden, its Open
/// event already run (list empty and headed, both selection buttons disabled). Each warning goes
/// to a window of its own: call SendAlert on the hidden window, then make a new one for the next.
class winAlert : public platform::Window
{
public:
    /// Columns "File Name", "Path", "Resource", "Last Calc", "Current Calc"; cell tag 0 of a row
    /// holds the full path (text), cell tag 1 the catalogue row's idx (integer).
    platform::Ref<platform::Listbox> AlertList;
    platform::Ref<platform::PushButton> btnExport;
    platform::Ref<platform::PushButton> btnAccept;
    platform::Ref<platform::PushButton> btnExempt;

    bool AlertList_CellBackgroundPaint(platform::Graphics &g, int32_t row, int32_t column);
    void AlertList_DoubleClick();
    void AlertList_Change();
    void btnExport_Action();
    void btnAccept_Action();
    void btnExempt_Action();

    /// Shows the window (bringing it forward when it is on screen already) and adds one row at
    /// the end of the list, also for a file it lists already. Callable from a cooperative thread;
    /// it never yields and never raises: a fault is reported and the row stays as far as it was
    /// filled.
    void SendAlert(const std::string &name, const std::string &resource,
        const std::string &lastCalc, const std::string &currentCalc, const std::string &fullPath,
        int32_t idx);

protected:
    void Layout() override;
    void CreateControls() override;
    void CreateControls0_();
    void Event_Open() override;
    void Event_Resized() override;
    void Event_Resizing() override;
    /// Keeps the exempt button centred under the list.
    void HandleResize();
};
