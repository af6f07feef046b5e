#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    platform::testing::InitForTests(argc, argv);
    return RUN_ALL_TESTS();
}
