#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <unistd.h>

#include "platform/thread.h"

#include <gtest/gtest.h>

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

/// Removes the folder at `path` and everything in it, folders made read-only included.
void RemoveTree(const std::string &path);

/// In a process that runs as root: hands `workspace` and everything in it to the unprivileged
/// user 65534 ("nobody") and makes the process that user for good. Otherwise does nothing.
void BecomeUnprivilegedUser(const std::string &workspace);

/// Runs `body` in a child process as a user whom file permissions bind, so that a test of what
/// cannot be read or written runs as root too: a root process first becomes the unprivileged
/// user, who then owns `workspace` as an ordinary user running the test would. The child is a
/// new run of the current test up to this call (a thread-safe death test), so what the test
/// set up before the call is set up there again. Failures in the body fail the test.
inline void RunAsUnprivilegedUser(const TempFolder &workspace, const std::function<void()> &body)
{
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto child = [&] {
        BecomeUnprivilegedUser(workspace.Path());
        body();
        // A death test's child prints nothing of its own; the parent shows what it writes to
        // stderr, so the body's failures are written there.
        const ::testing::TestResult &result
            = *::testing::UnitTest::GetInstance()->current_test_info()->result();
        for (int i = 0; i < result.total_part_count(); ++i) {
            const ::testing::TestPartResult &part = result.GetTestPartResult(i);
            if (part.failed())
                std::fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?",
                    part.line_number(), part.message());
        }
        const bool failed = ::testing::Test::HasFailure();
        RemoveTree(workspace.Path()); // the child ends without running destructors
        std::fflush(nullptr);
        _exit(failed ? 1 : 0);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "")
        << "the body failed as an unprivileged user";
    GTEST_FLAG_SET(death_test_style, style);
}

/// Turns the event loop until a call posted now has run, for at most `timeoutMs`; false on
/// time-out. Every call and event posted before it (a deferred handler, a queued signal) has then
/// been delivered: what has not arrived by then was never sent.
bool RunPostedCalls(int timeoutMs);

/// True when every HTTP post the program has started has had its reply, or its error.
bool HttpPostsFinished();

/// Sets an environment variable (nullptr unsets it) for the object's life, then puts the old
/// value back.
class EnvironmentVariable
{
public:
    EnvironmentVariable(const char *name, const char *value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        Set(value);
    }
    ~EnvironmentVariable() { Set(m_old ? m_old->c_str() : nullptr); }
    EnvironmentVariable(const EnvironmentVariable &) = delete;
    EnvironmentVariable &operator=(const EnvironmentVariable &) = delete;

private:
    void Set(const char *value) const
    {
        if (value)
            setenv(m_name.c_str(), value, 1);
        else
            unsetenv(m_name.c_str());
    }

    std::string m_name;
    std::optional<std::string> m_old;
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
