#include "engine/SignInHelp.h"

#include <QRegularExpression>

namespace kadmel {

QByteArray signInHelp(const QByteArray& reply, SignInMechanism mechanism)
{
    // Microsoft 365 says so when SMTP AUTH is off for the mailbox or the whole tenant.
    if (reply.contains("5.7.139") || reply.contains("SmtpClientAuthentication is disabled"))
        return "Hinweis: SMTP AUTH ist f\xFCr das Postfach oder den Mandanten abgeschaltet "
               "(Set-CASMailbox -SmtpClientAuthenticationDisabled $false).";
    static const QRegularExpression Mismatch(QStringLiteral("\\b5\\.7\\.3\\b"));
    if (mechanism == SignInMechanism::XOAuth2 && Mismatch.match(QString::fromLatin1(reply)).hasMatch())
        return "Hinweis: Das Token geh\xF6rt zu einem anderen Konto als dem Benutzernamen, oder dem Konto fehlt "
               "die Berechtigung (SMTP.Send, Senden als).";
    return {};
}

} // namespace kadmel
