#include "app/startup.h"
#include "diagnostics/debugglobals.h"
#include "platform/application.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    // Qt aborts when it finds no display, or cannot reach the one it was given.
    if (const std::string problem = platform::DisplayProblem(); !problem.empty()) {
        std::fprintf(stderr,
            "Tallowmere needs a graphical display, and %s.\n"
            "Run it on a desktop session, or under a virtual display:\n"
            "    xvfb-run -a %s\n",
            problem.c_str(), argc > 0 ? argv[0] : "tallowmere");
        return 1;
    }
    // Every catch-all handler of the program reports through the diagnostics sink.
    DebugGlobals::InstallAsReporter();
    return Main_(argc, argv);
}
