#include "app/startup.h"
#include "diagnostics/debugglobals.h"
#include "platform/application.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (!platform::DisplayAvailable()) {
        std::fprintf(stderr,
            "Tallowmere needs a graphical display, and none was found (DISPLAY and "
            "WAYLAND_DISPLAY are unset).\n"
            "Run it on a desktop session, or under a virtual display:\n"
            "    xvfb-run -a %s\n",
            argc > 0 ? argv[0] : "tallowmere");
        return 1;
    }
    // Every catch-all handler of the program reports through the diagnostics sink.
    DebugGlobals::InstallAsReporter();
    return Main_(argc, argv);
}
