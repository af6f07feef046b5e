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

    Ref<FolderItem> GetSaveFolderItem(
        const Ref<FolderItem> &initialFolder, const std::string &defaultName) override
    {
        QFileDialog dialog;
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        if (initialFolder)
            dialog.setDirectory(Q(initialFolder->NativePath()));
        dialog.selectFile(Q(defaultName));
        if (RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return nullptr;
        return FolderItem::FromNativePath(dialog.selectedFiles().front().toStdString());
    }

    int MessageDialog(const std::string &message, const std::string &explanation,
        const std::vector<std::string> &buttons) override
    {
        QMessageBox box;
        box.setText(Q(message));
        box.setInformativeText(Q(explanation));
        std::vector<QAbstractButton *> made;
        for (std::size_t i = 0; i < buttons.size(); ++i)
            made.push_back(box.addButton(
                Q(buttons[i]), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
        if (made.empty())
            made.push_back(box.addButton(QMessageBox::Ok));
        RunModal(box);
        for (std::size_t i = 0; i < made.size(); ++i)
            if (box.clickedButton() == made[i])
                return int(i);
        return int(made.size()) - 1;
    }
};

} // namespace

void detail::InstallQtDialogs() { SetDefaultDialogProvider(std::make_shared<QtDialogs>()); }

} // namespace platform
