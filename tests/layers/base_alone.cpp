// Linked with every object of the framework's base and nothing of the widgets library: that it
// links at all shows the base calls nothing there. It fails when Qt Gui or Qt Widgets came in
// all the same, as a library the base's own libraries load.

#include <cstdio>
#include <fstream>
#include <string>

int main()
{
    std::ifstream maps("/proc/self/maps");
    int faults = 0;
    for (std::string line; std::getline(maps, line);) {
        if (line.find("libQt6Gui") != std::string::npos
            || line.find("libQt6Widgets") != std::string::npos) {
            std::fprintf(stderr, "loaded: %s\n", line.c_str());
            ++faults;
        }
    }
    return faults == 0 ? 0 : 1;
}
