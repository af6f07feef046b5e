#include "platform/debuglog.h"

#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace platform::System {

namespace {
std::mutex g_lock;
std::function<void(const std::string &)> g_observer;
} // namespace

void DebugLog(const std::string &text)
{
    std::function<void(const std::string &)> observer;
    {
        std::lock_guard lock(g_lock);
        observer = g_observer;
    }
    // The "%s" keeps a "%" in a path from being read as a format.
    syslog(LOG_USER | LOG_DEBUG, "%s", text.c_str());
    std::fprintf(stderr, "%s\n", text.c_str());
    if (observer)
        observer(text);
}

void SetDebugLogObserver(std::function<void(const std::string &)> observer)
{
    std::lock_guard lock(g_lock);
    g_observer = std::move(observer);
}

} // namespace platform::System
