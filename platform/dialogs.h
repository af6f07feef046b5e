#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <deque>
#include <memory>
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

/// One interface for every dialog: Qt's in the program, a scripted one in tests. Called from a
/// cooperative thread, the dialog suspends only that thread; the GUI and other threads go on.
class DialogProvider
{
public:
    virtual ~DialogProvider() = default;
    /// Shows `text` with an OK button and waits for it.
    virtual void MsgBox(const std::string &text) = 0;
    /// Nil when the user cancels.
    virtual Ref<FolderItem> SelectFolder(const std::string &prompt) = 0;
    /// Nil when the user cancels. `initialFolder` may be nil.
    virtual Ref<FolderItem> GetSaveFolderItem(
        const Ref<FolderItem> &initialFolder, const std::string &defaultName)
        = 0;
    /// A message with an explanation and buttons; returns the index of the button pressed.
    virtual int MessageDialog(const std::string &message, const std::string &explanation,
        const std::vector<std::string> &buttons)
        = 0;
};

/// Replaces the dialog layer (nullptr restores Qt's).
void SetDialogProvider(std::shared_ptr<DialogProvider> provider);
DialogProvider &Dialogs();

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

/// Shorthands for the current dialog layer.
void MsgBox(const std::string &text);
Ref<FolderItem> SelectFolder(const std::string &prompt = "");

} // namespace platform
