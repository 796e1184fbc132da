#include "ui/BrowserSignIn.h"

#include "store/Ansi.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QHostAddress>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <array>

namespace kadmel {
namespace {

// The code is traded within the sign-in's own time limit; this bounds only the exchange itself.
constexpr int TokenExchangeMs = 30000;

constexpr QByteArray::Base64Options UrlSafe = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// 64 characters of [A-Za-z0-9_-] from the system's random source: the proof that the code is ours (PKCE),
// and the state that ties the browser's return to this attempt.
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

QByteArray formValue(const QString& text)
{
    return text.toUtf8().toPercentEncoding();
}

QString callbackValue(const QVariantMap& values, const char* key)
{
    return QUrl::fromPercentEncoding(values.value(QLatin1String(key)).toString().toUtf8());
}

} // namespace

BrowserOpener systemBrowserOpener()
{
    return [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

BrowserSignIn::BrowserSignIn(const BrowserSignInSetup& setup, QObject* parent)
    : QObject(parent), m_opener(setup.opener), m_tokens(TokenExchangeMs)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(setup.timeLimit);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("Sie wurde nicht rechtzeitig im Browser abgeschlossen.")); });
    connect(&m_tokens, &TokenRequest::finished, this, &BrowserSignIn::answered);
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
    connect(redirect, &QAbstractOAuthReplyHandler::callbackReceived, this, &BrowserSignIn::callback);
    m_redirect = redirect;
    m_setting = setting;
    m_state = newVerifier().left(32);
    m_verifier = newVerifier();

    QUrl page = authorization;
    // Each value percent-encoded here: one with "+" or "&" reaches the service as it was typed.
    QUrlQuery encoded(page);
    encoded.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    encoded.addQueryItem(QStringLiteral("client_id"),
                         QString::fromLatin1(formValue(authText(setting.clientId).trimmed())));
    encoded.addQueryItem(QStringLiteral("redirect_uri"), QString::fromLatin1(formValue(redirect->callback())));
    if (const QString scope = authText(setting.scope).trimmed(); !scope.isEmpty())
        encoded.addQueryItem(QStringLiteral("scope"), QString::fromLatin1(formValue(scope)));
    encoded.addQueryItem(QStringLiteral("state"), QString::fromLatin1(m_state));
    encoded.addQueryItem(QStringLiteral("code_challenge"), QString::fromLatin1(challengeOf(m_verifier)));
    encoded.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    // Google hands out a refresh token only when asked for offline access, and again only with consent.
    if (authorization.host().compare(QLatin1String("accounts.google.com"), Qt::CaseInsensitive) == 0) {
        encoded.addQueryItem(QStringLiteral("access_type"), QStringLiteral("offline"));
        encoded.addQueryItem(QStringLiteral("prompt"), QStringLiteral("consent"));
    }
    page.setQuery(encoded.query(QUrl::FullyEncoded), QUrl::StrictMode);
    m_timer.start();
    if (m_opener)
        m_opener(page);
    return true;
}

bool BrowserSignIn::isRunning() const
{
    return m_redirect != nullptr;
}

void BrowserSignIn::cancel()
{
    finish();
}

void BrowserSignIn::finish()
{
    m_timer.stop();
    m_tokens.abort();
    if (m_redirect) {
        m_redirect->close();
        m_redirect->deleteLater();
    }
    m_redirect = nullptr;
}

void BrowserSignIn::fail(const QString& reason)
{
    finish();
    Q_EMIT failed(QStringLiteral("Die Anmeldung im Browser ist fehlgeschlagen.\n") + reason);
}

// Only a return with this attempt's state counts: any other request to the listener (a stray page, the
// browser's icon request) is left unanswered in meaning.
void BrowserSignIn::callback(const QVariantMap& values)
{
    if (!isRunning() || m_tokens.isRunning() || callbackValue(values, "state").toLatin1() != m_state)
        return;
    if (const QString error = callbackValue(values, "error"); !error.isEmpty()) {
        const QString description = callbackValue(values, "error_description");
        return fail(description.isEmpty() ? error : description);
    }
    const QString code = callbackValue(values, "code");
    if (code.isEmpty())
        return;
    QByteArray form = "grant_type=authorization_code&code=" + formValue(code) +
                      "&redirect_uri=" + formValue(m_redirect->callback()) +
                      "&client_id=" + formValue(authText(m_setting.clientId).trimmed());
    if (!m_setting.clientSecret.isEmpty()) // public clients have none
        form += "&client_secret=" + formValue(authText(m_setting.clientSecret));
    form += "&code_verifier=" + m_verifier;
    QByteArray refusal;
    if (!m_tokens.post(m_setting.tokenUrl, form, &refusal))
        fail(fromAnsi(refusal));
}

void BrowserSignIn::answered(const TokenAnswer& answer)
{
    if (answer.accessToken.isEmpty())
        return fail(fromAnsi(answer.reason));
    if (answer.refreshToken.isEmpty())
        return fail(QStringLiteral("Der Anmeldedienst hat kein Aktualisierungstoken geliefert (fehlt "
                                   "„offline_access“ im Bereich?)."));
    finish();
    Q_EMIT succeeded(answer.refreshToken);
}

} // namespace kadmel
