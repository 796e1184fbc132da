#include "ui/BrowserSignIn.h"

#include "store/Ansi.h"
#include "ui/LoopbackRedirect.h"

#include <QCryptographicHash>
#include <QDesktopServices>
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

} // namespace

std::optional<QString> signInRefusal(const TokenAnswer& answer)
{
    if (answer.accessToken.isEmpty())
        return fromAnsi(answer.reason);
    if (answer.refreshToken.isEmpty())
        return QStringLiteral("Der Anmeldedienst hat kein Aktualisierungstoken geliefert (fehlt „offline_access“ im "
                              "Bereich?).");
    return std::nullopt;
}

BrowserOpener systemBrowserOpener()
{
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

BrowserSignIn::BrowserSignIn(const BrowserSignInSetup& setup, QObject* parent)
    : QObject(parent), m_opener(setup.opener), m_redirectIdle(setup.redirectIdle), m_tokens(TokenExchangeMs)
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

bool BrowserSignIn::start(const AuthSetting& setting, const QString& loginHint, QString* error)
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

    auto* redirect = new LoopbackRedirect([this](const QMap<QString, QString>& values) { return returned(values); },
                                          m_redirectIdle, this);
    if (!redirect->isListening()) {
        delete redirect;
        return refuse(QStringLiteral("Für die Rückleitung aus dem Browser ist kein lokaler Anschluss frei."));
    }
    m_redirect = redirect;
    m_setting = setting;
    m_state = newVerifier().left(32); // 192 random bits
    m_verifier = newVerifier();

    QUrl page = authorization;
    // Each value percent-encoded here: one with "+" or "&" reaches the service as it was typed.
    QUrlQuery encoded(page);
    encoded.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    encoded.addQueryItem(QStringLiteral("client_id"),
                         QString::fromLatin1(formEncoded(authText(setting.clientId).trimmed())));
    encoded.addQueryItem(QStringLiteral("redirect_uri"), QString::fromLatin1(formEncoded(redirect->address())));
    if (const QString scope = authText(setting.scope).trimmed(); !scope.isEmpty())
        encoded.addQueryItem(QStringLiteral("scope"), QString::fromLatin1(formEncoded(scope)));
    encoded.addQueryItem(QStringLiteral("state"), QString::fromLatin1(m_state));
    encoded.addQueryItem(QStringLiteral("code_challenge"), QString::fromLatin1(challengeOf(m_verifier)));
    encoded.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    // The service then offers the account of the mail settings first.
    if (!loginHint.trimmed().isEmpty())
        encoded.addQueryItem(QStringLiteral("login_hint"), QString::fromLatin1(formEncoded(loginHint.trimmed())));
    // Google hands out a refresh token only when asked for offline access, and again only with consent.
    if (authorization.host().compare(QLatin1String("accounts.google.com"), Qt::CaseInsensitive) == 0) {
        encoded.addQueryItem(QStringLiteral("access_type"), QStringLiteral("offline"));
        encoded.addQueryItem(QStringLiteral("prompt"), QStringLiteral("consent"));
    }
    page.setQuery(encoded.query(QUrl::FullyEncoded), QUrl::StrictMode);
    m_timer.start();
    Q_EMIT waitingAt(page, m_opener && m_opener(page));
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
    if (m_redirect)
        m_redirect->deleteLater();
    m_redirect = nullptr;
}

void BrowserSignIn::fail(const QString& reason, Qt::ConnectionType when)
{
    finish();
    const QString text = QStringLiteral("Die Anmeldung im Browser ist fehlgeschlagen.\n") + reason;
    QMetaObject::invokeMethod(
        this, [this, text] { Q_EMIT failed(text); }, when);
}

// Every return must carry this attempt's state, a refusal too: anyone on this machine can send the browser
// here. A wrong one ends the attempt at once, as the right one will not come any more. The dialog hears of a
// failure after the browser has its page, which a message box would hold up.
QString BrowserSignIn::returned(const QMap<QString, QString>& values)
{
    const QString code = values.value(QStringLiteral("code")), error = values.value(QStringLiteral("error"));
    if (code.isEmpty() && error.isEmpty() && !values.contains(QStringLiteral("state")))
        return {}; // the browser's icon, a stray page
    if (!isRunning() || m_tokens.isRunning())
        return QStringLiteral("Diese Anmeldung ist bereits beendet. Sie können dieses Fenster schließen.");
    if (values.value(QStringLiteral("state")).toLatin1() != m_state) {
        const QString wrong = QStringLiteral("Die Rückleitung aus dem Browser gehört nicht zu dieser Anmeldung "
                                             "(falscher „state“). Bitte melden Sie sich erneut an.");
        fail(wrong, Qt::QueuedConnection);
        return wrong;
    }
    if (!error.isEmpty()) {
        const QString description = values.value(QStringLiteral("error_description")).trimmed();
        const QString reason = description.isEmpty() ? error : description;
        fail(reason, Qt::QueuedConnection);
        return QStringLiteral("Die Anmeldung wurde abgelehnt: ") + reason;
    }
    if (code.isEmpty()) { // no other return will follow: said at once, not after the time limit
        const QString none = QStringLiteral("Die Rückleitung aus dem Browser enthielt keinen Code.");
        fail(none, Qt::QueuedConnection);
        return none;
    }
    QByteArray form = "grant_type=authorization_code&code=" + formEncoded(code) +
                      "&redirect_uri=" + formEncoded(m_redirect->address()) +
                      "&client_id=" + formEncoded(authText(m_setting.clientId).trimmed());
    if (!m_setting.clientSecret.isEmpty()) // public clients have none
        form += "&client_secret=" + formEncoded(authText(m_setting.clientSecret));
    form += "&code_verifier=" + m_verifier;
    QByteArray refusal;
    if (!m_tokens.post(m_setting.tokenUrl, form, &refusal)) {
        fail(fromAnsi(refusal), Qt::QueuedConnection);
        return fromAnsi(refusal);
    }
    return QStringLiteral("Kadmel Mail System: Anmeldung empfangen. Sie können dieses Fenster schließen.");
}

void BrowserSignIn::answered(const TokenAnswer& answer)
{
    if (const std::optional<QString> refusal = signInRefusal(answer))
        return fail(*refusal);
    finish();
    Q_EMIT succeeded(answer.refreshToken, answer.account);
}

} // namespace kadmel
