#include "platform/exceptions.h"

#include "platform/debuglog.h"

#include <boost/context/fiber.hpp>
#include <boost/stacktrace.hpp>

#include <any>
#include <mutex>
#include <new>
#include <regex>
#include <stdexcept>
#include <typeinfo>
#include <variant>

namespace platform {

struct RuntimeException::Frames
{
    boost::stacktrace::stacktrace raw;
    std::once_flag once;
    std::vector<std::string> text;
    bool replaced = false;
};

RuntimeException::RuntimeException()
    : m_frames(std::make_shared<Frames>())
{
    m_frames->raw = boost::stacktrace::stacktrace(0, 64);
}

RuntimeException::RuntimeException(std::string message)
    : RuntimeException()
{
    Message = std::move(message);
}

RuntimeException::RuntimeException(const RuntimeException &) = default;
RuntimeException &RuntimeException::operator=(const RuntimeException &) = default;
RuntimeException::~RuntimeException() = default;

const char *RuntimeException::what() const noexcept
{
    return Message.empty() ? ClassName() : Message.c_str();
}

const std::vector<std::string> &RuntimeException::Stack() const
{
    Frames &f = *m_frames;
    std::call_once(f.once, [&f] {
        if (f.replaced)
            return;
        // The stack starts where the exception was made: the constructors of the exception
        // classes (and the capture itself) are left out.
        bool leading = true;
        for (const auto &frame : f.raw) {
            std::string line = frame.name();
            if (leading
                && (line.find("Exception::") != std::string::npos
                    || line.find("boost::stacktrace") != std::string::npos))
                continue;
            leading = false;
            if (line.empty())
                line = "?";
            const std::string file = frame.source_file();
            if (!file.empty())
                line += " at " + file + ":" + std::to_string(frame.source_line());
            f.text.push_back(std::move(line));
        }
    });
    return f.text;
}

void RuntimeException::SetStack(std::vector<std::string> frames)
{
    auto f = std::make_shared<Frames>();
    f->text = std::move(frames);
    f->replaced = true;
    m_frames = std::move(f);
}

namespace {

std::mutex g_reporterLock;
ExceptionReporter g_reporter;

template<class E> std::unique_ptr<RuntimeException> Make(const char *what)
{
    auto e = std::make_unique<E>(what ? std::string(what) : std::string());
    return e;
}

} // namespace

void SetExceptionReporter(ExceptionReporter reporter)
{
    std::lock_guard lock(g_reporterLock);
    g_reporter = std::move(reporter);
}

std::unique_ptr<RuntimeException> ToRuntimeException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const boost::context::detail::forced_unwind &) {
        throw;
    } catch (const RuntimeException &e) {
        return e.Clone(); // keeps the dynamic kind: the report's phrase depends on it
    } catch (const std::bad_alloc &e) {
        return Make<OutOfMemoryException>(e.what());
    } catch (const std::out_of_range &e) {
        return Make<OutOfBoundsException>(e.what());
    } catch (const std::regex_error &e) {
        return Make<RegExException>(e.what());
    } catch (const std::bad_any_cast &e) {
        return Make<TypeMismatchException>(e.what());
    } catch (const std::bad_variant_access &e) {
        return Make<TypeMismatchException>(e.what());
    } catch (const std::bad_cast &e) {
        return Make<IllegalCastException>(e.what());
    } catch (const std::exception &e) {
        return Make<RuntimeException>(e.what());
    } catch (...) {
        return Make<RuntimeException>("an exception of an unknown type");
    }
}

void Report(const RuntimeException &error, const std::string &tag)
{
    ExceptionReporter reporter;
    {
        std::lock_guard lock(g_reporterLock);
        reporter = g_reporter;
    }
    if (reporter) {
        reporter(error, tag);
        return;
    }
    std::string text = std::string(error.ClassName()) + " was raised in " + tag;
    if (!error.Message.empty())
        text += ": " + error.Message;
    System::DebugLog(text);
    for (const auto &frame : error.Stack())
        System::DebugLog("    " + frame);
}

std::exception_ptr Capture(const std::function<void()> &body)
{
    try {
        body();
        return nullptr;
    } catch (const boost::context::detail::forced_unwind &) {
        throw;
    } catch (...) {
        return std::current_exception();
    }
}

bool CatchAll(const std::string &tag, const std::function<void()> &body)
{
    std::exception_ptr error = Capture(body);
    if (!error)
        return true;
    // Outside the catch block: the reporter may show a window or yield.
    auto converted = ToRuntimeException(error);
    error = nullptr;
    Report(*converted, tag);
    return false;
}

} // namespace platform
