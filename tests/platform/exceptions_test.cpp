#include "platform/exceptions.h"
#include "platform/ref.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

using namespace platform;

namespace {

struct Caught
{
    std::string className;
    std::string tag;
    std::string message;
    std::size_t frames = 0;
};

class ReporterScope
{
public:
    explicit ReporterScope(std::vector<Caught> &into)
    {
        SetExceptionReporter([&into](const RuntimeException &e, const std::string &tag) {
            into.push_back({ e.ClassName(), tag, e.Message, e.Stack().size() });
        });
    }
    ~ReporterScope() { SetExceptionReporter(nullptr); }
};

[[noreturn]] void ThrowDeep(int depth)
{
    if (depth == 0)
        throw OutOfBoundsException("row 7");
    ThrowDeep(depth - 1);
}

} // namespace

TEST(CatchAll, ExceptionKinds_ReportedAsTheirFrameworkKind)
{
    struct Case
    {
        const char *name;
        std::function<void()> body;
        const char *expectedClass;
    };
    const Case cases[] = {
        { "framework kind", [] { throw NilObjectException(); }, "NilObjectException" },
        { "subclass kept", [] { throw RegExSearchPatternException(); },
            "RegExSearchPatternException" },
        { "bad_alloc", [] { throw std::bad_alloc(); }, "OutOfMemoryException" },
        { "out_of_range", [] { throw std::out_of_range("x"); }, "OutOfBoundsException" },
        { "other std", [] { throw std::runtime_error("x"); }, "RuntimeException" },
        { "not an exception", [] { throw 42; }, "RuntimeException" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Caught> caught;
        ReporterScope scope(caught);
        EXPECT_FALSE(CatchAll("Owner.Methods.Member", c.body));
        ASSERT_EQ(caught.size(), 1u);
        EXPECT_EQ(caught[0].className, c.expectedClass);
        EXPECT_EQ(caught[0].tag, "Owner.Methods.Member");
    }
}

TEST(CatchAll, NoException_ReportsNothingAndReturnsTrue)
{
    std::vector<Caught> caught;
    ReporterScope scope(caught);
    EXPECT_TRUE(CatchAll("t", [] {}));
    EXPECT_TRUE(caught.empty());
}

TEST(RuntimeException, Stack_StartsWhereTheExceptionWasMade)
{
    try {
        ThrowDeep(3);
        FAIL();
    } catch (const RuntimeException &e) {
        ASSERT_GE(e.Stack().size(), 4u);
        EXPECT_NE(e.Stack()[0].find("ThrowDeep"), std::string::npos) << e.Stack()[0];
        EXPECT_EQ(e.Message, "row 7");
    }
}

TEST(Ref, NilDereference_RaisesNilObjectException)
{
    Ref<std::string> nil;
    EXPECT_THROW((void)nil->size(), NilObjectException);
    Ref<std::string> s = New<std::string>("abc");
    EXPECT_EQ(s->size(), 3u);
    EXPECT_TRUE(s.As<std::string>());
}
