#include "signin/BrowserSignIn.h"

#include "signin/LoopbackRedirect.h"
#include "store/Ansi.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <array>

namespace kadmel {
namespace {

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

QString BrowserSignIn::startProblem(const AuthSetting& setting)
{
    if (!isSafeOAuthAddress(addressOf(setting.authorizationUrl)))
        return QStringLiteral("Die Autorisierungsadresse muss eine https-Adresse sein.");
    if (!isSafeOAuthAddress(addressOf(setting.tokenUrl)))
        return QStringLiteral("Die Token-Adresse muss eine https-Adresse sein.");
    if (setting.clientId.trimmed().isEmpty())
        return QStringLiteral("Bitte geben Sie die Client-ID an.");
    return {};
}

BrowserSignIn::BrowserSignIn(const AuthSetting& setting, const QString& loginHint, const BrowserOpener& opener,
                             const SignInTimings& timings, QObject* parent)
    : SignInJob(parent), m_timings(timings), m_setting(setting)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(timings.browserLimit);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { failWith(QStringLiteral("Sie wurde nicht rechtzeitig im Browser abgeschlossen.")); });
    if (const QString problem = startProblem(setting); !problem.isEmpty()) {
        failWith(problem);
        return;
    }
    auto* redirect =
        new LoopbackRedirect([this](const QMap<QString, QString>& values) { return returned(values); }, timings, this);
    if (!redirect->isListening()) {
        delete redirect;
        failWith(QStringLiteral("Für die Rückleitung aus dem Browser ist kein lokaler Anschluss frei."));
        return;
    }
    m_redirect = redirect;
    m_state = newVerifier().left(32); // 192 random bits
    m_verifier = newVerifier();

    const QUrl authorization = addressOf(setting.authorizationUrl);
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
    const bool opened = opener && opener(page);
    wait(page, opened ? QStringLiteral("Falls sich kein Browser öffnet, diese Adresse im Browser öffnen:")
                      : QStringLiteral("Es ließ sich kein Browser öffnen. Bitte im Browser öffnen:"));
}

BrowserSignIn::~BrowserSignIn()
{
    end();
}

// The listener goes at the next turn: its answerer may be what runs now.
void BrowserSignIn::end()
{
    m_timer.stop();
    m_tokens.reset();
    if (m_redirect)
        m_redirect->deleteLater();
    m_redirect = nullptr;
}

void BrowserSignIn::failWith(const QString& reason)
{
    end();
    fail(QStringLiteral("Die Anmeldung im Browser ist fehlgeschlagen.\n") + reason);
}

// Every return must carry this attempt's state, a refusal too: anyone on this machine can send the browser
// here. A wrong one ends the attempt at once, as the right one will not come any more. The dialog hears of a
// failure after the browser has its page, which a message box would hold up.
QString BrowserSignIn::returned(const QMap<QString, QString>& values)
{
    const QString code = values.value(QStringLiteral("code")), error = values.value(QStringLiteral("error"));
    if (code.isEmpty() && error.isEmpty() && !values.contains(QStringLiteral("state")))
        return {}; // the browser's icon, a stray page
    if (!m_redirect || m_tokens)
        return QStringLiteral("Diese Anmeldung ist bereits beendet. Sie können dieses Fenster schließen.");
    if (values.value(QStringLiteral("state")).toLatin1() != m_state) {
        const QString wrong = QStringLiteral("Die Rückleitung aus dem Browser gehört nicht zu dieser Anmeldung "
                                             "(falscher „state“). Bitte melden Sie sich erneut an.");
        failWith(wrong);
        return wrong;
    }
    if (!error.isEmpty()) {
        const QString description = values.value(QStringLiteral("error_description")).trimmed();
        const QString reason = description.isEmpty() ? error : description;
        failWith(reason);
        return QStringLiteral("Die Anmeldung wurde abgelehnt: ") + reason;
    }
    if (code.isEmpty()) { // no other return will follow: said at once, not after the time limit
        const QString none = QStringLiteral("Die Rückleitung aus dem Browser enthielt keinen Code.");
        failWith(none);
        return none;
    }
    QByteArray form = "grant_type=authorization_code&code=" + formEncoded(code) +
                      "&redirect_uri=" + formEncoded(m_redirect->address()) +
                      "&client_id=" + formEncoded(authText(m_setting.clientId).trimmed());
    if (!m_setting.clientSecret.isEmpty()) // public clients have none
        form += "&client_secret=" + formEncoded(authText(m_setting.clientSecret));
    form += "&code_verifier=" + m_verifier;
    m_tokens = startJob<TokenRequest>(m_setting.tokenUrl, form, m_timings.request);
    connect(m_tokens.get(), &Job::finished, this, [this] {
        answered(TokenAnswer(m_tokens->answer())); // a copy: the request is dropped on the way
    });
    return QStringLiteral("Kadmel Mail System: Anmeldung empfangen. Sie können dieses Fenster schließen.");
}

void BrowserSignIn::answered(const TokenAnswer& answer)
{
    if (const std::optional<QString> refusal = signInRefusal(answer))
        return failWith(*refusal);
    end();
    succeed(answer.refreshToken, answer.account);
}

} // namespace kadmel
