#pragma once

#include <cstdint>
#include <memory>

namespace platform {

/// A cooperative thread: a fiber that runs on the GUI thread and gives up control only at its
/// yield points. Subclass it and override Event_Run. Make threads with std::make_shared: a running
/// thread keeps itself alive until Event_Run returns.
class Thread : public std::enable_shared_from_this<Thread>
{
public:
    enum class State { NotRunning, Ready, Running, Suspended, Sleeping };

    Thread();
    virtual ~Thread();
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;

    /// Makes the thread ready; Event_Run first runs when the event loop next turns.
    /// Raises ThreadAlreadyRunningException when the thread has started and not ended, and
    /// RuntimeException when no std::shared_ptr owns the thread.
    void Run();
    /// Suspends the calling thread (which must be this one) for at least `ms` milliseconds; 0 or
    /// less only gives the others a turn. Called from elsewhere, it puts a ready thread to sleep
    /// and leaves a thread in any other state alone.
    void Sleep(int ms);
    /// Ends the thread: a ThreadEndException is raised inside it at its next resume, and at every
    /// resume after that; a sleeping or blocked thread is made ready for it.
    void Kill();

    State GetState() const;

protected:
    virtual void Event_Run() = 0;

private:
    friend class Scheduler;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// The yield point every loop pass of the program calls. From a worker it switches only when
/// the worker's time slice (about 10 ms) is spent, or always in deterministic mode; from GUI code
/// it runs one round of the ready threads and returns; inside a framework callback made on a
/// fiber's behalf it does nothing.
void Yield();

/// The cooperative thread that is running now, or nullptr on the GUI code.
Thread *CurrentThread();

class Scheduler
{
public:
    /// Every Yield switches, round robin, so that tests see reproducible interleavings.
    static void SetDeterministic(bool on);

    /// Ends the current thread's time slice: at its next Yield the event loop turns before any
    /// thread goes on. Nothing from GUI code.
    static void EndSlice();

    /// Suspends the current thread until Wake is called for it. Only from a thread: GUI code gets
    /// a RuntimeException. A killed thread does not stay blocked.
    static void Block();
    /// Makes a blocked thread ready again; a thread in any other state (nullptr too) is left
    /// alone, so a caller that may wake too early loops on its own condition around Block.
    static void Wake(Thread *thread);

    /// While a framework callback runs on a fiber's behalf (a paint, a model query), Yield must
    /// not switch; the guard marks such a stretch.
    class NoYieldScope
    {
    public:
        NoYieldScope();
        ~NoYieldScope();
        /// True while such a stretch runs, whichever thread (or the GUI code) is current.
        static bool Active();
    };

    /// A long stretch of GUI code that yields (a large file digested on the GUI thread): while it
    /// lives, a Yield from GUI code switches like a worker's, once its time slice is spent, and
    /// then turns the event loop for everything but user input, in which the ready threads get
    /// their slice (every call, in deterministic mode, also runs one round of them). Windows
    /// repaint, sleeping threads wake and queued work runs; clicks, keys and close requests wait
    /// until the stretch has ended, so none of them can start work inside it.
    class LoopTurningScope
    {
    public:
        LoopTurningScope();
        ~LoopTurningScope();
        LoopTurningScope(const LoopTurningScope &) = delete;
        LoopTurningScope &operator=(const LoopTurningScope &) = delete;
    };

    /// Clears the current-thread marker around a nested event loop that cannot be avoided.
    class OutsideThreadScope
    {
    public:
        OutsideThreadScope();
        ~OutsideThreadScope();

    private:
        Thread *m_saved;
    };

    /// Threads that have started and not ended.
    static std::size_t LiveCount();
    /// Destroys every fiber (unwinding its stack); called when the event loop has ended.
    static void DestroyAll();
};

} // namespace platform
