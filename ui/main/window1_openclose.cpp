#include "ui/main/window1.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>

#include "core/app.h"
#include "core/globals.h"
#include "platform/application.h"
#include "platform/debuglog.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "scan/startthread.h"
#include "ui/warnings/winalert.h"

using namespace platform;

namespace {

constexpr const char *kPrefsFileName = "Brindlecove_Prefs";

/// The number a text begins with, as the framework reads a number into a 32-bit integer:
/// leading blanks skipped, an optional sign, then digits up to the first other character;
/// 0 when there are none, saturated at the ends of the range.
int32_t Int32Value(const std::string &text)
{
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return 0;
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+')
        ++i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t(INT32_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

} // namespace

void Window1::AddMenuHandlers()
{
    AddMenuHandler("FileOpenFolder", [this] { return FileOpenFolder_Action_(); });
}

void Window1::Event_Open()
{
    auto loader = New<StartThread>();
    pb->SetVisible(false);
    lstFiles->DeleteAllRows();
    lstFiles->SetHeading(0, "File Name");
    lstFiles->SetHeading(1, "Resource");
    lstFiles->SetHeading(2, "Last SHA_256");
    lstFiles->SetHeading(3, "Exempt");
    lstFiles->SetColumnType(3, Listbox::TypeCheckbox);
    lstFiles->SetColumnWidths("*, 65, 185, 60");
    pb->SetVisible(false);
    Globals::g_winAlert = MakeWindow<winAlert>();
    // Without a catalogue file there is nothing to load; the loader is dropped unrun.
    if (App_().DBExists)
        loader->Run();
}

void Window1::Event_Close()
{
    SaveWindowPrefs();
    Globals::m_dictStored = nullptr;
    Globals::m_dictToSave = nullptr;
    // Only the hidden window waiting for the next warning; shown ones end with the program.
    // Should it ever be missing, the program must still close its catalogue and quit.
    if (Globals::g_winAlert)
        Globals::g_winAlert->Close();
    Globals::g_winAlert = nullptr;
    if (Globals::g_DB) {
        Globals::g_DB->Close();
        Globals::g_DB = nullptr;
    }
    Quit(0);
}

void Window1::SaveWindowPrefs()
{
    CatchAll("winMain.Methods.SaveWindowPrefs", [this] {
        // A missing preferences folder is nil here, and raises.
        const Ref<FolderItem> f = SpecialFolder::Preferences()->Child(kPrefsFileName);
        if (!f)
            return;
        const Ref<TextOutputStream> out = f->CreateTextFile();
        if (!out)
            return;
        const std::pair<const char *, int (Window::*)() const> values[] = {
            { "X", &Window::Left },
            { "Y", &Window::Top },
            { "Width", &Window::Width },
            { "Height", &Window::Height },
        };
        for (const auto &[label, read] : values) {
            const int value = (this->*read)();
            System::DebugLog(std::string("[TLM]: Saving ") + label + " @ " + std::to_string(value));
            out->WriteLine(std::to_string(value));
        }
        out->WriteLine(lstFiles->ColumnWidths());
        out->Close();
    });
}

void Window1::LoadWindowPrefs()
{
    const Ref<FolderItem> folder = SpecialFolder::Preferences();
    if (!folder)
        return;
    const Ref<FolderItem> f = folder->Child(kPrefsFileName);
    if (!f || !f->Exists())
        return;
    const Ref<TextInputStream> in = f->OpenAsTextFile();
    if (!in)
        return;
    const int32_t left = Int32Value(in->ReadLine());
    const int32_t top = Int32Value(in->ReadLine());
    const int32_t width = Int32Value(in->ReadLine());
    const int32_t height = Int32Value(in->ReadLine());
    const std::string widths = in->ReadLine();
    in->Close();

    if (left >= m_iMinLeft)
        SetLeft(left);
    if (top >= m_iMinTop)
        SetTop(top);
    if (width > 0 && int64_t(Left()) + width <= m_iMaxLeft)
        SetSize(width, Height());
    if (height > 0 && int64_t(Top()) + height <= m_iMaxTop)
        SetSize(Width(), height);
    // A file cut short must not take the list's widths away.
    if (!widths.empty())
        lstFiles->SetColumnWidths(widths);
}

void Window1::CalculateScreenSizes()
{
    const int count = ScreenCount();
    for (int i = 0; i < count; ++i) {
        const ScreenArea s = Screen(i);
        const int right = s.Left + s.Width;
        const int bottom = s.Top + s.Height;
        if (i == 0 || s.Left < m_iMinLeft)
            m_iMinLeft = s.Left;
        if (i == 0 || s.Top < m_iMinTop)
            m_iMinTop = s.Top;
        if (i == 0 || right > m_iMaxLeft)
            m_iMaxLeft = right;
        if (i == 0 || bottom > m_iMaxTop)
            m_iMaxTop = bottom;
    }
}
