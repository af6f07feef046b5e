#pragma once

// Where GUI code stands relative to the event loop: the handlers and nested event loops on its
// stack. The catalogue connection reads it to tell a transaction whose owner waits in a nested
// loop from one that GUI code has left open.

namespace platform::detail {

/// Marks a GUI event handler that the framework runs (Dispatch). Handlers run on a fiber do not
/// count: they are not on the GUI code's stack.
class HandlerScope
{
public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope &) = delete;
    HandlerScope &operator=(const HandlerScope &) = delete;

private:
    bool m_counted;
};

/// Marks a turn of the event loop that the framework makes inside GUI code (ProcessEventsUntil).
class LoopTurnScope
{
public:
    LoopTurnScope();
    ~LoopTurnScope();
    LoopTurnScope(const LoopTurnScope &) = delete;
    LoopTurnScope &operator=(const LoopTurnScope &) = delete;

private:
    bool m_counted;
};

/// The event loops on the GUI code's stack: Qt's (the application's own, a modal box's) and the
/// framework's turns. Code inside a nested loop sees more than the code that opened the loop.
int LoopDepth();

/// Runs `check` once control is next back in the application's own event loop with no handler
/// and no nested loop on the stack: when an outermost handler is entered or has returned, or
/// when that loop is about to wait for events. Asking again before it ran asks once. `check`
/// must not throw.
void AtNextTopLevel(void (*check)());

} // namespace platform::detail
