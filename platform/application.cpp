#include "platform/application.h"

#include "platform/debuglog.h"
#include "platform/dialogs.h"
#include "platform/eventloop_p.h"
#include "platform/exceptions.h"
#include "platform/runtime_p.h"
#include "platform/thread.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::shared_ptr<Application> g_app;
bool g_quitRequested = false;
int g_exitCode = 0;
bool g_starting = false;
bool g_inEventLoop = false;
std::vector<std::function<void()>> g_pendingOpens;

std::string ExecutablePath()
{
    std::string buf(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? buf.substr(0, std::size_t(n)) : std::string();
}

} // namespace

Application::Application()
    : MajorVersion(TLM_MAJOR_VERSION)
    , MinorVersion(TLM_MINOR_VERSION)
    , BugVersion(TLM_BUG_VERSION)
    , NonReleaseVersion(TLM_NON_RELEASE_VERSION)
    , StageCode(TLM_STAGE_CODE)
{
}

Application::~Application() = default;

Ref<FolderItem> Application::ExecutableFile() const
{
    const std::string path = ExecutablePath();
    if (path.empty())
        return nullptr;
    return FolderItem::FromNativePath(path);
}

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

void RegisterApplication(std::shared_ptr<Application> app) { g_app = std::move(app); }

Application *CurrentApplication() { return g_app.get(); }

void Quit(int code)
{
    if (!g_quitRequested) {
        g_quitRequested = true;
        g_exitCode = code;
    }
    // Ends the main loop and any nested one (a dialog's) on its way out.
    if (g_inEventLoop)
        QCoreApplication::exit(g_exitCode);
}

bool QuitRequested() { return g_quitRequested; }

bool DisplayAvailable()
{
    for (const char *name : { "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY" }) {
        const char *v = std::getenv(name);
        if (v && *v)
            return true;
    }
    return false;
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
    g_quitRequested = false;
    g_exitCode = 0;

    g_starting = true;
    Dispatch(startup);
    if (g_app)
        Dispatch([] { g_app->Event_Open(); });
    g_starting = false;
    auto opens = std::move(g_pendingOpens);
    g_pendingOpens.clear();
    for (auto &open : opens)
        Dispatch(open);

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

void HandleUnhandledException(std::exception_ptr error)
{
    const std::unique_ptr<RuntimeException> e = ToRuntimeException(error);
    if (dynamic_cast<ThreadEndException *>(e.get()))
        return;
    System::DebugLog(std::string("Unhandled exception: ") + e->ClassName()
        + (e->Message.empty() ? std::string() : ": " + e->Message));
    for (const auto &frame : e->Stack())
        System::DebugLog("    " + frame);
    Dialogs().MsgBox(std::string("An exception of class ") + e->ClassName() + " was not handled.");
}

void Dispatch(const std::function<void()> &handler)
{
    const detail::HandlerScope scope;
    if (std::exception_ptr error = Capture(handler))
        HandleUnhandledException(error);
}

bool ProcessEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    const detail::LoopTurnScope turn;
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!done())
            QThread::usleep(200);
    }
    return true;
}

} // namespace platform
