#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

// Fontconfig, which Qt's font database starts, keeps blocks it never frees; they are not the
// program's, and every test that makes a widget would report them.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    platform::testing::InitForTests(argc, argv);
    return RUN_ALL_TESTS();
}
