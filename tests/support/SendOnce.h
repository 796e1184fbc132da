#pragma once

#include "smtp/ZUB_SMTP.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <memory>

namespace kadmel::test {

struct SendOutcome
{
    bool sent = false;
    QByteArray code = "(none)"; // codeBytes() of a failure, empty for a sent mail
    SmtpLog log;
    qint64 elapsedMs = 0;
    QList<QList<QVariant>> status, progress;
    std::shared_ptr<ZUB_SMTP> client; // kept, so its last bytes (the QUIT) still leave
};

// Runs one SendMail on a new client of these timings to the server (a second one at once is refused) and waits for
// its single finished() a little beyond the client's own limits.
inline SendOutcome sendOnce(const SmtpTimings& timings, const SmtpServer& server, const SmtpMail& mail)
{
    SendOutcome out;
    out.client = std::make_shared<ZUB_SMTP>(timings);
    ZUB_SMTP& client = *out.client;
    client.setServer(server);
    client.setMail(mail);
    QSignalSpy finished(&client, &ZUB_SMTP::finished);
    QSignalSpy status(&client, &ZUB_SMTP::statusText);
    QSignalSpy progress(&client, &ZUB_SMTP::progress);
    QElapsedTimer clock;
    clock.start();
    if (!client.SendMail() || client.SendMail() || !finished.wait(timings.connectMs + timings.conversationMs + 3000))
        return out;
    out.elapsedMs = clock.elapsed();
    if (finished.size() != 1) // a second one from within the first; the session ends with it, so no later one
        return out;
    const auto outcome = finished.at(0).at(0).value<DeliveryOutcome>();
    out.sent = outcome.sent();
    out.code = out.sent ? QByteArray() : codeBytes(outcome.code);
    if (client.ErrorResponse() != out.code) // the property and the signal tell one outcome
        out.code = "(ErrorResponse " + client.ErrorResponse() + ")";
    out.log = client.CurrentLog();
    out.status = status;
    out.progress = progress;
    return out;
}

} // namespace kadmel::test
