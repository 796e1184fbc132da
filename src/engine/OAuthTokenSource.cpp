#include "engine/OAuthTokenSource.h"

#include "engine/ByteText.h"
#include "engine/SignInSecrets.h"
#include "store/Ansi.h"
#include "store/KadmelIni.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <memory>
#include <optional>

namespace kadmel {
namespace {

QByteArray formValue(const QByteArray& stored)
{
    return formEncoded(authText(stored));
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

} // namespace

struct OAuthTokenSource::Private
{
    OAuthTokenSource* q;
    KadmelIniFile& ini;
    SecretStore* secrets;
    TokenRequest post;
    AuthSetting asked;
    bool busy = false;
    quint64 session = 0;

    // The token kept in memory, for the setting it was got with as the file names it: a secret in the keyring by
    // its entry, whose name changes with every secret written.
    std::optional<AuthSetting> keptFor;
    QByteArray keptToken;
    QDeadlineTimer keptUntil; // monotonic: a clock set back does not lengthen a token's life

    Private(OAuthTokenSource* owner, KadmelIniFile& file, int timeout, SecretStore* keyring)
        : q(owner), ini(file), secrets(keyring), post(timeout)
    {}

    void finish(bool ok, const QByteArray& text)
    {
        post.abort();
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

    void answered(const TokenAnswer& answer)
    {
        if (answer.accessToken.isEmpty() && answer.error == QLatin1String("invalid_grant")) // revoked or expired
            return finish(false, oneLine(answer.reason + " Bitte in den Einstellungen erneut anmelden.", 400));
        if (answer.accessToken.isEmpty())
            return finish(false, answer.reason);
        const QByteArray& refresh = answer.refreshToken;
        if (asked.method == AuthMethod::OAuth2Dienst || refresh.isEmpty() || refresh == asked.refreshToken)
            return keep(asked, answer);
        // The address may have retired the old one: the new one must be in its place before it is relied on.
        AuthSetting renewed = asked;
        renewed.refreshToken = refresh;
        renewed.refreshTokenKey.clear();
        const quint64 current = session;
        placeSecrets(
            secrets, renewed, q, [this, current, answer, before = asked](const AuthSetting& placed, const QString&) {
                // Kept on disk even when the request was cut short meanwhile: the old token may be gone.
                QString saveError;
                KadmelIniChanges changes;
                changes.signIn = placed;
                const bool saved = ini.write(changes, &saveError);
                forgetSecrets(secrets, saved ? before : placed, saved ? placed : before);
                if (!busy || session != current)
                    return;
                if (!saved)
                    return finish(false, oneLine(toAnsi(QStringLiteral("Das neue Aktualisierungstoken lässt sich nicht "
                                                                       "speichern: ") +
                                                        saveError),
                                                 300));
                keep(placed, answer);
            });
    }

    void keep(const AuthSetting& used, const TokenAnswer& answer)
    {
        keptFor.reset();
        if (answer.lifeS > ExpiryMarginS && answer.lifeS < 366LL * 24 * 3600) {
            keptFor = asFiled(used);
            keptToken = answer.accessToken;
            keptUntil = QDeadlineTimer((answer.lifeS - ExpiryMarginS) * 1000);
        }
        finish(true, answer.accessToken);
    }
};

OAuthTokenSource::OAuthTokenSource(KadmelIniFile& ini, int timeoutMs, SecretStore* secrets, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, ini, timeoutMs, secrets))
{
    connect(&d->post, &TokenRequest::finished, this, [this](const TokenAnswer& answer) { d->answered(answer); });
}

OAuthTokenSource::~OAuthTokenSource() = default;

bool OAuthTokenSource::request(const AuthSetting& setting)
{
    if (d->busy)
        return false;
    if (requestKept(setting))
        return true;
    d->busy = true;
    d->asked = setting;
    d->keptFor.reset();
    d->keptToken.clear();
    QByteArray refusal;
    if (!d->post.post(setting.tokenUrl, requestBody(setting), &refusal))
        d->finishLater(false, refusal);
    return true;
}

bool OAuthTokenSource::requestKept(const AuthSetting& setting)
{
    if (d->busy || d->keptFor != asFiled(setting) || d->keptUntil.hasExpired())
        return false;
    d->busy = true;
    d->asked = setting;
    d->finishLater(true, d->keptToken);
    return true;
}

bool OAuthTokenSource::isBusy() const
{
    return d->busy;
}

void OAuthTokenSource::forget()
{
    d->keptFor.reset();
    d->keptToken.clear();
}

void OAuthTokenSource::abort(const QByteArray& reason)
{
    if (d->busy)
        d->finish(false, reason);
}

} // namespace kadmel
