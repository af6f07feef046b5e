#include "platform/application.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::string Env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

/// Connects to the X server as Qt's xcb platform does, and hangs up at once.
bool X11Answers(const std::string &display)
{
    xcb_connection_t *connection
        = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

/// Connects to the compositor's socket: an absolute name, else a name in XDG_RUNTIME_DIR, as
/// the Wayland client library finds it.
bool WaylandAnswers(const std::string &display)
{
    std::string path = display;
    if (path.empty() || path.front() != '/') {
        const std::string runtime = Env("XDG_RUNTIME_DIR");
        if (runtime.empty())
            return false;
        path = runtime + "/" + path;
    }
    sockaddr_un address {};
    if (path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answers
        = connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

/// The platform plugins Qt will try, in its order: those QT_QPA_PLATFORM names, else Wayland
/// for a Wayland session and X11 where DISPLAY is set.
std::vector<std::string> Candidates()
{
    std::vector<std::string> names;
    const std::string chosen = Env("QT_QPA_PLATFORM");
    if (!chosen.empty()) {
        std::size_t start = 0;
        while (start <= chosen.size()) {
            std::size_t end = chosen.find(';', start);
            if (end == std::string::npos)
                end = chosen.size();
            std::string entry = chosen.substr(start, end - start);
            entry = entry.substr(0, entry.find(':')); // the plugin's options follow a colon
            if (!entry.empty())
                names.push_back(entry);
            start = end + 1;
        }
        return names;
    }
    if (!Env("WAYLAND_DISPLAY").empty() || Env("XDG_SESSION_TYPE") == "wayland")
        names.emplace_back("wayland");
    if (!Env("DISPLAY").empty())
        names.emplace_back("xcb");
    return names;
}

} // namespace

std::string DisplayProblem()
{
    const std::vector<std::string> candidates = Candidates();
    if (candidates.empty())
        return "none was found (DISPLAY and WAYLAND_DISPLAY are unset)";
    std::string silent;
    for (const std::string &name : candidates) {
        std::string what;
        if (name == "xcb") {
            const std::string display = Env("DISPLAY");
            if (X11Answers(display))
                return std::string();
            what = display.empty() ? "DISPLAY is unset" : "DISPLAY=" + display + " does not answer";
        } else if (name.rfind("wayland", 0) == 0) {
            std::string display = Env("WAYLAND_DISPLAY");
            if (display.empty())
                display = "wayland-0"; // the client library's default
            if (WaylandAnswers(display))
                return std::string();
            what = "WAYLAND_DISPLAY=" + display + " does not answer";
        } else {
            // offscreen, vnc, eglfs and the like need no display server of ours to check.
            return std::string();
        }
        silent += (silent.empty() ? "" : "; ") + what;
    }
    return "the one it was given cannot be reached (" + silent + ")";
}

} // namespace platform
