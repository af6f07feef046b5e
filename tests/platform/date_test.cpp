#include "platform/date.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using platform::Date;

TEST(Date, SQLForms_InLocalTime)
{
    const char *saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    // 2026-07-04 21:05:09 UTC is 23:05:09 in Berlin (summer time); 2026-01-31 23:30:00 UTC is
    // already February 1st there.
    struct Case
    {
        int64_t seconds;
        const char *date;
        const char *dateTime;
    };
    for (const Case &c : { Case { 1783199109, "2026-07-04", "2026-07-04 23:05:09" },
             Case { 1769902200, "2026-02-01", "2026-02-01 00:30:00" } }) {
        SCOPED_TRACE(c.dateTime);
        EXPECT_EQ(Date(c.seconds).SQLDate(), c.date);
        EXPECT_EQ(Date(c.seconds).SQLDateTime(), c.dateTime);
    }
    if (saved)
        setenv("TZ", old.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
