#include "diagnostics/windebug.h"

#include "platform/clipboard.h"
#include "platform/date.h"
#include "platform/folderitem.h"

using namespace platform;

Ref<winDebug> winDebug_() { return OpenOrMakeWindow<winDebug>(); }

void winDebug::Layout()
{
    SetTitle("Message Log");
    SetSize(448, 292);
    SetMinimumSize(64, 64);
    SetMaximumSize(32000, 32000);
    SetFrame(Frame::Floating);
    SetPlacement(Placement::ParentScreen);
}

void winDebug::CreateControls() { CreateControls0_(); }

void winDebug::CreateControls0_()
{
    btnClose = New<PushButton>();
    AddControl("btnClose", btnClose);
    btnClose->SetBounds(359, 252, 69, 20);
    btnClose->SetLocks(false, false, true, true);
    btnClose->SetCaption("Close");
    btnClose->SetTextSize(12);
    btnClose->SetTabIndex(0);
    btnClose->Action = [this] { btnClose_Action(); };

    btnCopy = New<PushButton>();
    AddControl("btnCopy", btnCopy);
    btnCopy->SetBounds(278, 252, 69, 20);
    btnCopy->SetLocks(false, false, true, true);
    btnCopy->SetCaption("Copy");
    btnCopy->SetEnabled(false);
    btnCopy->SetTabIndex(1);
    btnCopy->Action = [this] { btnCopy_Action(); };

    txtLog = New<EditField>();
    AddControl("txtLog", txtLog);
    txtLog->SetBounds(20, 14, 408, 226);
    txtLog->SetLocks(true, true, true, true);
    txtLog->SetTextFont("Verdana");
    txtLog->SetTextSize(10);
    txtLog->SetTabIndex(2);
    txtLog->SelChange = [this] { txtLog_SelChange(); };
}

void winDebug::AddMenuHandlers()
{
    AddMenuHandler("EditCopy", [this] { return EditCopy_Action_(); });
}

void winDebug::Append(const std::string &report)
{
    std::string entry = Date().SQLDateTime() + ": " + report;
    if (txtLog->Length() > 0)
        entry = std::string(EndOfLine) + EndOfLine + entry;
    txtLog->SetSelStart(txtLog->Length());
    txtLog->SetSelLength(0);
    txtLog->SetSelText(entry);
}

void winDebug::txtLog_SelChange() { btnCopy->SetEnabled(txtLog->SelLength() > 0); }

void winDebug::btnCopy_Action()
{
    Clipboard clipboard;
    clipboard.SetText(txtLog->SelText());
}

void winDebug::btnClose_Action() { Close(); }

// The window does not claim Edit > Copy: declining lets the framework's standard copy apply.
bool winDebug::EditCopy_Action_() { return false; }
