#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

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
