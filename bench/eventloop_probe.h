#pragma once

// How responsive the program stays while it works: a zero-interval timer fires at every turn of
// the event loop, and the probe keeps the number of turns and the longest time between two.

#include <algorithm>
#include <chrono>

#include <QTimer>

namespace bench {

class EventLoopProbe
{
public:
    using Clock = std::chrono::steady_clock;

    EventLoopProbe()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Turn(); });
    }

    void Start()
    {
        m_turns = 0;
        m_largest = Clock::duration::zero();
        m_start = m_last = Clock::now();
        m_timer.start();
    }

    /// Ends the measurement; the time since the last turn counts as a gap too.
    void Stop()
    {
        Turn();
        m_timer.stop();
        m_end = m_last;
    }

    double TurnsPerSecond() const
    {
        const double seconds = std::chrono::duration<double>(m_end - m_start).count();
        return seconds > 0 ? double(m_turns) / seconds : 0;
    }
    double LargestGapMs() const
    {
        return std::chrono::duration<double, std::milli>(m_largest).count();
    }

private:
    void Turn()
    {
        const auto now = Clock::now();
        m_largest = std::max(m_largest, now - m_last);
        m_last = now;
        ++m_turns;
    }

    QTimer m_timer;
    long m_turns = 0;
    Clock::duration m_largest {};
    Clock::time_point m_start, m_last, m_end;
};

} // namespace bench
