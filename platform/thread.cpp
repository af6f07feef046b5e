#include "platform/thread.h"

// AddressSanitizer cannot follow the assembly backend's stack switches; the ucontext backend
// tells it about each one. Debian's library is built for the assembly backend only, so the
// ucontext backend's one out-of-line function is defined below.
#if defined(__SANITIZE_ADDRESS__)
#define TLM_FIBER_UCONTEXT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TLM_FIBER_UCONTEXT 1
#endif
#endif
#if defined(TLM_FIBER_UCONTEXT)
#ifndef BOOST_USE_UCONTEXT
#define BOOST_USE_UCONTEXT
#endif
#ifndef BOOST_USE_ASAN
#define BOOST_USE_ASAN
#endif
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#endif

#include <algorithm>
#include <functional>
#include <cxxabi.h>
#include <deque>
#include <exception>
#include <new>
#include <time.h>
#include <vector>

#include "platform/application.h"
#include "platform/eventloop_p.h"
#include "platform/exceptions.h"
#include "platform/schedulerturn_p.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <boost/context/fiber.hpp>
#include <boost/context/protected_fixedsize_stack.hpp>

#if defined(TLM_FIBER_UCONTEXT)
namespace boost::context::detail {

fiber_activation_record *&fiber_activation_record::current() noexcept
{
    // The running context's record. It starts as the record of the OS thread's own stack, which
    // is never freed, so a process that exits while fibers are suspended leaves them alone.
    thread_local fiber_activation_record *record = new fiber_activation_record();
    return record;
}

} // namespace boost::context::detail
#endif

namespace platform {

namespace ctx = boost::context;

namespace {

// Pages are committed only when touched, so a generous size costs address space only. A dialog
// or a paint run on a fiber needs far more than Boost's default.
constexpr std::size_t kStackSize = 4 * 1024 * 1024;
constexpr std::int64_t kSliceNs = 10'000'000;

#if defined(TLM_FIBER_UCONTEXT)
/// Fiber stacks handed back clean to the sanitizer. Frames that never return (the fiber's entry,
/// which ends by switching away) leave their redzones marked in the sanitizer's shadow memory;
/// the next stack or buffer mapped at that address would then read as an overflow.
class FiberStack
{
public:
    explicit FiberStack(std::size_t size)
        : m_stack(size)
    {
    }
    ctx::stack_context allocate() { return m_stack.allocate(); }
    void deallocate(ctx::stack_context &sctx) noexcept
    {
        __asan_unpoison_memory_region(static_cast<char *>(sctx.sp) - sctx.size, sctx.size);
        m_stack.deallocate(sctx);
    }

private:
    ctx::protected_fixedsize_stack m_stack;
};
#else
using FiberStack = ctx::protected_fixedsize_stack;
#endif

/// Nanoseconds of a clock that is read in a few nanoseconds; its resolution (a few ms) is
/// fine for a 10 ms slice.
std::int64_t CoarseNow() noexcept
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

/// The C++ runtime keeps the exceptions being handled and the count of those in flight per OS
/// thread (the Itanium ABI's __cxa_eh_globals). Each fiber gets its own copy, swapped at every
/// switch, so a thread suspended inside a catch block (a message box shown from a handler)
/// does not corrupt what another thread's handler sees.
struct EhState
{
    void *caughtExceptions = nullptr;
    unsigned int uncaughtExceptions = 0;
#if defined(__ARM_EABI_UNWINDER__)
    void *propagatingExceptions = nullptr;
#endif
};

EhState &EhGlobals() noexcept { return *reinterpret_cast<EhState *>(abi::__cxa_get_globals()); }

struct ThreadState
{
    Thread *self = nullptr;
    Thread::State state = Thread::State::NotRunning;
    ctx::fiber fiber; // the thread's continuation while it is not running
    ctx::fiber caller; // whoever resumed it, while it runs; a yield returns there
    std::shared_ptr<Thread> keepAlive; // held from Run until Event_Run has returned
    std::unique_ptr<QTimer> sleepTimer;
    EhState eh;
    int noYield = 0; // NoYieldScope depth, saved while the thread is switched out
    bool killRequested = false;
    bool dying = false; // DestroyAll is unwinding its stack
    std::vector<std::function<void()>> beforeLeaving; // see detail::BeforeLeaving
};

// What the thread asked to have done before other code runs; it may ask again meanwhile.
void RunBeforeLeaving(ThreadState *t)
{
    while (!t->beforeLeaving.empty()) {
        const auto pending = std::move(t->beforeLeaving);
        t->beforeLeaving.clear();
        for (const auto &fn : pending)
            fn();
    }
}

struct Queues
{
    std::deque<ThreadState *> ready; // exactly the threads in state Ready, in round-robin order
    std::vector<ThreadState *> live; // started and not ended
    QPointer<QCoreApplication> armedOn;
};

// Never destroyed: a process that exits with suspended threads leaves them alone.
Queues &Sched()
{
    static Queues *queues = new Queues;
    return *queues;
}

ThreadState *g_current = nullptr;
uint64_t g_turn = 0; // threads resumed until now
int g_noYield = 0;
bool g_deterministic = false;
bool g_pending = false;
bool g_loopTurnWanted = false; // a thread has asked the event loop to turn before any goes on
std::int64_t g_sliceEnd = 0;
int g_loopTurning = 0; // LoopTurningScope depth
std::int64_t g_nextGuiTurn = 0;

void OnPosted();

void Arm()
{
    Queues &s = Sched();
    if (s.ready.empty())
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || (g_pending && s.armedOn == app))
        return;
    g_pending = true;
    s.armedOn = app;
    QMetaObject::invokeMethod(
        app, [] { OnPosted(); }, Qt::QueuedConnection);
}

void MakeReady(ThreadState *t)
{
    t->state = Thread::State::Ready;
    Sched().ready.push_back(t);
    Arm();
}

void Unready(ThreadState *t)
{
    auto &ready = Sched().ready;
    ready.erase(std::remove(ready.begin(), ready.end(), t), ready.end());
}

/// Runs `t` (already taken off the ready queue) until it switches back. Returns on the
/// resumer's stack, whatever that is: the event loop, GUI code that yields, or a fiber that
/// runs a nested event loop.
void Resume(ThreadState *t)
{
    t->state = Thread::State::Running;
    // Pending before the thread runs: if it opens a nested event loop, the others go on.
    Arm();

    ThreadState *const savedCurrent = g_current;
    const int savedNoYield = g_noYield;
    const std::int64_t savedSliceEnd = g_sliceEnd;
    EhState &eh = EhGlobals();
    const EhState savedEh = eh;

    g_current = t;
    ++g_turn;
    g_noYield = t->noYield;
    g_sliceEnd = CoarseNow() + kSliceNs;
    eh = t->eh;
    t->fiber = std::move(t->fiber).resume();
    t->eh = eh;
    eh = savedEh;
    t->noYield = g_noYield;
    g_current = savedCurrent;
    g_noYield = savedNoYield;
    g_sliceEnd = savedCurrent && savedCurrent->killRequested ? 0 : savedSliceEnd;

    std::shared_ptr<Thread> ended;
    if (!t->fiber) {
        t->state = Thread::State::NotRunning;
        auto &live = Sched().live;
        live.erase(std::remove(live.begin(), live.end(), t), live.end());
        ended = std::move(t->keepAlive); // released here, off the finished stack
    }
    Arm();
}

/// On the thread's own stack: back to whoever resumed it. The caller has set the new state.
void SwitchOut(ThreadState *t)
{
    RunBeforeLeaving(t);
    t->caller = std::move(t->caller).resume();
    // Not while an exception unwinds the stack: a second one would end the process.
    if (t->killRequested && std::uncaught_exceptions() == 0)
        throw ThreadEndException();
}

void YieldNow(ThreadState *t)
{
    if (t->dying)
        return;
    t->state = Thread::State::Ready;
    Sched().ready.push_back(t);
    SwitchOut(t);
}

void RunRound()
{
    auto &ready = Sched().ready;
    for (std::size_t n = ready.size(); n > 0 && !ready.empty(); --n) {
        ThreadState *t = ready.front();
        ready.pop_front();
        Resume(t);
    }
}

/// The GUI code's yield inside a LoopTurningScope: like a worker's, it does nothing until its
/// slice is spent; then the event loop turns, and the scheduler's posted call in that turn gives
/// the ready threads their slice. So the GUI code and the threads share the time evenly, and the
/// windows repaint between the two. User input stays queued: a click or a close request handled
/// here would run inside the GUI code that yields.
void TurnLoopForGui()
{
    if (g_deterministic)
        RunRound();
    if (CoarseNow() < g_nextGuiTurn)
        return;
    {
        const detail::LoopTurnScope turn;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    g_nextGuiTurn = CoarseNow() + kSliceNs;
}

void OnPosted()
{
    g_pending = false;
    g_loopTurnWanted = false;
    // Several slices per turn of the event loop when they are short (deterministic mode), but
    // never more than one slice's worth of time, so the GUI stays responsive.
    auto &ready = Sched().ready;
    const std::int64_t end = CoarseNow() + kSliceNs;
    while (!ready.empty()) {
        ThreadState *t = ready.front();
        ready.pop_front();
        Resume(t);
        if (CoarseNow() >= end || g_loopTurnWanted)
            break;
    }
    Arm();
}

void StartSleep(ThreadState *t, int ms)
{
    t->state = Thread::State::Sleeping;
    if (!t->sleepTimer) {
        t->sleepTimer = std::make_unique<QTimer>();
        t->sleepTimer->setSingleShot(true);
        t->sleepTimer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire early
        QObject::connect(t->sleepTimer.get(), &QTimer::timeout, [t] {
            if (t->state == Thread::State::Sleeping)
                MakeReady(t);
        });
    }
    t->sleepTimer->start(ms);
}

void DestroyFiber(ThreadState *t)
{
    t->dying = true;
    ThreadState *const savedCurrent = g_current;
    const int savedNoYield = g_noYield;
    EhState &eh = EhGlobals();
    const EhState savedEh = eh;
    // The destructors on its stack see their own thread, and cannot yield.
    g_current = t;
    g_noYield = 0;
    eh = t->eh;
    {
        ctx::fiber doomed = std::move(t->fiber);
    }
    eh = savedEh;
    g_current = savedCurrent;
    g_noYield = savedNoYield;
    t->dying = false;
}

} // namespace

struct Thread::Impl : ThreadState
{
    /// The fiber's body: Event_Run, then the unhandled-exception handler if something escaped.
    static ctx::fiber Entry(ThreadState *t, ctx::fiber &&caller);
};

ctx::fiber Thread::Impl::Entry(ThreadState *t, ctx::fiber &&caller)
{
    t->caller = std::move(caller);
    // The ucontext backend enters a never-started fiber to destroy it.
    if (t->dying)
        return std::move(t->caller);

    std::exception_ptr error;
    try {
        if (t->killRequested)
            throw ThreadEndException();
        t->self->Event_Run();
    } catch (const ctx::detail::forced_unwind &) {
        throw;
    } catch (const ThreadEndException &) {
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        // Outside the catch block: the handler shows a message box, which suspends the thread.
        try {
            HandleUnhandledException(error);
        } catch (const ctx::detail::forced_unwind &) {
            throw;
        } catch (...) {
            // The thread is ending anyway (it was killed while its message box was up).
        }
        error = nullptr;
    }
    RunBeforeLeaving(t);
    return std::move(t->caller);
}

Thread::Thread()
    : m_impl(std::make_unique<Impl>())
{
    m_impl->self = this;
}

Thread::~Thread() = default;

void Thread::Run()
{
    ThreadState *t = m_impl.get();
    if (t->state != State::NotRunning)
        throw ThreadAlreadyRunningException("The thread is already running");
    std::shared_ptr<Thread> self = weak_from_this().lock();
    if (!self)
        throw RuntimeException("A thread must be made with std::make_shared before it runs");
    try {
        t->fiber = ctx::fiber(std::allocator_arg, FiberStack(kStackSize),
            [t](ctx::fiber &&caller) { return Impl::Entry(t, std::move(caller)); });
    } catch (const std::bad_alloc &) {
        throw OutOfMemoryException("No memory for the stack of a thread");
    } catch (const std::exception &e) {
        throw RuntimeException(std::string("Cannot make the stack of a thread: ") + e.what());
    }
    t->keepAlive = std::move(self);
    t->killRequested = false;
    t->noYield = 0;
    t->eh = {};
    Sched().live.push_back(t);
    MakeReady(t);
}

void Thread::Sleep(int ms)
{
    ThreadState *t = m_impl.get();
    if (t != g_current) {
        if (t->state == State::Ready) {
            Unready(t);
            StartSleep(t, ms);
        }
        return;
    }
    if (t->dying)
        return;
    if (ms <= 0 || t->killRequested) {
        YieldNow(t);
        return;
    }
    StartSleep(t, ms);
    SwitchOut(t);
}

void Thread::Kill()
{
    ThreadState *t = m_impl.get();
    if (t->state == State::NotRunning)
        return;
    t->killRequested = true;
    switch (t->state) {
    case State::Sleeping:
        t->sleepTimer->stop();
        MakeReady(t);
        break;
    case State::Suspended:
        MakeReady(t);
        break;
    case State::Running:
        if (t == g_current)
            g_sliceEnd = 0; // its next Yield switches, and the resume raises
        break;
    case State::Ready:
    case State::NotRunning:
        break;
    }
}

Thread::State Thread::GetState() const { return m_impl->state; }

void Yield()
{
    if (g_noYield != 0)
        return;
    ThreadState *t = g_current;
    if (!t) {
        if (g_loopTurning != 0 && QCoreApplication::instance())
            TurnLoopForGui();
        else
            RunRound();
        return;
    }
    if (!g_deterministic && CoarseNow() < g_sliceEnd)
        return;
    YieldNow(t);
}

Thread *CurrentThread() { return g_current ? g_current->self : nullptr; }

uint64_t detail::SchedulerTurn() { return g_turn; }

bool detail::BeforeLeaving(std::function<void()> fn)
{
    if (!g_current)
        return false;
    g_current->beforeLeaving.push_back(std::move(fn));
    return true;
}

void Scheduler::SetDeterministic(bool on) { g_deterministic = on; }

void Scheduler::EndSlice()
{
    if (!g_current)
        return;
    g_sliceEnd = 0;
    g_loopTurnWanted = true;
}

void Scheduler::Block()
{
    ThreadState *t = g_current;
    if (!t)
        throw RuntimeException("Only a cooperative thread can block");
    if (t->dying)
        return;
    if (t->killRequested) {
        YieldNow(t);
        return;
    }
    t->state = Thread::State::Suspended;
    SwitchOut(t);
}

void Scheduler::Wake(Thread *thread)
{
    if (!thread)
        return;
    ThreadState *t = thread->m_impl.get();
    if (t->state == Thread::State::Suspended)
        MakeReady(t);
}

Scheduler::NoYieldScope::NoYieldScope() { ++g_noYield; }

Scheduler::NoYieldScope::~NoYieldScope() { --g_noYield; }

bool Scheduler::NoYieldScope::Active() { return g_noYield != 0; }

Scheduler::LoopTurningScope::LoopTurningScope()
{
    if (g_loopTurning++ == 0)
        g_nextGuiTurn = CoarseNow() + kSliceNs;
}

Scheduler::LoopTurningScope::~LoopTurningScope()
{
    if (--g_loopTurning != 0)
        return;
    // Qt's dispatcher looks at the window system's queue only when it has been woken since it
    // last delivered: the input held back by the turns would wait for the next event of any
    // kind (a mouse move), however long that takes.
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

Scheduler::OutsideThreadScope::OutsideThreadScope()
    : m_saved(CurrentThread())
{
    g_current = nullptr;
}

Scheduler::OutsideThreadScope::~OutsideThreadScope()
{
    g_current = m_saved ? m_saved->m_impl.get() : nullptr;
}

std::size_t Scheduler::LiveCount() { return Sched().live.size(); }

void Scheduler::DestroyAll()
{
    auto &live = Sched().live;
    std::vector<std::shared_ptr<Thread>> released;
    for (;;) {
        // A thread on the current call chain cannot be destroyed from under itself.
        auto it = std::find_if(live.begin(), live.end(),
            [](ThreadState *t) { return t->state != Thread::State::Running; });
        if (it == live.end())
            break;
        ThreadState *t = *it;
        live.erase(it);
        Unready(t);
        if (t->sleepTimer)
            t->sleepTimer->stop();
        DestroyFiber(t);
        t->state = Thread::State::NotRunning;
        released.push_back(std::move(t->keepAlive));
    }
    // The thread objects go only once every stack is gone: one may own objects another uses.
    released.clear();
}

} // namespace platform
