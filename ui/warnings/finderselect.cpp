#include "ui/warnings/finderselect.h"

#include "platform/exceptions.h"
#include "platform/scriptrun.h"
#include "platform/thread.h"

#include <charconv>
#include <string>

using namespace platform;

namespace {

constexpr int kRevealScript = 168;

/// A value's text form: booleans "True" and "False", numbers in their shortest exact form.
std::string TextOf(const Variant &value)
{
    switch (value.GetKind()) {
    case Variant::Kind::Nil:
        return "";
    case Variant::Kind::Boolean:
        return value.As<bool>() ? "True" : "False";
    case Variant::Kind::Integer:
        return std::to_string(value.As<int64_t>());
    case Variant::Kind::Double: {
        char text[32];
        const auto end = std::to_chars(std::begin(text), std::end(text), value.As<double>()).ptr;
        return std::string(text, end);
    }
    case Variant::Kind::Text:
        return value.As<std::string>();
    case Variant::Kind::Object:
        break;
    }
    throw TypeMismatchException("the value has no text form to pass to a script");
}

} // namespace

void FinderSelect(const std::vector<Variant> &values)
{
    if (values.empty()) {
        RunScript(kRevealScript);
        return;
    }
    ScriptRun run(kRevealScript);
    for (const Variant &value : values) {
        if (value.GetKind() == Variant::Kind::Integer)
            run.AddIntegerParameter(value.As<int64_t>());
        else
            run.AddTextParameter(TextOf(value));
        Yield();
    }
    run.Complete();
}
