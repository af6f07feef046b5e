#include "core/globals.h"

#include "core/filetypes.h"
#include "platform/exceptions.h"

namespace Globals {

platform::Ref<platform::Database> g_DB;
platform::Ref<winAlert> g_winAlert;
std::vector<platform::Ref<TheOldFiles>> OldFiles;
std::vector<platform::Ref<TheNewFiles>> NewFiles;
platform::Ref<platform::Dictionary> m_dictStored;
platform::Ref<platform::Dictionary> m_dictToSave;

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void ReplaceAll(std::string &s, const std::string &from, const std::string &to)
{
    for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
}

} // namespace

std::string SQLizeText(const std::string &s)
{
    std::string out;
    platform::CatchAll("Globals.Methods.SQLizeText", [&] {
        std::size_t begin = 0;
        std::size_t end = s.size();
        while (begin < end && IsBlank(s[begin]))
            ++begin;
        while (end > begin && IsBlank(s[end - 1]))
            --end;
        std::string text = DoubleQuotes(s.substr(begin, end - begin));
        // Texts are UTF-8 throughout the program already; the conversion changes nothing.
        std::erase(text, '\0');
        out = std::move(text);
    });
    return out;
}

std::string DoubleQuotes(const std::string &s)
{
    std::string out = s;
    ReplaceAll(out, "'", "''");
    return out;
}

std::string Escape(const std::string &s)
{
    std::string out = s;
    ReplaceAll(out, "\\", "\\\\");
    ReplaceAll(out, "%", "\\%");
    ReplaceAll(out, "_", "\\_");
    return out;
}

void Initialize()
{
    OldFiles.clear();
    NewFiles.clear();
}

void Finalize()
{
    g_DB = nullptr;
    g_winAlert = nullptr;
    OldFiles.clear();
    m_dictStored = nullptr;
    m_dictToSave = nullptr;
    NewFiles.clear();
    FileTypes::pText = nullptr;
    FileTypes::pSpecialAny = nullptr;
}

} // namespace Globals
