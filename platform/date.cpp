#include "platform/date.h"

#include <cstdio>
#include <ctime>

namespace platform {

namespace {

std::tm Local(int64_t seconds)
{
    std::tm out {};
    const std::time_t t = static_cast<std::time_t>(seconds);
    localtime_r(&t, &out);
    return out;
}

} // namespace

Date::Date()
    : m_seconds(static_cast<int64_t>(std::time(nullptr)))
{
}

Date::Date(int64_t unixSeconds)
    : m_seconds(unixSeconds)
{
}

int Date::Year() const { return Local(m_seconds).tm_year + 1900; }
int Date::Month() const { return Local(m_seconds).tm_mon + 1; }
int Date::Day() const { return Local(m_seconds).tm_mday; }
int Date::Hour() const { return Local(m_seconds).tm_hour; }
int Date::Minute() const { return Local(m_seconds).tm_min; }
int Date::Second() const { return Local(m_seconds).tm_sec; }

std::string Date::SQLDate() const
{
    const std::tm t = Local(m_seconds);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return buf;
}

std::string Date::SQLDateTime() const
{
    const std::tm t = Local(m_seconds);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
        t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

} // namespace platform
