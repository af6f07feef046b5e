#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

/// The application object; the program subclasses it and registers one instance.
class Application
{
public:
    Application();
    virtual ~Application();

    /// The version fields, set when the application is built.
    int MajorVersion;
    int MinorVersion;
    int BugVersion;
    int NonReleaseVersion;
    int StageCode;

    Ref<FolderItem> ExecutableFile() const;

    enum class MouseCursor { Arrow, Wait };
    /// Defined by the widgets library: the cursor is Qt Gui's.
    void SetMouseCursor(MouseCursor cursor);
    MouseCursor CurrentMouseCursor() const { return m_cursor; }

    /// The application's Open event, delivered before any window's.
    virtual void Event_Open() { }

private:
    MouseCursor m_cursor = MouseCursor::Arrow;
};

/// Makes `app` the application object for the rest of the run.
void RegisterApplication(std::shared_ptr<Application> app);
/// The registered application object, nil before registration.
Application *CurrentApplication();

/// Asks the event loop to end; the run's result is `code`. The first request's code is kept.
void Quit(int code = 0);
bool QuitRequested();

/// Runs the framework (part of the widgets library): makes the Qt application when there is none
/// and installs Qt's dialogs as the framework's own, runs `startup` once, delivers
/// the Open events (the application's first, then those of the windows `startup` made), turns the
/// event loop until Quit, destroys every cooperative thread, releases the windows, then runs
/// `finalize` while Qt is still up. Returns the exit code given to Quit.
int Run(int argc, char **argv, const std::function<void()> &startup,
    const std::function<void()> &finalize);

/// Empty when there is a display to show windows on: the one Qt will use is set and answers
/// (checked by connecting to it, as Qt will), or Qt was told to use a platform that needs none.
/// Otherwise what is wrong, as the end of the sentence "… needs a graphical display, and …".
std::string DisplayProblem();

/// The framework's handler for an exception that escaped a thread's Event_Run or an event
/// handler: the kind and stack go to the debug log and a message box names the class. Inside a
/// Qt callback the box waits for the next turn of the event loop, and while it waits (or is up)
/// the same class from another callback gives no second box.
void HandleUnhandledException(std::exception_ptr error);

/// Runs an event handler, sending whatever escapes it to HandleUnhandledException.
void Dispatch(const std::function<void()> &handler);

/// True while Qt is inside one of its paint, model or delegate callbacks: nothing may open or
/// show a window then (Qt's painting and model state would be re-entered), so whatever would
/// is delivered through DispatchLater instead.
bool InsideQtCallback();

/// Runs `handler` as an event handler, like Dispatch, at the next turn of the event loop.
void DispatchLater(std::function<void()> handler);

/// Turns the event loop until `done` holds or `timeoutMs` passes; true when `done` held.
/// For tests and for GUI code that must wait; never from a cooperative thread.
bool ProcessEventsUntil(const std::function<bool()> &done, int timeoutMs);

} // namespace platform
