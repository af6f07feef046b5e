#pragma once

// Between the cooperative threads and the file references: how a thread tells whether other code
// has run since it last looked.

#include <cstdint>
#include <functional>

namespace platform::detail {

/// Counts the times a cooperative thread was given the processor. A thread that reads the same
/// count twice has let no other code of this program run in between.
uint64_t SchedulerTurn();

/// Has `fn` run on the current cooperative thread right before it next lets other code run (a
/// yield that switches, a block, a sleep, a dialog's wait, or its end), once. False, and nothing
/// done, from GUI code. `fn` must not yield or throw.
bool BeforeLeaving(std::function<void()> fn);

} // namespace platform::detail
