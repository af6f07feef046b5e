#include "platform/application.h"

#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace platform;
using platform::testing::TempFolder;

namespace {

const char *const kVariables[]
    = { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_RUNTIME_DIR" };

/// Sets the display variables of one case (unset unless named) and puts the old ones back.
class DisplayEnvironment
{
public:
    explicit DisplayEnvironment(const std::map<std::string, std::string> &values)
    {
        for (const char *name : kVariables) {
            const char *old = std::getenv(name);
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
            auto it = values.find(name);
            if (it != values.end())
                setenv(name, it->second.c_str(), 1);
            else
                unsetenv(name);
        }
    }
    ~DisplayEnvironment()
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

/// A Unix socket that listens at `path`, as a Wayland compositor's does.
class ListeningSocket
{
public:
    explicit ListeningSocket(const std::string &path)
    {
        m_fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        m_ok = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && listen(m_fd, 4) == 0;
    }
    ~ListeningSocket()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Ok() const { return m_ok; }

private:
    int m_fd = -1;
    bool m_ok = false;
};

} // namespace

TEST(DisplayProblem, DisplaySetButSilent_NamesIt_ReachableOrNotNeeded_Empty)
{
    TempFolder folder;
    ListeningSocket compositor(folder / "wayland-test");
    ASSERT_TRUE(compositor.Ok());
    const std::string silentSocket = folder / "nobody-listens";

    struct Case
    {
        const char *situation;
        std::map<std::string, std::string> env;
        const char *mentions; // nullptr: no problem
    };
    const Case cases[] = {
        { "nothing set", {}, "none was found" },
        { "an X display nobody serves", { { "DISPLAY", ":12345" } },
            "DISPLAY=:12345 does not answer" },
        { "Qt told to use X11, whose display is silent",
            { { "QT_QPA_PLATFORM", "xcb" }, { "DISPLAY", ":12345" } }, "DISPLAY=:12345" },
        { "Qt told to use X11 without a display", { { "QT_QPA_PLATFORM", "xcb" } },
            "DISPLAY is unset" },
        { "a Wayland socket nobody listens on", { { "WAYLAND_DISPLAY", silentSocket } },
            "does not answer" },
        { "a Wayland name without a runtime folder", { { "WAYLAND_DISPLAY", "wayland-test" } },
            "WAYLAND_DISPLAY=wayland-test" },
        { "a Wayland compositor that listens, by path",
            { { "WAYLAND_DISPLAY", folder / "wayland-test" } }, nullptr },
        { "a Wayland compositor that listens, by name in the runtime folder",
            { { "WAYLAND_DISPLAY", "wayland-test" }, { "XDG_RUNTIME_DIR", folder.Path() } },
            nullptr },
        { "a listening compositor while the X display is silent",
            { { "WAYLAND_DISPLAY", folder / "wayland-test" }, { "DISPLAY", ":12345" } }, nullptr },
        { "the offscreen platform", { { "QT_QPA_PLATFORM", "offscreen" } }, nullptr },
        { "a list whose second platform needs no display",
            { { "QT_QPA_PLATFORM", "xcb;offscreen" }, { "DISPLAY", ":12345" } }, nullptr },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.situation);
        std::string problem;
        {
            DisplayEnvironment env(c.env);
            problem = DisplayProblem();
        }
        if (c.mentions)
            EXPECT_NE(problem.find(c.mentions), std::string::npos) << problem;
        else
            EXPECT_EQ(problem, "");
    }
}
