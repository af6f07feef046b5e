#include "scan/countformat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

TEST(FormatCount, Cases_DigitsGroupedByThreesWithCommasAndZeroAsZero)
{
    const struct
    {
        int64_t n;
        const char *text;
    } cases[] = {
        { 0, "0" },
        { 7, "7" },
        { 999, "999" },
        { 1000, "1,000" },
        { 10000, "10,000" },
        { 1234567, "1,234,567" },
        { 99999999, "99,999,999" },
        { 123456789, "123,456,789" },
        { std::numeric_limits<int32_t>::max(), "2,147,483,647" },
        { -1234, "-1,234" },
        { std::numeric_limits<int64_t>::min(), "-9,223,372,036,854,775,808" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FormatCount(c.n), c.text);
    }
}
