#pragma once

#include "platform/dialogs.h"
#include "platform/folderitem.h"
#include "platform/ref.h"

#include <deque>
#include <string>
#include <vector>

namespace platform {

/// What the program asked the user, as the dialog layer recorded it.
struct DialogRecord
{
    std::string kind; // "MsgBox", "SelectFolder", "SaveFile", "MessageDialog"
    std::string text;
    std::string detail; // explanation, prompt or suggested file name
    /// Every text the dialog showed, in the order of its description's fields: a save dialog's
    /// title, prompt, action caption, initial folder (its Linux path) and suggested name; a
    /// message dialog's title, message, explanation, icon number, then each visible button's
    /// caption (action, alternate, cancel).
    std::vector<std::string> texts;
};

/// Answers dialogs from queues and records each one shown. Where a queue is empty, a box is
/// acknowledged, a folder or save dialog is cancelled and a message dialog gives its action button.
class ScriptedDialogs : public DialogProvider
{
public:
    std::vector<DialogRecord> shown;
    std::deque<Ref<FolderItem>> folderAnswers;
    std::deque<Ref<FolderItem>> saveAnswers;
    std::deque<DialogAnswer> buttonAnswers;

    void MsgBox(const std::string &text) override;
    Ref<FolderItem> SelectFolder(const std::string &prompt) override;
    Ref<FolderItem> GetSaveFolderItem(const SaveAsDialog &dialog) override;
    DialogAnswer MessageDialog(const MessageDialogBox &box) override;

    /// The texts of every MsgBox shown, in order.
    std::vector<std::string> Messages() const;
};

} // namespace platform
