#pragma once

#include <QSignalSpy>
#include <QTimer>

namespace kadmel::test {

// Runs the event loop until a timer of `ms`, started now, has fired. Qt fires due timers in the order of their
// deadlines, so every timer of a shorter interval running meanwhile has fired within its last interval before,
// on a loaded machine too: "nothing happened within ms" is then something seen, not a guess.
inline bool letTimePass(int ms)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QSignalSpy fired(&timer, &QTimer::timeout);
    timer.start(ms);
    return fired.wait(ms + 60000);
}

} // namespace kadmel::test
