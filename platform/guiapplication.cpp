// The application's Qt GUI side: the run with its Qt application and event loop, the windows'
// Open events held back while starting, the mouse cursor.

#include "platform/application.h"

#include "platform/application_p.h"
#include "platform/dialogs_p.h"
#include "platform/runtime_p.h"
#include "platform/thread.h"

#include <QApplication>
#include <QCursor>

#include <vector>

namespace platform {

using detail::g_app;
using detail::g_exitCode;
using detail::g_inEventLoop;
using detail::g_quitRequested;

namespace {

bool g_starting = false;
std::vector<std::function<void()>> g_pendingOpens;

// A start-up that fails must not look like success to whatever started the program.
constexpr int kStartupFailure = 1;

/// Runs a start-up step as an event handler; false when an exception escaped it.
bool StartupStep(const std::function<void()> &step)
{
    bool finished = false;
    Dispatch([&] {
        step();
        finished = true;
    });
    return finished;
}

} // namespace

void Application::SetMouseCursor(MouseCursor cursor)
{
    if (cursor == m_cursor)
        return;
    m_cursor = cursor;
    if (!qApp)
        return;
    // One override at most, so any number of "wait" calls is undone by one "arrow".
    if (cursor == MouseCursor::Wait)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QApplication::restoreOverrideCursor();
}

namespace detail {

void DeliverWindowOpen(std::function<void()> open)
{
    if (g_starting)
        g_pendingOpens.push_back(std::move(open));
    else
        Dispatch(open);
}

} // namespace detail

int Run(int argc, char **argv, const std::function<void()> &startup,
    const std::function<void()> &finalize)
{
    std::unique_ptr<QApplication> ownApp;
    if (!qApp) {
        static int s_argc;
        s_argc = argc;
        ownApp = std::make_unique<QApplication>(s_argc, argv);
    }
    QApplication::setQuitOnLastWindowClosed(false);
    detail::InstallQtDialogs();
    g_quitRequested = false;
    g_exitCode = 0;

    g_starting = true;
    bool started = StartupStep(startup);
    if (started && g_app)
        started = StartupStep([] { g_app->Event_Open(); });
    g_starting = false;
    auto opens = std::move(g_pendingOpens);
    g_pendingOpens.clear();
    if (started) {
        for (auto &open : opens)
            Dispatch(open);
    } else {
        // The report has been made; a run without its start-up would show no window and
        // never end.
        Quit(kStartupFailure);
    }

    if (!g_quitRequested) {
        g_inEventLoop = true;
        const int code = QApplication::exec();
        g_inEventLoop = false;
        if (!g_quitRequested)
            g_exitCode = code;
    }

    Scheduler::DestroyAll();
    detail::ReleaseAllWindows();
    if (finalize)
        Dispatch(finalize);
    g_app.reset();
    QApplication::processEvents();
    return g_exitCode;
}

} // namespace platform
