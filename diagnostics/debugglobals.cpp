#include "diagnostics/debugglobals.h"

#include "diagnostics/windebug.h"
#include "platform/application.h"
#include "platform/folderitem.h"
#include "platform/httpsocket.h"

#include <memory>

using namespace platform;

namespace DebugGlobals {

namespace {

// A report that cannot be made ends the program; it must not look like success.
constexpr int kReportFailure = 1;

std::string g_crashLogHost = TLM_CRASHLOG_HOST;

template<class E> bool Is(const RuntimeException &e)
{
    return dynamic_cast<const E *>(&e) != nullptr;
}

} // namespace

std::string KindPhrase(const RuntimeException &e)
{
    // Tested in this order: the first kind the exception is an instance of gives the phrase.
    if (Is<FunctionNotFoundException>(e))
        return "A FunctionNotFoundException";
    if (Is<KeyChainException>(e))
        return "A KeyChainException";
    if (Is<OLEException>(e))
        return "An OLException";
    if (Is<RegistryAccessErrorException>(e))
        return "A RegistryAccessErrorException";
    if (Is<ServiceNotAvailableException>(e))
        return "A ServiceNotAvailableException";
    if (Is<SpotlightException>(e))
        return "A SpotlightException";
    if (Is<ThreadAlreadyRunningException>(e))
        return "A ThreadAlreadyRunningException";
    if (Is<TypeMismatchException>(e))
        return "A TypeMismatchExcption";
    if (Is<NilObjectException>(e))
        return "A NilObjectException";
    if (Is<IllegalCastException>(e))
        return "An IllegaCastException";
    if (Is<OutOfBoundsException>(e))
        return "An OutOfBoundsException";
    if (Is<StackOverflowException>(e))
        return "A StackOverflowException";
    if (Is<OutOfMemoryException>(e))
        return "An OutOfMemoryException";
    if (Is<InvalidParentException>(e))
        return "An InvalidParentException";
    if (Is<KeyNotFoundException>(e))
        return "A KeyNotFoundException";
    if (Is<RegExSearchPatternException>(e))
        return "A RegExSearchPatternException";
    if (Is<RegExException>(e))
        return "A RegExException";
    if (Is<ShellNotRunningException>(e))
        return "A ShellNotRunningException";
    if (Is<ShellNotAvailableException>(e))
        return "A ShellNotAvailableException";
    if (Is<NoOpenTransportException>(e))
        return "A NoOpenTransportException";
    if (Is<UnsupportedFormatException>(e))
        return "A UnsupportedFormatException";
    if (Is<EndException>(e))
        return "";
    return "An unknown exception";
}

std::string ReportText(const RuntimeException &error, const std::string &tag)
{
    std::string text = KindPhrase(error) + " was raised in " + tag + EndOfLine;
    text += std::string("Stack:") + EndOfLine;
    const auto &stack = error.Stack();
    for (std::size_t i = 0; i < stack.size(); ++i) {
        if (i > 0)
            text += EndOfLine;
        text += stack[i];
    }
    return text;
}

std::string VersionField(int major, int minor, int bug, int nonRelease, int stage)
{
    static const char *const kStages[] = { "(Development)", "(Alpha)", "(Beta)", "(Final)" };
    std::string v = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(bug)
        + "." + std::to_string(nonRelease);
    if (stage >= 0 && stage < 4)
        v += kStages[stage];
    return v;
}

void SetCrashLogHost(const std::string &hostAndPort) { g_crashLogHost = hostAndPort; }

std::string CrashLogURL() { return "http://" + g_crashLogHost + "/clientcrashlog.txt"; }

void LogMessage(const std::string &report)
{
    const std::exception_ptr failure = Capture([&] {
        // The framework's application object carries the version fields.
        Application *app = CurrentApplication();
        if (!app)
            throw NilObjectException("no application object");
        HTTPSocket::Form form;
        auto exe = app->ExecutableFile();
        form.emplace_back("app", exe ? exe->Name() : std::string());
        form.emplace_back("version",
            VersionField(app->MajorVersion, app->MinorVersion, app->BugVersion,
                app->NonReleaseVersion, app->StageCode));
        form.emplace_back("stack", report);
        HTTPSocket socket;
        socket.SetFormData(std::move(form));
        socket.Post(CrashLogURL());
    });
    // The report reaches the log window whether or not the post could start.
    winDebug_()->Append(report);
    if (failure)
        std::rethrow_exception(failure);
}

void ExceptionReport(const RuntimeException &error, const std::string &tag)
{
    if (dynamic_cast<const ThreadEndException *>(&error))
        return;
    if (InsideQtCallback()) {
        // The report may open the log window, which must wait until Qt's callback has returned.
        std::shared_ptr<const RuntimeException> copy = error.Clone();
        DispatchLater([copy, tag] { ExceptionReport(*copy, tag); });
        return;
    }
    if (Capture([&] { LogMessage(ReportText(error, tag)); }))
        Quit(kReportFailure);
}

void InstallAsReporter() { SetExceptionReporter(ExceptionReport); }

} // namespace DebugGlobals
