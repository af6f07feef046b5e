#pragma once

#include "platform/ref.h"
#include "platform/window.h"

/// The main window.
class Window1 : public platform::Window
{
protected:
    void Layout() override;
    void Event_Open() override;
    void Event_Close() override;
};

/// The one main window, made on first use (and made anew after it has been closed).
platform::Ref<Window1> Window1_();

/// Drops the accessor's reference at the end of the run.
void ReleaseMainWindow();
