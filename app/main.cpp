#include "core/startup.h"
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
    return Main_(argc, argv);
}
