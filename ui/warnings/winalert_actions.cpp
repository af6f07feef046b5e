// The warning actions: update the stored checksum, exempt the file, export the list, reveal
// the file.

#include "ui/warnings/winalert.h"

#include "core/globals.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "platform/thread.h"
#include "ui/warnings/finderselect.h"

#include <functional>
#include <string>
#include <vector>

using namespace platform;

namespace {

/// A cell the run changed, with the text it had before.
struct ChangedCell
{
    int row;
    int column;
    std::string before;
};

/// Runs `statementFor` (which may change cells of the row, noting them in `changed`) for each
/// selected row, in row order, inside one transaction, with `button` disabled meanwhile and a
/// yield after every row. A statement that failed anywhere in the run rolls the whole run back
/// and puts every changed cell back as it was; so does an exception, after it has been reported,
/// so no transaction is left open to hold every scan's statements waiting.
void RunOverSelectedRows(Listbox &list, PushButton &button, const std::string &tag,
    const std::function<std::string(int row, std::vector<ChangedCell> &changed)> &statementFor)
{
    bool open = false;
    std::vector<ChangedCell> changed;
    auto rollBack = [&] {
        open = false;
        Globals::g_DB->Rollback();
        for (auto c = changed.rbegin(); c != changed.rend(); ++c)
            list.SetCell(c->row, c->column, c->before);
        changed.clear();
    };

    const bool completed = CatchAll(tag, [&] {
        button.SetEnabled(false);
        Database &db = *Globals::g_DB;
        db.SQLExecute("BEGIN TRANSACTION;");
        // Without a transaction every statement would be committed on its own, and no failure
        // could be undone.
        bool failed = db.Error();
        open = !failed;
        for (int i = 0; open && i < list.ListCount(); ++i) {
            if (list.Selected(i)) {
                db.SQLExecute(statementFor(i, changed));
                // Each statement sets the error flag or clears it, so it is read after each.
                failed = failed || db.Error();
            }
            Yield();
        }
        if (failed) {
            if (open)
                rollBack();
            MsgBox("Unable to update database.");
        } else {
            open = false;
            db.Commit();
        }
        button.SetEnabled(true);
    });
    if (!completed)
        CatchAll(tag, [&] {
            if (open)
                rollBack();
            button.SetEnabled(true);
        });
}

/// The idx of the catalogue row that a warning row names.
std::string IdxOf(const Listbox &list, int row)
{
    return std::to_string(list.CellTag(row, 1).As<int32_t>());
}

/// The file a warning row names, made from its full-path tag; nil when the path names none.
Ref<FolderItem> FileOf(const Listbox &list, int row)
{
    return GetFolderItem(list.CellTag(row, 0).As<std::string>(), /*mode=*/0);
}

} // namespace

void winAlert::btnAccept_Action()
{
    Listbox &list = *AlertList;
    RunOverSelectedRows(list, *btnAccept, "winAlert.Controls.btnAccept.Action",
        [&](int row, std::vector<ChangedCell> &changed) {
            const std::string current = list.Cell(row, 4);
            changed.push_back({ row, 3, list.Cell(row, 3) });
            list.SetCell(row, 3, current);
            return "UPDATE fileinfo SET crc = '" + Globals::SQLizeText(current)
                + "' WHERE idx = " + IdxOf(list, row) + ";";
        });
}

void winAlert::btnExempt_Action()
{
    Listbox &list = *AlertList;
    RunOverSelectedRows(list, *btnExempt, "winAlert.Controls.btnExempt.Action",
        [&](int row, std::vector<ChangedCell> &) {
            return "UPDATE fileinfo SET exempt = 1 WHERE idx = " + IdxOf(list, row) + ";";
        });
}

void winAlert::btnExport_Action()
{
    CatchAll("winAlert.Controls.btnExport.Action", [&] {
        SaveAsDialog dialog;
        if (AlertList->ListCount() == 0) {
            MsgBox("There are no items to export.");
            return;
        }
        dialog.ActionButtonCaption = "Select";
        dialog.Title = "Export List";
        dialog.PromptText = "Choose a folder to save the list.";
        dialog.InitialFolder = SpecialFolder::Documents();
        dialog.SuggestedFileName = "Corruption List.tab";
        const Ref<FolderItem> file = Dialogs().GetSaveFolderItem(dialog);
        if (!file)
            return;
        if (file->Exists())
            file->Delete();
        const Ref<TextOutputStream> out = file->CreateTextFile();
        if (!out) {
            MsgBox("Unable to create file in the selected folder.");
            return;
        }
        out->WriteLine("File Name\tResource\tLast CRC\tCurrent CRC");
        for (int i = 0; i < AlertList->ListCount(); ++i) {
            const Ref<FolderItem> f = FileOf(*AlertList, i);
            out->WriteLine((f ? f->AbsolutePath() : AlertList->Cell(i, 0)) + "\t"
                + AlertList->Cell(i, 2) + "\t" + AlertList->Cell(i, 3) + "\t"
                + AlertList->Cell(i, 4));
            Yield();
        }
        // A list cut short (a full disk) must not pass for the whole one.
        if (!out->Close())
            MsgBox("Unable to create file in the selected folder.");
    });
}

void winAlert::AlertList_DoubleClick()
{
    CatchAll("winAlert.Controls.lstFiles.DoubleClick", [&] {
        MessageDialogBox box;
        box.Title = "Reveal File";
        box.Message = "Reveal file?";
        box.Icon = 3; // question
        box.ActionButton = { "&Yes", true };
        box.AlternateActionButton.Visible = false;
        box.CancelButton = { "&No", true };
        if (Dialogs().MessageDialog(box) != DialogAnswer::Action)
            return;
        // With no row selected there is no path: the row look-up raises, and the report says so.
        const Ref<FolderItem> file = FileOf(*AlertList, AlertList->ListIndex());
        if (!file) {
            MsgBox("Unable to display file.");
            return;
        }
        FinderSelect({ file->AbsolutePath() });
    });
}
