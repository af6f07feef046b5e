#pragma once

#include "platform/application.h"
#include "platform/folderitem.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

/// A temporary folder holding an application folder of its own, which is the application
/// folder for the object's life.
class ScriptFolder
{
public:
    ScriptFolder()
    {
        std::filesystem::create_directories(m_tmp / "app/Resources/Scripts");
        platform::SetApplicationFolder(m_tmp / "app");
    }
    ~ScriptFolder() { platform::SetApplicationFolder(""); }
    ScriptFolder(const ScriptFolder &) = delete;
    ScriptFolder &operator=(const ScriptFolder &) = delete;

    /// Makes `script` the application's script resource 168.
    void SetScript(const std::string &script) const
    {
        const std::string path = m_tmp / "app/Resources/Scripts/168";
        platform::testing::WriteFile(path, script);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }

    /// A path inside the folder, beside the application folder.
    std::string operator/(const std::string &name) const { return m_tmp / name; }

    /// Turns the event loop until the file at `path` exists, for at most five seconds; its text.
    static std::string AwaitFile(const std::string &path)
    {
        const bool there
            = platform::ProcessEventsUntil([&] { return std::filesystem::exists(path); }, 5000);
        EXPECT_TRUE(there) << "nothing was written to " << path;
        return there ? platform::testing::ReadFile(path) : "";
    }

private:
    platform::testing::TempFolder m_tmp;
};

/// A script that writes its argument count and then each argument on a line of its own into
/// the file named `out` beside the application folder, made whole before it appears.
inline std::string RecordingScript(const std::string &outPath)
{
    return "#!/bin/sh\n{ printf '%s\\n' \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } "
           "> '"
        + outPath + ".part' && mv '" + outPath + ".part' '" + outPath + "'\n";
}
