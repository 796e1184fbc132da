#include "imap/MailboxPlan.h"

#include "engine/DeliveryDecision.h"

namespace kadmel {

MailboxPlan decideMailbox(const Settings& settings, const KadmelIni& ini)
{
    MailboxPlan plan;
    plan.problem = ini.reportMailboxProblem;
    if (!ini.reportMailbox.isSet())
        return plan;
    const DeliveryDecision delivery = decideDelivery(settings, ini);
    if (!delivery.plan) {
        plan.problem = delivery.reason.isEmpty()
                           ? QStringLiteral("Die Einstellungen für den Versand sind unvollständig.")
                           : delivery.reason;
        return plan;
    }
    const SmtpServer& smtp = delivery.plan->server;
    // Sending may go without a sign-in; an inbox never opens without one.
    if (!delivery.plan->oauth && (smtp.SMTPAuthUser.trimmed().isEmpty() || smtp.SMTPAuthPass.isEmpty())) {
        plan.problem = QStringLiteral("Für das Postfach fehlen Benutzername oder Passwort.");
        return plan;
    }
    plan.mailbox = ini.reportMailbox;
    // 993 is IMAP over TLS from the first byte; any other port is asked for STARTTLS.
    plan.server = {ini.reportMailbox.host, ini.reportMailbox.port, ini.reportMailbox.port == ImapsPort,
                   smtp.SMTPAuthUser, smtp.SMTPAuthPass};
    plan.oauth = delivery.plan->oauth;
    return plan;
}

} // namespace kadmel
