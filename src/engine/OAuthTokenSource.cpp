#include "engine/OAuthTokenSource.h"

#include "engine/ByteText.h"
#include "store/Ansi.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>

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

QByteArray formValue(const QByteArray& stored)
{
    return authText(stored).toUtf8().toPercentEncoding();
}

QByteArray requestBody(const AuthSetting& setting)
{
    const bool service = setting.method == AuthMethod::OAuth2Dienst;
    QByteArray body = service ? "grant_type=client_credentials"
                              : "grant_type=refresh_token&refresh_token=" + formValue(setting.refreshToken);
    body += "&client_id=" + formValue(setting.clientId);
    if (service || !setting.clientSecret.isEmpty())
        body += "&client_secret=" + formValue(setting.clientSecret);
    if (!setting.scope.trimmed().isEmpty())
        body += "&scope=" + formValue(setting.scope.trimmed());
    return body;
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

} // namespace

bool isSafeOAuthAddress(const QUrl& url)
{
    return isWebAddress(url) && (url.scheme().toLower() == QLatin1String("https") || isLoopback(url.host()));
}

TokenAnswer readTokenAnswer(const QByteArray& body, int status, bool tlsFailed, const QString& transportError)
{
    const auto refused = [](const QString& reason) { return TokenAnswer{{}, {}, 0, reasonText(reason)}; };
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    // The address's own word comes first: an "error" answer usually arrives with HTTP 400 or 401.
    if (const QString code = object.value(QStringLiteral("error")).toString(); !code.isEmpty()) {
        const QString description = object.value(QStringLiteral("error_description")).toString().trimmed();
        return refused(description.isEmpty() ? QStringLiteral("Die Token-Adresse meldet „%1“.").arg(code)
                                             : description);
    }
    if (status == 0 && tlsFailed)
        return refused(QStringLiteral("Sichere Verbindung zur Token-Adresse fehlgeschlagen (%1).").arg(transportError));
    if (status == 0)
        return refused(QStringLiteral("Die Token-Adresse ist nicht erreichbar (%1).").arg(transportError));
    if (status >= 300 && status < 400)
        return refused(
            QStringLiteral("Die Token-Adresse leitet weiter (HTTP %1); dem wird nicht gefolgt.").arg(status));
    if (status != 200 || object.isEmpty())
        return refused(QStringLiteral("Die Token-Adresse gab keine gültige Antwort (HTTP %1).").arg(status));

    const QByteArray token = object.value(QStringLiteral("access_token")).toString().toUtf8();
    const QString type = object.value(QStringLiteral("token_type")).toString(QStringLiteral("Bearer"));
    if (!usableToken(token) || type.compare(QStringLiteral("Bearer"), Qt::CaseInsensitive) != 0)
        return refused(QStringLiteral("Die Token-Adresse lieferte kein verwendbares Zugriffstoken."));
    return {token,
            toAnsi(object.value(QStringLiteral("refresh_token")).toString()),
            object.value(QStringLiteral("expires_in")).toVariant().toLongLong(),
            {}};
}

struct OAuthTokenSource::Private
{
    OAuthTokenSource* q;
    QString programFolder;
    int timeoutMs;
    std::unique_ptr<QNetworkAccessManager> manager; // made at the first request: a password sign-in needs none
    QPointer<QNetworkReply> reply;
    QTimer limit;
    QByteArray answer;
    AuthSetting asked;
    bool busy = false;
    quint64 session = 0;

    // The token kept in memory, for the setting it was got with.
    std::optional<AuthSetting> keptFor;
    QByteArray keptToken;
    QDeadlineTimer keptUntil; // monotonic: a clock set back does not lengthen a token's life

    Private(OAuthTokenSource* owner, const QString& folder, int timeout)
        : q(owner), programFolder(folder), timeoutMs(timeout)
    {}

    void finish(bool ok, const QByteArray& text)
    {
        limit.stop();
        if (reply) {
            QObject::disconnect(reply, nullptr, q, nullptr);
            reply->abort();
            reply->deleteLater();
        }
        reply = nullptr;
        answer.clear();
        busy = false;
        ++session;
        if (ok)
            Q_EMIT q->tokenReady(text);
        else
            Q_EMIT q->failed(text);
    }

    void finishLater(bool ok, const QByteArray& text)
    {
        const quint64 current = session;
        QTimer::singleShot(0, q, [this, current, ok, text] {
            if (busy && session == current)
                finish(ok, text);
        });
    }

    void fail(const QString& reason) { finish(false, reasonText(reason)); }

    // Adds what has arrived; an answer over the cap fails the request, and false says so.
    bool readAnswer()
    {
        answer += reply->readAll();
        if (answer.size() <= MaxAnswerBytes)
            return true;
        fail(QStringLiteral("Die Antwort der Token-Adresse ist größer als 1 MiB."));
        return false;
    }

    void onFinished()
    {
        if (!readAnswer())
            return;
        const TokenAnswer read =
            readTokenAnswer(answer, reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                            reply->error() == QNetworkReply::SslHandshakeFailedError, reply->errorString());
        if (read.accessToken.isEmpty())
            return finish(false, read.reason);

        AuthSetting used = asked;
        const QByteArray& refresh = read.refreshToken;
        if (asked.method == AuthMethod::OAuth2Browser && !refresh.isEmpty() && refresh != asked.refreshToken) {
            // The address may have retired the old one: the new one must be on disk before it is relied on.
            used.refreshToken = refresh;
            QString saveError;
            if (!saveAuthSetting(programFolder, used, &saveError))
                return fail(QStringLiteral("Das neue Aktualisierungstoken lässt sich nicht speichern: ") + saveError);
        }
        const qint64 lifeS = read.lifeS;
        keptFor.reset();
        if (lifeS > ExpiryMarginS && lifeS < 366LL * 24 * 3600) {
            keptFor = used;
            keptToken = read.accessToken;
            keptUntil = QDeadlineTimer((lifeS - ExpiryMarginS) * 1000);
        }
        finish(true, read.accessToken);
    }

    void post(const QUrl& url, const QByteArray& body)
    {
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        request.setRawHeader("Accept", "application/json");
        // A redirect would carry the secret to an address nobody configured.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        // A proxy of the environment must not see a test's or a local endpoint's traffic.
        if (!manager)
            manager = std::make_unique<QNetworkAccessManager>();
        manager->setProxy(isLoopback(url.host()) ? QNetworkProxy(QNetworkProxy::NoProxy) : QNetworkProxy());
        reply = manager->post(request, body);
        QObject::connect(reply, &QNetworkReply::readyRead, q, [this] { readAnswer(); });
        QObject::connect(reply, &QNetworkReply::finished, q, [this] { onFinished(); });
        limit.start(timeoutMs);
    }
};

OAuthTokenSource::OAuthTokenSource(const QString& programFolder, int timeoutMs, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, programFolder, timeoutMs))
{
    d->limit.setSingleShot(true);
    connect(&d->limit, &QTimer::timeout, this, [this] {
        d->fail(QStringLiteral("Die Token-Adresse hat nicht innerhalb von %1 s geantwortet.")
                    .arg(QString::number(d->timeoutMs / 1000.0, 'g', 3).replace(u'.', u',')));
    });
}

OAuthTokenSource::~OAuthTokenSource()
{
    if (d->reply) {
        QObject::disconnect(d->reply, nullptr, this, nullptr);
        d->reply->abort();
    }
}

bool OAuthTokenSource::request(const AuthSetting& setting)
{
    if (d->busy)
        return false;
    d->busy = true;
    d->asked = setting;
    if (d->keptFor == setting && !d->keptUntil.hasExpired()) {
        d->finishLater(true, d->keptToken);
        return true;
    }
    d->keptFor.reset();
    d->keptToken.clear();

    const QUrl url(QString::fromUtf8(setting.tokenUrl.trimmed()), QUrl::StrictMode);
    if (!isWebAddress(url)) {
        d->finishLater(false, reasonText(QStringLiteral("Die Token-Adresse ist keine gültige https-Adresse.")));
        return true;
    }
    if (!isSafeOAuthAddress(url)) {
        // Secret and tokens in the clear: not over any network.
        d->finishLater(false, reasonText(QStringLiteral("Die Token-Adresse muss mit „https://“ beginnen (http nur "
                                                        "auf diesem Rechner: 127.0.0.1, ::1, localhost).")));
        return true;
    }
    d->post(url, requestBody(setting));
    return true;
}

bool OAuthTokenSource::isBusy() const
{
    return d->busy;
}

void OAuthTokenSource::abort(const QByteArray& reason)
{
    if (d->busy)
        d->finish(false, reason);
}

} // namespace kadmel
