#pragma once

// Framework-internal hooks between the application runtime and the windows. Not for the logic.

#include <functional>

namespace platform::detail {

/// Delivers a window's Open event now, or after the application's Open event while starting.
void DeliverWindowOpen(std::function<void()> open);

/// Removes every window's widget without its Close event; the end of the run calls it.
void ReleaseAllWindows();

} // namespace platform::detail
