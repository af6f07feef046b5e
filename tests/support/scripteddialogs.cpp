#include "tests/support/scripteddialogs.h"

#include <string>
#include <utility>

namespace platform {

void ScriptedDialogs::MsgBox(const std::string &text)
{
    shown.push_back({ "MsgBox", text, {}, { text } });
}

Ref<FolderItem> ScriptedDialogs::SelectFolder(const std::string &prompt)
{
    shown.push_back({ "SelectFolder", prompt, {}, { prompt } });
    if (folderAnswers.empty())
        return nullptr;
    auto answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

Ref<FolderItem> ScriptedDialogs::GetSaveFolderItem(const SaveAsDialog &d)
{
    const std::string folder = d.InitialFolder ? d.InitialFolder->NativePath() : "";
    shown.push_back({ "SaveFile", folder, d.SuggestedFileName,
        { d.Title, d.PromptText, d.ActionButtonCaption, folder, d.SuggestedFileName } });
    if (saveAnswers.empty())
        return nullptr;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

DialogAnswer ScriptedDialogs::MessageDialog(const MessageDialogBox &d)
{
    DialogRecord record { "MessageDialog", d.Message, d.Explanation,
        { d.Title, d.Message, d.Explanation, std::to_string(d.Icon) } };
    for (const auto *b : { &d.ActionButton, &d.AlternateActionButton, &d.CancelButton })
        if (b->Visible)
            record.texts.push_back(b->Caption);
    shown.push_back(std::move(record));
    if (buttonAnswers.empty())
        return DialogAnswer::Action;
    const DialogAnswer answer = buttonAnswers.front();
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

} // namespace platform
