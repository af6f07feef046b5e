#include "diagnostics/debugglobals.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class SubclassOfNil : public NilObjectException
{
};

struct PhraseCase
{
    const char *name;
    std::function<std::unique_ptr<RuntimeException>()> make;
    const char *phrase;
};

template<class E> std::function<std::unique_ptr<RuntimeException>()> Make()
{
    return [] { return std::make_unique<E>(); };
}

} // namespace

TEST(KindPhrase, EveryKind_GetsItsPhraseAsItStands)
{
    const PhraseCase cases[] = {
        { "FunctionNotFound", Make<FunctionNotFoundException>(), "A FunctionNotFoundException" },
        { "KeyChain", Make<KeyChainException>(), "A KeyChainException" },
        { "OLE", Make<OLEException>(), "An OLException" },
        { "RegistryAccessError", Make<RegistryAccessErrorException>(),
            "A RegistryAccessErrorException" },
        { "ServiceNotAvailable", Make<ServiceNotAvailableException>(),
            "A ServiceNotAvailableException" },
        { "Spotlight", Make<SpotlightException>(), "A SpotlightException" },
        { "ThreadAlreadyRunning", Make<ThreadAlreadyRunningException>(),
            "A ThreadAlreadyRunningException" },
        { "TypeMismatch", Make<TypeMismatchException>(), "A TypeMismatchExcption" },
        { "NilObject", Make<NilObjectException>(), "A NilObjectException" },
        { "subclass of NilObject", Make<SubclassOfNil>(), "A NilObjectException" },
        { "IllegalCast", Make<IllegalCastException>(), "An IllegaCastException" },
        { "OutOfBounds", Make<OutOfBoundsException>(), "An OutOfBoundsException" },
        { "StackOverflow", Make<StackOverflowException>(), "A StackOverflowException" },
        { "OutOfMemory", Make<OutOfMemoryException>(), "An OutOfMemoryException" },
        { "InvalidParent", Make<InvalidParentException>(), "An InvalidParentException" },
        { "KeyNotFound", Make<KeyNotFoundException>(), "A KeyNotFoundException" },
        { "RegExSearchPattern before RegEx", Make<RegExSearchPatternException>(),
            "A RegExSearchPatternException" },
        { "RegEx", Make<RegExException>(), "A RegExException" },
        { "ShellNotRunning", Make<ShellNotRunningException>(), "A ShellNotRunningException" },
        { "ShellNotAvailable", Make<ShellNotAvailableException>(), "A ShellNotAvailableException" },
        { "NoOpenTransport", Make<NoOpenTransportException>(), "A NoOpenTransportException" },
        { "UnsupportedFormat", Make<UnsupportedFormatException>(), "A UnsupportedFormatException" },
        { "End", Make<EndException>(), "" },
        { "plain RuntimeException", Make<RuntimeException>(), "An unknown exception" },
        { "standard exception converted",
            [] { return ToRuntimeException(std::make_exception_ptr(std::logic_error("x"))); },
            "An unknown exception" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DebugGlobals::KindPhrase(*c.make()), c.phrase);
    }
}

TEST(ReportText, Layout_PhraseTagStackOneFramePerLine)
{
    NilObjectException e;
    e.SetStack({ "frame one", "frame two" });
    EXPECT_EQ(DebugGlobals::ReportText(e, "winMain.Methods.ProcessFolders"),
        "A NilObjectException was raised in winMain.Methods.ProcessFolders\nStack:\n"
        "frame one\nframe two");
}

TEST(ReportText, EmptyStack_EndsWithStackAndOneLineEnd)
{
    OutOfBoundsException e;
    e.SetStack({});
    EXPECT_EQ(
        DebugGlobals::ReportText(e, "t"), "An OutOfBoundsException was raised in t\nStack:\n");
}

TEST(ReportText, EndException_StartsWithWasRaisedIn)
{
    EndException e;
    e.SetStack({ "f" });
    EXPECT_EQ(
        DebugGlobals::ReportText(e, "App.Methods.CheckForDatabase").rfind(" was raised in ", 0),
        0u);
}

TEST(VersionField, StageTexts)
{
    struct Case
    {
        int stage;
        const char *expected;
    };
    for (const Case &c : { Case { 0, "1.2.3.4(Development)" }, Case { 1, "1.2.3.4(Alpha)" },
             Case { 2, "1.2.3.4(Beta)" }, Case { 3, "1.2.3.4(Final)" }, Case { 7, "1.2.3.4" },
             Case { -1, "1.2.3.4" } }) {
        SCOPED_TRACE(c.stage);
        EXPECT_EQ(DebugGlobals::VersionField(1, 2, 3, 4, c.stage), c.expected);
    }
    EXPECT_EQ(DebugGlobals::VersionField(1, 0, 0, 0, 3), "1.0.0.0(Final)");
}
