#pragma once

#include <functional>
#include <string>

namespace platform::System {

/// Writes one line to the system log (facility user, priority debug) and to stderr.
void DebugLog(const std::string &text);

/// Every line also goes to `observer` while one is set (tests read the log this way).
void SetDebugLogObserver(std::function<void(const std::string &)> observer);

} // namespace platform::System
