#include "platform/application.h"

#include "platform/application_p.h"
#include "platform/debuglog.h"
#include "platform/dialogs.h"
#include "platform/eventloop_p.h"
#include "platform/exceptions.h"
#include "platform/thread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <set>
#include <unistd.h>

namespace platform {

namespace detail {

std::shared_ptr<Application> g_app;
bool g_quitRequested = false;
int g_exitCode = 0;
bool g_inEventLoop = false;

} // namespace detail

using detail::g_app;
using detail::g_exitCode;
using detail::g_inEventLoop;
using detail::g_quitRequested;

namespace {

// The texts of unhandled-exception boxes that wait for the event loop or are up.
std::set<std::string> g_deferredBoxes;

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

void HandleUnhandledException(std::exception_ptr error)
{
    const std::unique_ptr<RuntimeException> e = ToRuntimeException(error);
    if (dynamic_cast<ThreadEndException *>(e.get()))
        return;
    System::DebugLog(std::string("Unhandled exception: ") + e->ClassName()
        + (e->Message.empty() ? std::string() : ": " + e->Message));
    for (const auto &frame : e->Stack())
        System::DebugLog("    " + frame);
    std::string text = std::string("An exception of class ") + e->ClassName() + " was not handled.";
    if (!InsideQtCallback()) {
        Dialogs().MsgBox(text);
        return;
    }
    // A fault in a paint or model callback usually recurs on every cell of the repaint; the box
    // names only the class, so one box stands for all of them.
    if (!g_deferredBoxes.insert(text).second)
        return;
    DispatchLater([text = std::move(text)] {
        struct Done
        {
            const std::string &text;
            ~Done() { g_deferredBoxes.erase(text); }
        } done { text };
        Dialogs().MsgBox(text);
    });
}

void Dispatch(const std::function<void()> &handler)
{
    const detail::HandlerScope scope;
    if (std::exception_ptr error = Capture(handler))
        HandleUnhandledException(error);
}

bool InsideQtCallback() { return Scheduler::NoYieldScope::Active(); }

void DispatchLater(std::function<void()> handler)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        Dispatch(handler); // no event loop, so no Qt callback to wait for either
        return;
    }
    QMetaObject::invokeMethod(
        app, [handler = std::move(handler)] { Dispatch(handler); }, Qt::QueuedConnection);
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
