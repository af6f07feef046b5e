// The reveal script the application ships, run as FinderSelect runs it, against a private session
// bus: with a stand-in file manager on it, and without one.

#include "ui/warnings/finderselect.h"

#include "platform/application.h"
#include "platform/folderitem.h"
#include "tests/support/testsupport.h"
#include "tests/ui_warnings/scriptfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace platform;
using platform::testing::ReadFile;
using platform::testing::TempFolder;
using platform::testing::WriteFile;

namespace {

constexpr int kWaitMs = 10000;

/// The file URI of a Linux path: every byte but the unreserved ones and "/" as %XX.
std::string FileUri(const std::string &path)
{
    std::string uri = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) && c < 0x80)
            uri += char(c);
        else if (c == '-' || c == '.' || c == '_' || c == '~' || c == '/')
            uri += char(c);
        else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            uri += hex;
        }
    }
    return uri;
}

/// An environment variable set for the object's life, then given back its old value.
class ScopedEnv
{
public:
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    ScopedEnv(const char *name, const std::string &value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        m_had = std::getenv(name) != nullptr;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char *m_name;
    std::string m_old;
    bool m_had = false;
};

/// Waits, turning the event loop, until the file at `path` holds at least `lines` lines.
std::vector<std::string> AwaitLines(const std::string &path, std::size_t lines)
{
    std::vector<std::string> out;
    ProcessEventsUntil(
        [&] {
            out.clear();
            if (!std::filesystem::exists(path))
                return false;
            std::string text = ReadFile(path);
            for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
                 at = end + 1)
                out.push_back(text.substr(at, end - at));
            return out.size() >= lines;
        },
        kWaitMs);
    return out;
}

class RevealScriptTest : public ::testing::Test
{
protected:
    TempFolder tmp;
    ScriptFolder folder;

    void SetUp() override
    {
        folder.SetScript(ReadFile(TLM_SOURCE_DIR "/resources/Scripts/168"));
        // The stand-in xdg-open notes its argument in "opened".
        std::filesystem::create_directory(tmp / "bin");
        WriteFile(
            tmp / "bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + tmp / "opened" + "'\n");
        std::filesystem::permissions(tmp / "bin/xdg-open", std::filesystem::perms::owner_all);
        m_systemPath = std::getenv("PATH");
        m_pathEnv.emplace("PATH", tmp / "bin" + ":" + m_systemPath);

        FILE *bus = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        ASSERT_TRUE(bus);
        char address[512] = {}, pid[32] = {};
        const bool read
            = std::fgets(address, sizeof address, bus) && std::fgets(pid, sizeof pid, bus);
        pclose(bus);
        ASSERT_TRUE(read) << "dbus-daemon gave no address";
        std::string a(address);
        a.erase(a.find_last_not_of('\n') + 1);
        m_busPid = std::atoi(pid);
        ASSERT_GT(m_busPid, 0);
        m_busEnv.emplace("DBUS_SESSION_BUS_ADDRESS", a);
    }

    void TearDown() override
    {
        if (m_servicePid > 0) {
            kill(m_servicePid, SIGTERM);
            waitpid(m_servicePid, nullptr, 0);
        }
        if (m_busPid > 0)
            kill(m_busPid, SIGTERM); // the daemon forked away: not our child
        m_busEnv.reset();
        m_pathEnv.reset();
    }

    /// Starts the stand-in file manager and waits until it owns its name.
    void StartFileManager()
    {
        const std::string ready = tmp / "ready";
        const std::string record = tmp / "shown";
        const std::string script = TLM_SOURCE_DIR "/tests/ui_warnings/filemanager_standin.py";
        m_servicePid = fork();
        if (m_servicePid == 0) {
            // Debian's interpreter, which has the dbus and GLib bindings.
            execl("/usr/bin/python3", "python3", script.c_str(), record.c_str(), ready.c_str(),
                static_cast<char *>(nullptr));
            _exit(127);
        }
        ASSERT_GT(m_servicePid, 0);
        ASSERT_TRUE(ProcessEventsUntil([&] { return std::filesystem::exists(ready); }, kWaitMs))
            << "the stand-in file manager did not start";
    }

    /// Leaves the script only the stand-ins and these of the system's commands on PATH.
    void OnlyCommands(const std::vector<std::string> &commands)
    {
        for (const std::string &command : commands) {
            std::string found;
            for (std::size_t at = 0; found.empty() && at <= m_systemPath.size();) {
                const std::size_t end = std::min(m_systemPath.find(':', at), m_systemPath.size());
                const std::string candidate = m_systemPath.substr(at, end - at) + "/" + command;
                if (access(candidate.c_str(), X_OK) == 0)
                    found = candidate;
                at = end + 1;
            }
            ASSERT_FALSE(found.empty()) << command << " is not installed";
            std::filesystem::create_symlink(found, tmp / "bin/" + command);
        }
        m_pathEnv.reset();
        m_pathEnv.emplace("PATH", tmp / "bin");
    }

    /// A file of that name in a folder of the test's own, and its colon path.
    std::string MakeFile(const std::string &name)
    {
        std::filesystem::create_directories(tmp / "files");
        WriteFile(tmp / "files/" + name, "x");
        return FolderItem::FromNativePath(tmp / "files/" + name)->AbsolutePath();
    }

private:
    std::string m_systemPath;
    std::optional<ScopedEnv> m_pathEnv;
    std::optional<ScopedEnv> m_busEnv;
    pid_t m_busPid = 0;
    pid_t m_servicePid = 0;
};

} // namespace

TEST_F(RevealScriptTest, Script_FileManagerOnTheBus_ShownAsPercentEncodedFileUris)
{
    StartFileManager();
    const std::vector<std::string> names = { "plain.txt", "two  blanks.txt", "100%.txt", "#1.txt",
        "Grüße ÄÖ.txt", "it's.txt", "a:b.txt" };
    std::vector<std::string> expected;
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        FinderSelect({ MakeFile(name) });
        expected.push_back(FileUri(tmp / "files/" + name));
        // One run at a time, so that the URIs arrive in order.
        EXPECT_EQ(AwaitLines(tmp / "shown", expected.size()), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(tmp / "opened"));
}

TEST_F(RevealScriptTest, Script_NoFileManagerOnTheBus_OpensTheFilesFolder)
{
    FinderSelect({ MakeFile("it's here.txt") });
    EXPECT_EQ(AwaitLines(tmp / "opened", 1), std::vector<std::string> { tmp / "files" });
}

TEST_F(RevealScriptTest, Script_OnlyDbusSend_ShowsTheFileThroughIt)
{
    StartFileManager();
    OnlyCommands({ "tr", "od", "awk", "findmnt", "dbus-send" });
    FinderSelect({ MakeFile("with dbus-send #%.txt") });
    EXPECT_EQ(AwaitLines(tmp / "shown", 1),
        std::vector<std::string> { FileUri(tmp / "files/with dbus-send #%.txt") });
}

TEST_F(RevealScriptTest, Script_PathOnAnotherVolume_ItsMountPointFromFindmnt)
{
    StartFileManager();
    // findmnt writes a blank in a mount point as \x20.
    WriteFile(tmp / "bin/findmnt", "#!/bin/sh\nprintf '%s\\n' / /proc '/media/me/My\\x20Disk'\n");
    std::filesystem::permissions(tmp / "bin/findmnt", std::filesystem::perms::owner_all);
    FinderSelect({ std::string("My Disk:Photos:a/b.jpg") });
    EXPECT_EQ(AwaitLines(tmp / "shown", 1),
        std::vector<std::string> { "file:///media/me/My%20Disk/Photos/a%3Ab.jpg" });
}
