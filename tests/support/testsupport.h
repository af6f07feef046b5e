#pragma once

#include <functional>
#include <string>

#include "platform/thread.h"

namespace platform::testing {

/// Prepares a test program as the framework's Run would: Qt's offscreen platform (unless one is
/// set), the Qt application object and Qt's dialogs as the framework's own; and the scheduler in
/// its deterministic mode.
void InitForTests(int &argc, char **argv);

/// A fresh, empty folder under the system's temporary folder; removed with the object.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &Path() const { return m_path; }
    /// Path of `name` inside the folder.
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

/// Writes `bytes` to the file at `path`, replacing it.
void WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);

/// A cooperative thread that runs a function.
class LambdaThread : public Thread
{
public:
    explicit LambdaThread(std::function<void()> body)
        : m_body(std::move(body))
    {
    }

protected:
    void Event_Run() override { m_body(); }

private:
    std::function<void()> m_body;
};

} // namespace platform::testing
