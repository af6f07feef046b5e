#include "ui/main/window1.h"

#include "core/globals.h"
#include "platform/application.h"

using namespace platform;

namespace {
Ref<Window1> g_window1;
} // namespace

Ref<Window1> Window1_()
{
    if (!g_window1 || g_window1->IsClosed())
        g_window1 = MakeWindow<Window1>();
    return g_window1;
}

void ReleaseMainWindow() { g_window1 = nullptr; }

void Window1::Layout()
{
    SetTitle("Tallowmere");
    SetSize(846, 651);
    SetMinimumSize(846, 651);
    SetMaximumSize(32000, 32000);
    SetFrame(Frame::Document);
    SetPlacement(Placement::MainScreen);
}

void Window1::Event_Open() { }

void Window1::Event_Close()
{
    Globals::m_dictStored = nullptr;
    Globals::m_dictToSave = nullptr;
    if (Globals::g_DB)
        Globals::g_DB->Close();
    Globals::g_DB = nullptr;
    Quit(0);
}
