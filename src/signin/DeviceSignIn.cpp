#include "signin/DeviceSignIn.h"

#include "store/Ansi.h"

namespace kadmel {
namespace {

// What the reasons call the address that gives the code, as the dialog labels it.
const QString DeviceAddress = QStringLiteral("Gerätecode-Adresse");
// RFC 8628: without an interval the client waits 5 s, and "slow_down" adds 5 s.
constexpr int DefaultIntervalS = 5;
constexpr int SlowDownS = 5;

QByteArray clientForm(const AuthSetting& setting)
{
    QByteArray form = "client_id=" + formEncoded(authText(setting.clientId).trimmed());
    if (!setting.clientSecret.isEmpty()) // Google wants its desktop client's secret, Microsoft none
        form += "&client_secret=" + formEncoded(authText(setting.clientSecret));
    return form;
}

} // namespace

QString DeviceSignIn::startProblem(const AuthSetting& setting)
{
    if (!isSafeOAuthAddress(QUrl(authText(setting.tokenUrl).trimmed(), QUrl::StrictMode)))
        return QStringLiteral("Die Token-Adresse muss eine https-Adresse sein.");
    return fromAnsi(tokenAddressRefusal(setting.authorizationUrl, DeviceAddress));
}

DeviceSignIn::DeviceSignIn(const AuthSetting& setting, const SignInTimings& timings, QObject* parent)
    : SignInJob(parent), m_timings(timings), m_setting(setting)
{
    m_poll.setSingleShot(true);
    m_expiry.setSingleShot(true);
    connect(&m_poll, &QTimer::timeout, this, &DeviceSignIn::poll);
    connect(&m_expiry, &QTimer::timeout, this, [this] {
        failWith(QStringLiteral("Der Code ist abgelaufen, ohne dass die Anmeldung abgeschlossen wurde."));
    });
    if (const QString problem = startProblem(setting); !problem.isEmpty()) {
        failWith(problem);
        return;
    }
    QByteArray form = clientForm(setting);
    if (const QString scope = authText(setting.scope).trimmed(); !scope.isEmpty())
        form += "&scope=" + formEncoded(scope);
    post(setting.authorizationUrl, form, DeviceAddress);
}

void DeviceSignIn::post(const QByteArray& address, const QByteArray& form, const QString& name)
{
    m_tokens = startJob<TokenRequest>(address, form, m_timings.request, name);
    connect(m_tokens.get(), &Job::finished, this, [this] {
        answered(TokenAnswer(m_tokens->answer())); // a copy: the request is dropped on the way
    });
}

void DeviceSignIn::failWith(const QString& reason)
{
    m_tokens.reset();
    m_poll.stop();
    m_expiry.stop();
    fail(QStringLiteral("Die Anmeldung mit Code ist fehlgeschlagen.\n") + reason);
}

void DeviceSignIn::answered(const TokenAnswer& answer)
{
    if (m_deviceCode.isEmpty())
        return codeAnswered(answer);
    const QString& error = answer.error;
    if (error == QLatin1String("authorization_pending") || error == QLatin1String("slow_down")) {
        if (error == QLatin1String("slow_down"))
            m_intervalS += SlowDownS;
        return m_poll.start(m_timings.deviceSecond * m_intervalS);
    }
    // The service's own description, where it gave one, is said as the browser's return says it.
    QString described = answer.object.value(QStringLiteral("error_description")).toString().trimmed();
    if (!described.isEmpty())
        described = fromAnsi(answer.reason); // the same, cut to one line
    if (error == QLatin1String("expired_token"))
        return failWith(QStringLiteral("Der Code ist abgelaufen. Bitte melden Sie sich erneut an.") +
                        (described.isEmpty() ? QString() : QLatin1Char('\n') + described));
    if (error == QLatin1String("access_denied"))
        return failWith(QStringLiteral("Die Anmeldung wurde abgelehnt") +
                        (described.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + described));
    if (const std::optional<QString> refusal = signInRefusal(answer))
        return failWith(*refusal);
    m_expiry.stop();
    succeed(answer.refreshToken, answer.account);
}

void DeviceSignIn::codeAnswered(const TokenAnswer& answer)
{
    const QJsonObject& o = answer.object;
    m_deviceCode = o.value(QStringLiteral("device_code")).toString().toUtf8();
    const QString userCode = o.value(QStringLiteral("user_code")).toString();
    // Google names it verification_url.
    const QUrl address(
        o.value(QStringLiteral("verification_uri")).toString(o.value(QStringLiteral("verification_url")).toString()),
        QUrl::StrictMode);
    const qint64 lifeS = o.value(QStringLiteral("expires_in")).toVariant().toLongLong();
    if (!answer.error.isEmpty() || o.isEmpty()) // a refusal, or no answer at all
        return failWith(fromAnsi(answer.reason));
    if (m_deviceCode.isEmpty() || userCode.isEmpty() || !address.isValid() ||
        address.scheme() != QLatin1String("https") || lifeS <= 0)
        return failWith(QStringLiteral("Die Gerätecode-Adresse gab keinen verwendbaren Code."));
    m_intervalS = o.value(QStringLiteral("interval")).toInt(DefaultIntervalS);
    m_intervalS = qBound(1, m_intervalS, 60);
    m_expiry.start(m_timings.deviceSecond * qMin(lifeS, qint64(3600)));
    m_poll.start(m_timings.deviceSecond * m_intervalS);
    m_userCode = userCode;
    wait(address, QStringLiteral("Code %1 eingeben unter:").arg(userCode));
}

void DeviceSignIn::poll()
{
    post(m_setting.tokenUrl,
         "grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code&device_code=" +
             formEncoded(QString::fromUtf8(m_deviceCode)) + '&' + clientForm(m_setting),
         QStringLiteral("Token-Adresse"));
}

} // namespace kadmel
