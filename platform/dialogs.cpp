#include "platform/dialogs.h"

#include "platform/dialogs_p.h"
#include "platform/thread.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include <iterator>

namespace platform {

namespace {

QString Q(const std::string &s) { return QString::fromStdString(s); }

/// Shows `dialog` application-modal and returns its result. On a cooperative thread the dialog
/// is shown without a nested event loop and only that thread waits; a nested loop on a fiber's
/// stack would let two threads' dialogs close only in reverse order. (Not open(): it makes a
/// dialog without a parent window-modal, and so it would block no window at all.) GUI code
/// waits in the dialog's own loop.
int RunModal(QDialog &dialog)
{
    dialog.setWindowModality(Qt::ApplicationModal);
    Thread *thread = CurrentThread();
    if (!thread)
        return dialog.exec();

    bool finished = false;
    int result = 0;
    QObject::connect(&dialog, &QDialog::finished, &dialog, [&, thread](int r) {
        result = r;
        finished = true;
        Scheduler::Wake(thread);
    });
    dialog.show();
    while (!finished)
        Scheduler::Block();
    return result;
}

class QtDialogs : public DialogProvider
{
public:
    void MsgBox(const std::string &text) override
    {
        QMessageBox box;
        box.setWindowTitle(QString());
        box.setText(Q(text));
        box.setStandardButtons(QMessageBox::Ok);
        RunModal(box);
    }

    Ref<FolderItem> SelectFolder(const std::string &prompt) override
    {
        QFileDialog dialog(nullptr, Q(prompt));
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        if (RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return nullptr;
        return FolderItem::FromNativePath(dialog.selectedFiles().front().toStdString());
    }

    Ref<FolderItem> GetSaveFolderItem(const SaveAsDialog &d) override
    {
        QFileDialog dialog;
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        if (!d.Title.empty())
            dialog.setWindowTitle(Q(d.Title));
        if (!d.PromptText.empty())
            dialog.setLabelText(QFileDialog::FileName, Q(d.PromptText));
        if (!d.ActionButtonCaption.empty())
            dialog.setLabelText(QFileDialog::Accept, Q(d.ActionButtonCaption));
        if (d.InitialFolder)
            dialog.setDirectory(Q(d.InitialFolder->NativePath()));
        dialog.selectFile(Q(d.SuggestedFileName));
        if (RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return nullptr;
        return FolderItem::FromNativePath(dialog.selectedFiles().front().toStdString());
    }

    DialogAnswer MessageDialog(const MessageDialogBox &d) override
    {
        QMessageBox box;
        box.setWindowTitle(Q(d.Title));
        box.setText(Q(d.Message));
        box.setInformativeText(Q(d.Explanation));
        static constexpr QMessageBox::Icon kIcons[]
            = { QMessageBox::NoIcon, QMessageBox::Information, QMessageBox::Warning,
                  QMessageBox::Question, QMessageBox::Critical };
        box.setIcon(
            d.Icon >= 0 && d.Icon < int(std::size(kIcons)) ? kIcons[d.Icon] : QMessageBox::NoIcon);
        auto add = [&](const MessageDialogButton &b, QMessageBox::ButtonRole role) {
            return b.Visible ? box.addButton(Q(b.Caption), role) : nullptr;
        };
        QPushButton *action = add(d.ActionButton, QMessageBox::AcceptRole);
        QPushButton *alternate = add(d.AlternateActionButton, QMessageBox::DestructiveRole);
        QPushButton *cancel = add(d.CancelButton, QMessageBox::RejectRole);
        if (action)
            box.setDefaultButton(action);
        if (cancel)
            box.setEscapeButton(cancel);
        RunModal(box);
        if (action && box.clickedButton() == action)
            return DialogAnswer::Action;
        if (alternate && box.clickedButton() == alternate)
            return DialogAnswer::AlternateAction;
        return DialogAnswer::Cancel;
    }
};

} // namespace

void detail::InstallQtDialogs() { SetDefaultDialogProvider(std::make_shared<QtDialogs>()); }

} // namespace platform
