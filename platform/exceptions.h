#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// The root of the framework's exception family. The call stack is captured where the exception is
/// made; its frames are turned into text only when `Stack()` is first read, so throwing stays
/// cheap.
class RuntimeException : public std::exception
{
public:
    RuntimeException();
    explicit RuntimeException(std::string message);
    RuntimeException(const RuntimeException &);
    RuntimeException &operator=(const RuntimeException &);
    ~RuntimeException() override;

    const char *what() const noexcept override;

    std::string Message;

    /// One text per frame, innermost first, starting at the code that made the exception.
    const std::vector<std::string> &Stack() const;
    /// Replaces the captured stack (used by tests and when a standard exception is converted).
    void SetStack(std::vector<std::string> frames);

    /// The class name as the user should see it ("NilObjectException").
    virtual const char *ClassName() const noexcept { return "RuntimeException"; }
    /// A copy of the same kind (a subclass that does not override it is copied as its base).
    virtual std::unique_ptr<RuntimeException> Clone() const
    {
        return std::make_unique<RuntimeException>(*this);
    }

private:
    struct Frames;
    std::shared_ptr<Frames> m_frames; // shared between copies; immutable once symbolised
};

#define TLM_DECLARE_EXCEPTION(Name, Base)                                                          \
    class Name : public Base                                                                       \
    {                                                                                              \
    public:                                                                                        \
        using Base::Base;                                                                          \
        const char *ClassName() const noexcept override { return #Name; }                          \
        std::unique_ptr<RuntimeException> Clone() const override                                   \
        {                                                                                          \
            return std::make_unique<Name>(*this);                                                  \
        }                                                                                          \
    }

TLM_DECLARE_EXCEPTION(FunctionNotFoundException, RuntimeException);
TLM_DECLARE_EXCEPTION(KeyChainException, RuntimeException);
TLM_DECLARE_EXCEPTION(OLEException, RuntimeException);
TLM_DECLARE_EXCEPTION(RegistryAccessErrorException, RuntimeException);
TLM_DECLARE_EXCEPTION(ServiceNotAvailableException, RuntimeException);
TLM_DECLARE_EXCEPTION(SpotlightException, RuntimeException);
TLM_DECLARE_EXCEPTION(ThreadAlreadyRunningException, RuntimeException);
TLM_DECLARE_EXCEPTION(TypeMismatchException, RuntimeException);
TLM_DECLARE_EXCEPTION(NilObjectException, RuntimeException);
TLM_DECLARE_EXCEPTION(IllegalCastException, RuntimeException);
TLM_DECLARE_EXCEPTION(OutOfBoundsException, RuntimeException);
TLM_DECLARE_EXCEPTION(StackOverflowException, RuntimeException);
TLM_DECLARE_EXCEPTION(OutOfMemoryException, RuntimeException);
TLM_DECLARE_EXCEPTION(InvalidParentException, RuntimeException);
TLM_DECLARE_EXCEPTION(KeyNotFoundException, RuntimeException);
TLM_DECLARE_EXCEPTION(RegExException, RuntimeException);
TLM_DECLARE_EXCEPTION(RegExSearchPatternException, RegExException);
TLM_DECLARE_EXCEPTION(ShellNotRunningException, RuntimeException);
TLM_DECLARE_EXCEPTION(ShellNotAvailableException, RuntimeException);
TLM_DECLARE_EXCEPTION(NoOpenTransportException, RuntimeException);
TLM_DECLARE_EXCEPTION(UnsupportedFormatException, RuntimeException);
/// Raised to end the program from deep inside it.
TLM_DECLARE_EXCEPTION(EndException, RuntimeException);
/// Raised inside a cooperative thread that is being killed; catch-alls never report it.
TLM_DECLARE_EXCEPTION(ThreadEndException, RuntimeException);

/// Receives every exception that a catch-all handler caught, with the handler's location tag.
using ExceptionReporter = std::function<void(const RuntimeException &, const std::string &tag)>;

/// Installs the program's reporter; until one is installed, reports go to the debug log.
void SetExceptionReporter(ExceptionReporter reporter);

/// Runs `body`. An exception escaping it is handed to the reporter under `tag` (a standard
/// exception first turned into its kind: bad_alloc into OutOfMemoryException and so on) and
/// false is returned. The unwinding of a destroyed fiber is never caught: it passes on, as it
/// must. The report is made after the catch block has ended, so the reporter may yield.
bool CatchAll(const std::string &tag, const std::function<void()> &body);

/// Runs `body` and gives back what escaped it (nullptr when nothing did); the unwinding of a
/// destroyed fiber passes on.
std::exception_ptr Capture(const std::function<void()> &body);

/// The exception held by `error` as a RuntimeException of its kind. Rethrows a fiber's unwind.
std::unique_ptr<RuntimeException> ToRuntimeException(std::exception_ptr error);

/// Passes `error` to the installed reporter (or the debug log) under `tag`.
void Report(const RuntimeException &error, const std::string &tag);

} // namespace platform
