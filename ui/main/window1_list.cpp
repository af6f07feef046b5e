#include "ui/main/window1.h"

#include <cstdint>
#include <string>

#include "core/filetypes.h"
#include "core/globals.h"
#include "platform/database.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/thread.h"

using namespace platform;

namespace {

constexpr int kExemptColumn = 3;
constexpr const char *kUpdateFailed = "Unable to update database record.";

/// What became of a request to store a row's exempt flag.
enum class Stored {
    Yes,
    /// The list row has no catalogue row to carry the flag: nothing was written.
    NoRow,
    /// The catalogue could not take the flag: whatever was written is rolled back.
    Failed,
};

/// Stores `exempt` as the flag of the catalogue row of the list's row `row` and commits it. That
/// row is the one with the row's own idx (cell tag 0), not the first of its name: files of one
/// name in two folders keep their own flags. It must also carry the row's resource (cell 1),
/// which only a file's row has: an ancestor-folder row has no flag to change.
Stored StoreExempt(const Listbox &list, int row, bool exempt)
{
    const auto idx = list.CellTag(row, 0).As<int32_t>();
    // The idx stands quoted, so that every row's select is one prepared statement.
    const Ref<RecordSet> rs
        = Globals::g_DB->SQLSelect("SELECT exempt FROM fileinfo WHERE idx = '" + std::to_string(idx)
            + "' AND resource = '" + Globals::SQLizeText(list.Cell(row, 1)) + "';");
    if (!rs)
        return Stored::Failed;
    if (rs->EOF_()) {
        rs->Close();
        return Stored::NoRow;
    }
    rs->Edit();
    rs->Field("exempt")->SetBooleanValue(exempt);
    rs->Update();
    rs->Close();
    if (Globals::g_DB->Error()) {
        Globals::g_DB->Rollback();
        return Stored::Failed;
    }
    Globals::g_DB->Commit();
    return Stored::Yes;
}

} // namespace

void Window1::lstFiles_Open()
{
    CatchAll("winMain.Controls.lstFiles.Open",
        [this] { lstFiles->AcceptFileDrop(*FileTypes::pSpecialAny); });
}

void Window1::lstFiles_Change()
{
    CatchAll("winMain.Controls.lstFiles.Change", [this] {
        const bool e = lstFiles->SelCount() > 0;
        btnExempt->SetEnabled(e);
        btnUnexempt->SetEnabled(e);
        btnValidate->SetEnabled(e);
    });
}

void Window1::lstFiles_CellAction(int32_t row, int32_t column)
{
    if (column != kExemptColumn)
        return;
    // The box already shows the user's click.
    const bool exempt = lstFiles->CellCheck(row, kExemptColumn);
    const Stored stored = StoreExempt(*lstFiles, row, exempt);
    if (stored == Stored::Yes)
        return;
    // The box shows what the catalogue holds, never a flag it did not take.
    lstFiles->SetCellCheck(row, kExemptColumn, !exempt);
    if (stored == Stored::Failed)
        MsgBox(kUpdateFailed);
}

void Window1::btnExempt_Action()
{
    CatchAll("winMain.Controls.btnExempt.Action", [this] { ToggleSelected(true); });
}

void Window1::btnUnexempt_Action()
{
    CatchAll("winMain.Controls.btnUnexempt.Action", [this] { ToggleSelected(false); });
}

void Window1::ToggleSelected(bool exempt)
{
    CatchAll("winMain.Methods.ToggleSelected", [this, exempt] {
        if (lstFiles->SelCount() == 0)
            return;
        bool failed = false;
        // A scan or the loader may run at every yield; the loop visits the rows counted now.
        const int n = lstFiles->ListCount();
        for (int i = 0; i < n; ++i) {
            if (lstFiles->Selected(i)) {
                const bool before = lstFiles->CellCheck(i, kExemptColumn);
                lstFiles->SetCellCheck(i, kExemptColumn, exempt);
                const Stored stored = StoreExempt(*lstFiles, i, exempt);
                if (stored != Stored::Yes)
                    lstFiles->SetCellCheck(i, kExemptColumn, before);
                failed = failed || stored == Stored::Failed;
            }
            Yield();
        }
        // Once per press, however many rows failed.
        if (failed)
            MsgBox(kUpdateFailed);
    });
}

bool Window1::lstFiles_CellBackgroundPaint(Graphics &g, int32_t row, int32_t)
{
    CatchAll("winMain.Controls.lstFiles.CellBackgroundPaint", [&g, row] {
        const int w = g.Width();
        const int h = g.Height();
        g.ForeColor = row % 2 == 0 ? RGB(255, 255, 255) : RGB(237, 243, 254);
        g.FillRect(0, 0, w, h);
        g.ForeColor = RGB(230, 230, 230);
        g.DrawLine(w - 1, 0, w - 1, h);
        g.DrawLine(0, h - 1, w, h - 1);
    });
    return false;
}

bool Window1::lstFiles_CellClick(int32_t row, int32_t, int32_t, int32_t)
{
    const Ref<FolderItem> f = GetFolderItem(lstFiles->RowTag(row).As<std::string>(), /*mode=*/0);
    if (f && f->Exists()) {
        FileName->SetText("File Name: " + f->DisplayName());
        Location->SetText("Location: " + f->AbsolutePath());
        Location->SetHelpTag(f->AbsolutePath());
        Created->SetText("Created On: " + f->CreationDate().SQLDateTime());
        Modified->SetText(" Last Modified On: " + f->ModificationDate().SQLDateTime());
    }
    MyRow = row;
    // The list goes on with the click: the selection, the check box.
    return false;
}
