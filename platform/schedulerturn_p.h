#pragma once

// Between the cooperative threads and the file references: how a thread tells whether other code
// has run since it last looked.

#include <cstdint>

namespace platform::detail {

/// Counts the times a cooperative thread was given the processor. A thread that reads the same
/// count twice has let no other code of this program run in between.
uint64_t SchedulerTurn();

} // namespace platform::detail
