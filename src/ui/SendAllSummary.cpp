#include "ui/SendAllSummary.h"

#include "engine/Dispatcher.h"
#include "ui/StatusPanel.h"

namespace kadmel {

QString sendAllSummaryText(int sent, int failed, std::optional<int> notTried)
{
    if (notTried)
        return QStringLiteral("Alle Senden abgebrochen: %1 gesendet, %2 fehlgeschlagen, %3 nicht versucht.")
            .arg(sent)
            .arg(failed)
            .arg(*notTried);
    return QStringLiteral("Alle Senden: %1 gesendet, %2 fehlgeschlagen.").arg(sent).arg(failed);
}

SendAllSummary::SendAllSummary(Dispatcher& dispatcher, StatusPanel& panel, QObject* parent)
    : QObject(parent), m_panel(panel)
{
    connect(&dispatcher, &Dispatcher::mailFiled, this, [this](qint16, bool sent) {
        if (m_running)
            ++(sent ? m_sent : m_failed);
    });
    connect(&dispatcher, &Dispatcher::resendFinished, this, [this](bool stopped, int notTried) {
        if (!m_running)
            return;
        m_running = false;
        m_panel.setText(sendAllSummaryText(m_sent, m_failed, stopped ? std::optional(notTried) : std::nullopt));
    });
}

void SendAllSummary::begin()
{
    m_running = true;
    m_sent = 0;
    m_failed = 0;
}

} // namespace kadmel
