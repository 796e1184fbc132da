#pragma once

#include "smtp/ZUB_SMTP.h"

#include <QElapsedTimer>
#include <QSignalSpy>

namespace kadmel::test {

struct SendOutcome
{
    bool sent = false;
    QByteArray code = "(none)"; // "(flag)": the success flag disagrees with the code
    SmtpLog log;
    qint64 elapsedMs = 0;
    QList<QList<QVariant>> status, progress;
};

// Runs one SendMail on a client given its server and mail (a second one at once is refused) and waits up to
// waitMs for its single finished().
inline SendOutcome sendOnce(ZUB_SMTP& client, int waitMs)
{
    QSignalSpy finished(&client, &ZUB_SMTP::finished);
    QSignalSpy status(&client, &ZUB_SMTP::statusText);
    QSignalSpy progress(&client, &ZUB_SMTP::progress);
    SendOutcome out;
    QElapsedTimer clock;
    clock.start();
    if (!client.SendMail() || client.SendMail() || !finished.wait(waitMs))
        return out;
    out.elapsedMs = clock.elapsed();
    if (finished.size() != 1) // a second one from within the first; the session ends with it, so no later one
        return out;
    out.sent = finished.at(0).at(0).toBool();
    out.code = finished.at(0).at(1).toByteArray();
    out.code = out.sent == out.code.isEmpty() ? out.code : "(flag)";
    out.log = client.CurrentLog();
    out.status = status;
    out.progress = progress;
    return out;
}

} // namespace kadmel::test
