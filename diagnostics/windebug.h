#pragma once

#include "platform/controls.h"
#include "platform/ref.h"
#include "platform/window.h"

#include <string>

/// The "Message Log" window: the exception reports of the run, one entry each.
class winDebug : public platform::Window
{
public:
    platform::Ref<platform::PushButton> btnClose;
    platform::Ref<platform::PushButton> btnCopy;
    platform::Ref<platform::EditField> txtLog;

    /// Adds one entry: the date and time, ": ", then `report`; a blank line separates entries.
    void Append(const std::string &report);

    void btnClose_Action();
    void btnCopy_Action();
    void txtLog_SelChange();
    bool EditCopy_Action_();

protected:
    void Layout() override;
    void CreateControls() override;
    void CreateControls0_();
    void AddMenuHandlers() override;
};

/// The open log window, made and shown when there is none.
platform::Ref<winDebug> winDebug_();
