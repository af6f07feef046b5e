#include "platform/dialogs.h"

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

std::shared_ptr<DialogProvider> g_provider;

} // namespace

void SetDialogProvider(std::shared_ptr<DialogProvider> provider)
{
    g_provider = std::move(provider);
}

DialogProvider &Dialogs()
{
    if (!g_provider)
        g_provider = std::make_shared<QtDialogs>();
    return *g_provider;
}

void ScriptedDialogs::MsgBox(const std::string &text) { shown.push_back({ "MsgBox", text, {} }); }

Ref<FolderItem> ScriptedDialogs::SelectFolder(const std::string &prompt)
{
    shown.push_back({ "SelectFolder", prompt, {} });
    if (folderAnswers.empty())
        return nullptr;
    auto answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

Ref<FolderItem> ScriptedDialogs::GetSaveFolderItem(
    const Ref<FolderItem> &initialFolder, const std::string &defaultName)
{
    shown.push_back({ "SaveFile", initialFolder ? initialFolder->NativePath() : "", defaultName });
    if (saveAnswers.empty())
        return nullptr;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

int ScriptedDialogs::MessageDialog(
    const std::string &message, const std::string &explanation, const std::vector<std::string> &)
{
    shown.push_back({ "MessageDialog", message, explanation });
    if (buttonAnswers.empty())
        return 0;
    const int answer = buttonAnswers.front();
    buttonAnswers.pop_front();
    return answer;
}

std::vector<std::string> ScriptedDialogs::Messages() const
{
    std::vector<std::string> out;
    for (const auto &d : shown)
        if (d.kind == "MsgBox")
            out.push_back(d.text);
    return out;
}

void MsgBox(const std::string &text) { Dialogs().MsgBox(text); }

Ref<FolderItem> SelectFolder(const std::string &prompt) { return Dialogs().SelectFolder(prompt); }

} // namespace platform
