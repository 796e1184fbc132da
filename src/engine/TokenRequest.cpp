#include "engine/TokenRequest.h"

#include "engine/ByteText.h"
#include "store/Ansi.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QUrl>

namespace kadmel {
namespace {

// An answer's description is shown in a status line and kept in the mail file: a hostile address may
// send far more.
constexpr qsizetype MaxReasonBytes = 300;

bool isLoopback(const QString& host)
{
    return host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}

QByteArray reasonText(const QString& text)
{
    return oneLine(toAnsi(text), MaxReasonBytes);
}

// A token goes into the SMTP command line between \x01 separators: only printable ASCII may pass.
bool usableToken(const QByteArray& token)
{
    if (token.isEmpty())
        return false;
    for (const char c : token) {
        if (c < 0x21 || c > 0x7e)
            return false;
    }
    return true;
}

TokenAnswer refusedWith(const QString& reason)
{
    return {{}, {}, 0, reasonText(reason), {}, {}, {}};
}

// The mailbox an OpenID "id_token" names. It came straight from the token address over a checked connection,
// so its payload is read without checking its signature; it is only shown, never trusted for access.
QString accountOf(const QString& idToken)
{
    const QByteArray payload = idToken.toLatin1().split('.').value(1);
    const QJsonObject claims =
        QJsonDocument::fromJson(QByteArray::fromBase64(payload, QByteArray::Base64UrlEncoding)).object();
    const QString email = claims.value(QStringLiteral("email")).toString();
    return email.isEmpty() ? claims.value(QStringLiteral("preferred_username")).toString() : email;
}

} // namespace

QByteArray formEncoded(const QString& value)
{
    return value.toUtf8().toPercentEncoding();
}

bool isSafeOAuthAddress(const QUrl& url)
{
    return isWebAddress(url) && (url.scheme().toLower() == QLatin1String("https") || isLoopback(url.host()));
}

TokenAnswer readTokenAnswer(const QByteArray& body, int status, bool tlsFailed, const QString& transportError,
                            const QString& name)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    // The address's own word comes first: an "error" answer usually arrives with HTTP 400 or 401.
    if (const QString code = object.value(QStringLiteral("error")).toString(); !code.isEmpty()) {
        const QString description = object.value(QStringLiteral("error_description")).toString().trimmed();
        TokenAnswer refusal =
            refusedWith(description.isEmpty() ? QStringLiteral("Die %1 meldet „%2“.").arg(name, code) : description);
        refusal.error = code;
        refusal.object = object;
        return refusal;
    }
    if (status == 0 && tlsFailed)
        return refusedWith(QStringLiteral("Sichere Verbindung zur %1 fehlgeschlagen (%2).").arg(name, transportError));
    if (status == 0)
        return refusedWith(QStringLiteral("Die %1 ist nicht erreichbar (%2).").arg(name, transportError));
    if (status >= 300 && status < 400)
        return refusedWith(
            QStringLiteral("Die %1 leitet weiter (HTTP %2); dem wird nicht gefolgt.").arg(name).arg(status));
    if (status != 200 || object.isEmpty())
        return refusedWith(QStringLiteral("Die %1 gab keine gültige Antwort (HTTP %2).").arg(name).arg(status));

    const QByteArray token = object.value(QStringLiteral("access_token")).toString().toUtf8();
    const QString type = object.value(QStringLiteral("token_type")).toString(QStringLiteral("Bearer"));
    if (!usableToken(token) || type.compare(QStringLiteral("Bearer"), Qt::CaseInsensitive) != 0) {
        TokenAnswer refusal = refusedWith(QStringLiteral("Die %1 lieferte kein verwendbares Zugriffstoken.").arg(name));
        refusal.object = object;
        return refusal;
    }
    return {token,
            toAnsi(object.value(QStringLiteral("refresh_token")).toString()),
            object.value(QStringLiteral("expires_in")).toVariant().toLongLong(),
            {},
            {},
            accountOf(object.value(QStringLiteral("id_token")).toString()),
            object};
}

QByteArray tokenAddressRefusal(const QByteArray& address, const QString& name)
{
    const QUrl url(QString::fromUtf8(address.trimmed()), QUrl::StrictMode);
    if (!isWebAddress(url))
        return reasonText(QStringLiteral("Die %1 ist keine gültige https-Adresse.").arg(name));
    // Secret and tokens in the clear: not over any network.
    if (!isSafeOAuthAddress(url))
        return reasonText(QStringLiteral("Die %1 muss mit „https://“ beginnen (http nur auf diesem Rechner: "
                                         "127.0.0.1, ::1, localhost).")
                              .arg(name));
    return {};
}

TokenRequest::TokenRequest(const QByteArray& address, const QByteArray& form, std::chrono::milliseconds timeLimit,
                           const QString& name, QObject* parent)
    : Job(parent), m_name(name), m_manager(new QNetworkAccessManager(this))
{
    if (const QByteArray refusal = tokenAddressRefusal(address, name); !refusal.isEmpty()) {
        m_result = refusedWith(fromAnsi(refusal));
        finish();
        return;
    }
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, [this, timeLimit] {
        end(refusedWith(QStringLiteral("Die %1 hat nicht innerhalb von %2 s geantwortet.")
                            .arg(m_name, QString::number(timeLimit.count() / 1000.0, 'g', 3).replace(u'.', u','))));
    });
    const QUrl url(QString::fromUtf8(address.trimmed()), QUrl::StrictMode);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    // A redirect would carry the secret to an address nobody configured.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // A proxy of the environment must not see a test's or a local endpoint's traffic.
    m_manager->setProxy(isLoopback(url.host()) ? QNetworkProxy(QNetworkProxy::NoProxy) : QNetworkProxy());
    m_reply = m_manager->post(request, form);
    connect(m_reply, &QNetworkReply::readyRead, this, &TokenRequest::readMore);
    connect(m_reply, &QNetworkReply::finished, this, &TokenRequest::onFinished);
    m_limit.start(timeLimit);
}

TokenRequest::~TokenRequest()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
}

void TokenRequest::readMore()
{
    m_answer += m_reply->readAll();
    if (m_answer.size() > MaxAnswerBytes)
        end(refusedWith(QStringLiteral("Die Antwort der %1 ist größer als 1 MiB.").arg(m_name)));
}

void TokenRequest::onFinished()
{
    readMore();
    if (!m_reply)
        return; // over the cap: already finished
    end(readTokenAnswer(m_answer, m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                        m_reply->error() == QNetworkReply::SslHandshakeFailedError, m_reply->errorString(), m_name));
}

// The reply goes with its manager, a child of this job.
void TokenRequest::end(const TokenAnswer& answer)
{
    m_limit.stop();
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
    m_reply = nullptr;
    m_answer.clear();
    m_result = answer;
    finish();
}

} // namespace kadmel
