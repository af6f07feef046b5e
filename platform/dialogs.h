#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

/// A save dialog as the program sets it up. Empty texts leave the toolkit's own.
struct SaveAsDialog
{
    std::string Title;
    /// The line above the file name, saying what is being saved.
    std::string PromptText;
    /// The caption of the button that accepts the file.
    std::string ActionButtonCaption;
    /// May be nil.
    Ref<FolderItem> InitialFolder;
    std::string SuggestedFileName;
};

/// One button of a message dialog.
struct MessageDialogButton
{
    std::string Caption;
    bool Visible = true;
};

/// A message dialog with up to three buttons: the action button is the default one, the cancel
/// button answers Escape.
struct MessageDialogBox
{
    std::string Title;
    std::string Message;
    std::string Explanation;
    /// 0 none, 1 note, 2 caution, 3 question, 4 stop.
    int Icon = 0;
    MessageDialogButton ActionButton { "OK", true };
    MessageDialogButton AlternateActionButton { "Don't Save", false };
    MessageDialogButton CancelButton { "Cancel", false };
};

/// Which button closed a message dialog.
enum class DialogAnswer { Action, AlternateAction, Cancel };

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
    /// Nil when the user cancels.
    virtual Ref<FolderItem> GetSaveFolderItem(const SaveAsDialog &dialog) = 0;
    /// Shows the box and waits for one of its visible buttons; closing it otherwise is Cancel.
    virtual DialogAnswer MessageDialog(const MessageDialogBox &box) = 0;
};

/// Replaces the dialog layer; nullptr returns to the framework's own: Qt's dialogs, which the
/// framework's Run installs.
void SetDialogProvider(std::shared_ptr<DialogProvider> provider);
/// The dialog layer in use. Raises NilObjectException when there is none: in a program that never
/// started the framework's widgets and set no layer of its own.
DialogProvider &Dialogs();

/// Shorthands for the current dialog layer.
void MsgBox(const std::string &text);
Ref<FolderItem> SelectFolder(const std::string &prompt = "");

} // namespace platform
