#include "service/ServiceView.h"

namespace kadmel {

void ServiceView::setServiceState(bool active)
{
    m_status.active = active;
    if (active)
        m_status.startRefusal.clear();
    changed();
}

void ServiceView::setMessage(const QByteArray& text)
{
    m_status.message = text;
    changed();
}

void ServiceView::setRetryTimes(const QMap<qint16, QDateTime>& nextAttempts)
{
    m_status.retryTimes = nextAttempts;
    changed();
}

void ServiceView::setRunProgress(const QByteArray& text)
{
    m_status.runProgress = text;
    changed();
}

void ServiceView::setIdle(bool idle)
{
    m_status.idle = idle;
    changed();
}

void ServiceView::startRefused(StartCheck check, const QString& reason)
{
    // The window's words for the refusals that have no reason of their own.
    if (check == StartCheck::NoWatchFolder)
        m_status.startRefusal = QStringLiteral("KADMEL-Ordner nicht gewählt.");
    else if (reason.isEmpty())
        m_status.startRefusal = QStringLiteral("Überprüfen Sie Ihre Einstellungen !...");
    else
        m_status.startRefusal = reason;
    changed();
}

void ServiceView::ShowAlert(const QByteArray& text)
{
    m_status.alert = text;
    changed();
}

void ServiceView::SetAlertText(const QByteArray& text)
{
    m_status.alert = text;
    changed();
}

void ServiceView::CloseAlert()
{
    m_status.alert.clear();
    changed();
}

void ServiceView::changed() const
{
    if (m_changed)
        m_changed();
}

} // namespace kadmel
