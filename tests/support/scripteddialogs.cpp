#include "tests/support/scripteddialogs.h"

namespace platform {

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

} // namespace platform
