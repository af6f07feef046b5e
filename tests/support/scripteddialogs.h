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
};

/// Answers dialogs from queues and records each one shown. Where a queue is empty, a box is
/// acknowledged, a folder or save dialog is cancelled and a message dialog gives button 0.
class ScriptedDialogs : public DialogProvider
{
public:
    std::vector<DialogRecord> shown;
    std::deque<Ref<FolderItem>> folderAnswers;
    std::deque<Ref<FolderItem>> saveAnswers;
    std::deque<int> buttonAnswers;

    void MsgBox(const std::string &text) override;
    Ref<FolderItem> SelectFolder(const std::string &prompt) override;
    Ref<FolderItem> GetSaveFolderItem(
        const Ref<FolderItem> &initialFolder, const std::string &defaultName) override;
    int MessageDialog(const std::string &message, const std::string &explanation,
        const std::vector<std::string> &buttons) override;

    /// The texts of every MsgBox shown, in order.
    std::vector<std::string> Messages() const;
};

} // namespace platform
