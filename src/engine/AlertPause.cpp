#include "engine/AlertPause.h"

namespace kadmel {

AlertPause::AlertPause(DispatcherView& view, int pauseMs, QObject* parent) : QObject(parent), m_view(view)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(pauseMs);
    connect(&m_timer, &QTimer::timeout, this, &AlertPause::end);
}

void AlertPause::begin()
{
    if (m_view.inTray() && !m_cut)
        m_timer.start();
    else
        Q_EMIT over();
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
    Q_EMIT over();
}

} // namespace kadmel
