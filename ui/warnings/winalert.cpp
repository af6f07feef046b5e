#include "ui/warnings/winalert.h"

#include "platform/exceptions.h"

using namespace platform;

void winAlert::Layout()
{
    SetTitle("Corruption Warnings");
    SetSize(530, 300);
    SetMinimumSize(530, 150);
    SetMaximumSize(32000, 32000);
    SetFrame(Frame::Document);
    SetTitleBarButtons(/*close=*/true, /*minimize=*/false, /*maximize=*/false);
    SetPlacement(Placement::MainScreen);
    SetVisible(false); // SendAlert shows it
}

void winAlert::CreateControls() { CreateControls0_(); }

namespace {

/// A button of the row below the list: 162 × 20 at the window's bottom, in the system font,
/// locked to the bottom and to the right edge or the left one.
Ref<PushButton> AddButton(
    Window &w, const char *name, const char *caption, int left, bool lockRight, int tabIndex)
{
    auto button = New<PushButton>();
    w.AddControl(name, button);
    button->SetBounds(left, 270, 162, 20);
    button->SetLocks(!lockRight, false, lockRight, true);
    button->SetTabIndex(tabIndex);
    button->SetCaption(caption);
    return button;
}

} // namespace

void winAlert::CreateControls0_()
{
    AlertList = New<Listbox>();
    AddControl("AlertList", AlertList);
    AlertList->SetBounds(10, 10, 510, 248);
    AlertList->SetLocks(true, true, true, true);
    AlertList->SetTabIndex(0);
    AlertList->SetColumnCount(5);
    AlertList->SetHasHeading(true);
    AlertList->SetHierarchical(true);
    AlertList->SetSelectionType(1);
    AlertList->SetTextFont("SmallSystem");
    AlertList->CellBackgroundPaint = [this](Graphics &g, int row, int column) {
        return AlertList_CellBackgroundPaint(g, row, column);
    };
    AlertList->DoubleClick = [this] { AlertList_DoubleClick(); };
    AlertList->Change = [this] { AlertList_Change(); };

    btnExport = AddButton(*this, "btnExport", "Export List...", 358, /*lockRight=*/true, 1);
    btnExport->Action = [this] { btnExport_Action(); };

    btnAccept = AddButton(*this, "btnAccept", "Update Checksum", 10, /*lockRight=*/false, 2);
    btnAccept->SetEnabled(false);
    btnAccept->Action = [this] { btnAccept_Action(); };

    // Locked left, and moved back to the middle by HandleResize on every resize.
    btnExempt = AddButton(*this, "btnExempt", "Exempt From Warning", 184, /*lockRight=*/false, 3);
    btnExempt->SetEnabled(false);
    btnExempt->Action = [this] { btnExempt_Action(); };
}

bool winAlert::AlertList_CellBackgroundPaint(Graphics &g, int32_t row, int32_t)
{
    CatchAll("winAlert.Controls.lstFiles.CellBackgroundPaint", [&] {
        // White and a pale blue by turns, also on the empty positions below the last row.
        g.ForeColor = row % 2 == 0 ? RGB(0xFF, 0xFF, 0xFF) : RGB(0xED, 0xF3, 0xFE);
        g.FillRect(0, 0, g.Width(), g.Height());
        g.ForeColor = RGB(230, 230, 230);
        g.DrawLine(g.Width() - 1, 0, g.Width() - 1, g.Height());
        g.DrawLine(0, g.Height() - 1, g.Width(), g.Height() - 1);
    });
    return false; // the list still draws the selection and the text
}

void winAlert::AlertList_Change()
{
    CatchAll("winAlert.Controls.lstFiles.Change", [&] {
        const bool any = AlertList->SelCount() > 0;
        btnAccept->SetEnabled(any);
        btnExempt->SetEnabled(any);
    });
}

void winAlert::Event_Open()
{
    CatchAll("winAlert.Events.Open", [&] {
        AlertList->DeleteAllRows();
        AlertList->SetHeading(0, "File Name");
        AlertList->SetHeading(1, "Path");
        AlertList->SetHeading(2, "Resource");
        AlertList->SetHeading(3, "Last Calc");
        AlertList->SetHeading(4, "Current Calc");
        AlertList->SetColumnWidths("*, 75, 75, 75,75");
    });
}

void winAlert::Event_Resized()
{
    CatchAll("winAlert.Events.Resized", [&] { HandleResize(); });
}

void winAlert::Event_Resizing()
{
    CatchAll("winAlert.Events.Resizing", [&] { HandleResize(); });
}

void winAlert::SendAlert(const std::string &name, const std::string &resource,
    const std::string &lastCalc, const std::string &currentCalc, const std::string &fullPath,
    int32_t idx)
{
    CatchAll("winAlert.Methods.SendAlert", [&] {
        Show();
        AlertList->AddRow(name);
        const int row = AlertList->LastIndex();
        AlertList->SetCell(row, 1, fullPath);
        AlertList->SetCell(row, 2, resource);
        AlertList->SetCell(row, 3, lastCalc);
        AlertList->SetCell(row, 4, currentCalc);
        AlertList->SetCellTag(row, 0, fullPath);
        AlertList->SetCellTag(row, 1, idx);
    });
}

void winAlert::HandleResize()
{
    CatchAll("winAlert.Methods.HandleResize",
        [&] { btnExempt->SetLeft(Width() / 2 - btnExempt->Width() / 2); });
}
