#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace kadmel::test {

// The longest the event loop went without turning while this lives: the largest interval between the
// ticks of a 5 ms timer, as a person would feel a stall.
class EventLoopGap
{
public:
    EventLoopGap()
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start(5);
    }
    qint64 longestMs()
    {
        tick();
        return m_longest;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

} // namespace kadmel::test
