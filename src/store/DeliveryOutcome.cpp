#include "store/DeliveryOutcome.h"

#include <algorithm>

namespace kadmel {

DeliveryOutcome storedOutcome(const MailRecord& mail)
{
    DeliveryOutcome outcome;
    outcome.code = resultCodeOf(mail.Status).value_or(ResultCode::ServerReply);
    const QByteArrayList& received = mail.Log.Received;
    const QByteArrayList& sent = mail.Log.Sent;
    if (outcome.sent()) {
        // The acceptance of the message, not the goodbye after it.
        const auto accepted =
            std::find_if(received.crbegin(), received.crend(), [](const QByteArray& r) { return r.startsWith("250"); });
        outcome.reply = accepted == received.crend() ? QByteArray() : accepted->trimmed();
        const qsizetype data = sent.lastIndexOf("DATA\r\n");
        if (data >= 0 && data + 1 < sent.size() && sent.at(data + 1).endsWith("\r\n.\r\n"))
            outcome.message = sent.at(data + 1).chopped(3);
    } else {
        for (auto it = received.crbegin(); it != received.crend() && outcome.reply.isEmpty(); ++it)
            outcome.reply = it->trimmed();
    }
    // The credentials are masked in the log; the command names the mechanism.
    if (sent.contains("AUTH XOAUTH2 ****\r\n"))
        outcome.mechanism = SignInMechanism::XOAuth2;
    else if (sent.contains("AUTH PLAIN ****\r\n"))
        outcome.mechanism = SignInMechanism::Plain;
    else if (sent.contains("AUTH LOGIN\r\n"))
        outcome.mechanism = SignInMechanism::Login;
    return outcome;
}

} // namespace kadmel
