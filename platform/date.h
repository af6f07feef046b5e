#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// A moment in local time. A new Date is now.
class Date
{
public:
    Date();
    /// From seconds since the Unix epoch.
    explicit Date(int64_t unixSeconds);

    int Year() const;
    int Month() const;
    int Day() const;
    int Hour() const;
    int Minute() const;
    int Second() const;
    int64_t UnixSeconds() const { return m_seconds; }

    /// "YYYY-MM-DD" in local time.
    std::string SQLDate() const;
    /// "YYYY-MM-DD HH:MM:SS" in local time.
    std::string SQLDateTime() const;

private:
    int64_t m_seconds;
};

} // namespace platform
