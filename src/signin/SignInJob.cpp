#include "signin/SignInJob.h"

#include "store/Ansi.h"

namespace kadmel {

std::optional<QString> signInRefusal(const TokenAnswer& answer)
{
    if (answer.accessToken.isEmpty())
        return fromAnsi(answer.reason);
    if (answer.refreshToken.isEmpty())
        return QStringLiteral("Der Anmeldedienst hat kein Aktualisierungstoken geliefert (fehlt „offline_access“ im "
                              "Bereich?).");
    return std::nullopt;
}

// Queued like finished(), so that a job made and waiting at once is heard in order.
void SignInJob::wait(const QUrl& address, const QString& caption)
{
    m_address = address;
    m_caption = caption;
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT waiting(); }, Qt::QueuedConnection);
}

void SignInJob::succeed(const QByteArray& refreshToken, const QString& account)
{
    if (isFinished())
        return;
    m_refreshToken = refreshToken;
    m_account = account;
    finish();
}

void SignInJob::fail(const QString& reason)
{
    if (isFinished())
        return;
    m_error = reason;
    finish();
}

} // namespace kadmel
