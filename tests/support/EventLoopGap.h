#pragma once

#include <QElapsedTimer>
#include <QTimer>

namespace kadmel::test {

// A person feels a stall from 100 ms on; a build with the address sanitizer runs several times slower.
#ifdef __SANITIZE_ADDRESS__
inline constexpr qint64 StallLimitMs = 400;
#else
inline constexpr qint64 StallLimitMs = 100;
#endif

// The longest the event loop went without turning while this lives: the largest interval between the
// ticks of a 5 ms timer, as a person would feel a stall.
class EventLoopGap
{
public:
    EventLoopGap()
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { longestMs(); });
        m_timer.start(5);
    }
    qint64 longestMs()
    {
        m_longest = std::max(m_longest, m_clock.elapsed() - std::exchange(m_last, m_clock.elapsed()));
        return m_longest;
    }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0, m_longest = 0;
};

} // namespace kadmel::test
