#pragma once

// How responsive the program stays while it works. Two probes run side by side: a call posted to
// the event loop that posts itself again each time it runs (it runs once per turn of the loop,
// in order with the other posted calls, such as the scheduler's), and a zero-interval timer
// (Qt dispatches timers apart from posted calls). Each keeps the number of times it ran and the
// longest time between two runs.

#include <algorithm>
#include <chrono>
#include <memory>

#include <QCoreApplication>
#include <QTimer>

namespace bench {

class EventLoopProbe
{
public:
    using Clock = std::chrono::steady_clock;

    EventLoopProbe()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_timed.Turn(Clock::now()); });
    }
    ~EventLoopProbe() { *m_alive = false; }
    EventLoopProbe(const EventLoopProbe &) = delete;
    EventLoopProbe &operator=(const EventLoopProbe &) = delete;

    void Start()
    {
        m_start = Clock::now();
        m_posted = Gaps(m_start);
        m_timed = Gaps(m_start);
        m_running = true;
        Post();
        m_timer.start();
    }

    /// Ends the measurement; the time since each probe's last run counts as a gap too.
    void Stop()
    {
        m_end = Clock::now();
        m_posted.Turn(m_end);
        m_timed.Turn(m_end);
        m_running = false;
        m_timer.stop();
    }

    /// Turns of the event loop per second: runs of the posted call.
    double TurnsPerSecond() const { return m_posted.PerSecond(m_start, m_end); }
    double LargestGapMs() const { return m_posted.LargestMs(); }
    double TimerRunsPerSecond() const { return m_timed.PerSecond(m_start, m_end); }
    double LargestTimerGapMs() const { return m_timed.LargestMs(); }

private:
    struct Gaps
    {
        Gaps() = default;
        explicit Gaps(Clock::time_point start)
            : last(start)
        {
        }
        void Turn(Clock::time_point now)
        {
            largest = std::max(largest, now - last);
            last = now;
            ++count;
        }
        double PerSecond(Clock::time_point start, Clock::time_point end) const
        {
            const double seconds = std::chrono::duration<double>(end - start).count();
            return seconds > 0 ? double(count) / seconds : 0;
        }
        double LargestMs() const
        {
            return std::chrono::duration<double, std::milli>(largest).count();
        }
        long count = 0;
        Clock::duration largest {};
        Clock::time_point last;
    };

    void Post()
    {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive = m_alive] {
                if (!*alive || !m_running)
                    return;
                m_posted.Turn(Clock::now());
                Post();
            },
            Qt::QueuedConnection);
    }

    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_running = false;
    QTimer m_timer;
    Gaps m_posted, m_timed;
    Clock::time_point m_start, m_end;
};

} // namespace bench
