#include "ui/BrowserSignIn.h"

#include "engine/OAuthTokenSource.h"

#include "store/Ansi.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>

#include <array>

namespace kadmel {
namespace {

// A token answer is a few kilobytes at most; a service that sends more is cut off, not buffered.
constexpr qint64 MaxAnswerBytes = 64 * 1024;

class BoundedNetwork : public QNetworkAccessManager
{
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* data) override
    {
        QNetworkReply* reply = QNetworkAccessManager::createRequest(op, request, data);
        connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
            if (received > MaxAnswerBytes)
                reply->abort();
        });
        return reply;
    }
};

constexpr QByteArray::Base64Options UrlSafe = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// 64 characters of [A-Za-z0-9_-] from the system's random source: the proof that the code is ours (PKCE).
QByteArray newVerifier()
{
    std::array<quint32, 12> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.data()), sizeof(words)).toBase64(UrlSafe);
}

QByteArray challengeOf(const QByteArray& verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(UrlSafe);
}

QUrl addressOf(const QByteArray& text)
{
    return QUrl(authText(text).trimmed(), QUrl::StrictMode);
}

// What a token endpoint says went wrong: its error_description, else its error code; empty for anything else.
QString endpointError(const QByteArray& body)
{
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    const QString description = answer.value(QLatin1String("error_description")).toString();
    return description.isEmpty() ? answer.value(QLatin1String("error")).toString() : description;
}

} // namespace

BrowserOpener systemBrowserOpener()
{
    return [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

BrowserSignIn::BrowserSignIn(const BrowserSignInSetup& setup, QObject* parent)
    : QObject(parent), m_opener(setup.opener), m_network(new BoundedNetwork(this))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(setup.timeLimit);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("Sie wurde nicht rechtzeitig im Browser abgeschlossen.")); });
    connect(m_network, &QNetworkAccessManager::finished, this, &BrowserSignIn::tokenReplyFinished);
}

BrowserSignIn::~BrowserSignIn()
{
    finish();
}

bool BrowserSignIn::start(const AuthSetting& setting, QString* error)
{
    const QUrl authorization = addressOf(setting.authorizationUrl);
    const QUrl token = addressOf(setting.tokenUrl);
    const auto refuse = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (isRunning())
        return refuse(QStringLiteral("Eine Anmeldung im Browser läuft bereits."));
    if (!isSafeOAuthAddress(authorization))
        return refuse(QStringLiteral("Die Autorisierungsadresse muss eine https-Adresse sein."));
    if (!isSafeOAuthAddress(token))
        return refuse(QStringLiteral("Die Token-Adresse muss eine https-Adresse sein."));
    if (setting.clientId.trimmed().isEmpty())
        return refuse(QStringLiteral("Bitte geben Sie die Client-ID an."));

    auto* redirect = new QOAuthHttpServerReplyHandler(QHostAddress::LocalHost, 0, this);
    if (!redirect->isListening()) {
        delete redirect;
        return refuse(QStringLiteral("Für die Rückleitung aus dem Browser ist kein lokaler Anschluss frei."));
    }
    redirect->setCallbackText(
        QStringLiteral("Kadmel Mail System: Anmeldung empfangen. Sie k&ouml;nnen dieses Fenster schlie&szlig;en."));
    auto* flow = new QOAuth2AuthorizationCodeFlow(m_network, this);
    flow->setReplyHandler(redirect);
    flow->setAuthorizationUrl(authorization);
    flow->setAccessTokenUrl(token);
    flow->setClientIdentifier(authText(setting.clientId).trimmed());
    flow->setClientIdentifierSharedKey(authText(setting.clientSecret)); // public clients have none
    flow->setScope(authText(setting.scope).trimmed());
    // Google hands out a refresh token only when asked for offline access, and again only with consent.
    const bool google = authorization.host().compare(QLatin1String("accounts.google.com"), Qt::CaseInsensitive) == 0;
    const QString verifier = QString::fromLatin1(newVerifier());
    flow->setModifyParametersFunction([verifier, google](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* p) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            p->insert(QStringLiteral("code_challenge"), QString::fromLatin1(challengeOf(verifier.toLatin1())));
            p->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            if (google) {
                p->insert(QStringLiteral("access_type"), QStringLiteral("offline"));
                p->insert(QStringLiteral("prompt"), QStringLiteral("consent"));
            }
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            p->insert(QStringLiteral("code_verifier"), verifier);
        }
    });
    connect(flow, &QAbstractOAuth::authorizeWithBrowser, this, [this](const QUrl& url) {
        if (m_opener)
            m_opener(url);
    });
    connect(flow, &QAbstractOAuth2::error, this, [this](const QString& code, const QString& description) {
        fail(description.isEmpty() ? code : description);
    });
    connect(flow, &QAbstractOAuth::granted, this, [this] {
        const QByteArray refreshToken = toAnsi(m_flow->refreshToken());
        if (refreshToken.isEmpty())
            return fail(QStringLiteral("Der Anmeldedienst hat kein Aktualisierungstoken geliefert (fehlt "
                                       "„offline_access“ im Bereich?)."));
        finish();
        Q_EMIT succeeded(refreshToken);
    });
    m_flow = flow;
    m_redirect = redirect;
    m_timer.start();
    flow->grant();
    return true;
}

bool BrowserSignIn::isRunning() const
{
    return m_flow != nullptr;
}

void BrowserSignIn::cancel()
{
    finish();
}

void BrowserSignIn::finish()
{
    m_timer.stop();
    // A token request still under way must not reach the flow once it is gone.
    for (QNetworkReply* reply : m_network->findChildren<QNetworkReply*>()) {
        disconnect(reply, nullptr, nullptr, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    if (m_redirect) {
        m_redirect->close();
        m_redirect->deleteLater();
    }
    if (m_flow)
        m_flow->deleteLater();
    m_flow = nullptr;
    m_redirect = nullptr;
}

void BrowserSignIn::fail(const QString& reason)
{
    finish();
    Q_EMIT failed(QStringLiteral("Die Anmeldung im Browser ist fehlgeschlagen.\n") + reason);
}

// The flow itself drops a refused token request without a word; the endpoint's reason is read here, before it.
void BrowserSignIn::tokenReplyFinished(QNetworkReply* reply)
{
    if (!isRunning())
        return;
    // Only the size cap cancels a running request; an answer that came whole before it could is refused here.
    if (reply->error() == QNetworkReply::OperationCanceledError || reply->bytesAvailable() > MaxAnswerBytes)
        return fail(QStringLiteral("Die Antwort des Anmeldedienstes ist zu lang."));
    const QString reason = endpointError(reply->peek(MaxAnswerBytes));
    if (!reason.isEmpty())
        return fail(reason);
    if (reply->error() != QNetworkReply::NoError)
        return fail(reply->errorString());
    // A success the flow could not read (no access token, an unknown content type) leaves it waiting.
    QTimer::singleShot(0, this, [this, flow = m_flow] {
        if (isRunning() && m_flow == flow)
            fail(QStringLiteral("Die Antwort des Anmeldedienstes ist unvollständig."));
    });
}

} // namespace kadmel
