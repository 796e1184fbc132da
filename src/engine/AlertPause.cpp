#include "engine/AlertPause.h"

#include <utility>

namespace kadmel {

AlertPause::AlertPause(DispatcherView& view, int pauseMs, QObject* parent) : QObject(parent), m_view(view)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(pauseMs);
    connect(&m_timer, &QTimer::timeout, this, &AlertPause::end);
}

void AlertPause::begin(bool holdQueue)
{
    const bool pause = m_view.inTray() && !m_cut;
    m_owed = pause && holdQueue;
    if (pause)
        m_timer.start();
    if (!m_owed)
        Q_EMIT over();
}

void AlertPause::mailInHand()
{
    if (!m_owed)
        m_timer.stop();
}

void AlertPause::cut()
{
    m_cut = true;
    if (m_timer.isActive())
        end();
}

void AlertPause::end()
{
    m_timer.stop();
    m_view.CloseAlert();
    if (std::exchange(m_owed, false))
        Q_EMIT over();
}

} // namespace kadmel
