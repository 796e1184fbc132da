#include "engine/OAuthTokenSource.h"

#include "engine/ByteText.h"
#include "engine/SignInSecrets.h"
#include "store/Ansi.h"
#include "store/KadmelIni.h"

#include <QDeadlineTimer>
#include <QPointer>

#include <list>
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

void AccessTokenJob::end(const QByteArray& token, const QByteArray& reason)
{
    m_post.reset();
    m_token = token;
    m_reason = reason;
    finish();
}

struct OAuthTokenSource::Private
{
    KadmelIniFile& ini;
    SecretStore* secrets;
    std::chrono::milliseconds timeLimit;
    // New refresh tokens being placed: each goes on to the file even when its request was dropped meanwhile.
    std::list<JobPtr<SecretsJob>> placing;

    // The token kept in memory, for the setting it was got with as the file names it: a secret in the keyring by
    // its entry, whose name changes with every secret written.
    std::optional<AuthSetting> keptFor;
    QByteArray keptToken;
    QDeadlineTimer keptUntil; // monotonic: a clock set back does not lengthen a token's life
};

OAuthTokenSource::OAuthTokenSource(KadmelIniFile& ini, int timeoutMs, SecretStore* secrets, QObject* parent)
    : QObject(parent), d(new Private{ini, secrets, std::chrono::milliseconds(timeoutMs), {}, {}, {}, {}})
{}

OAuthTokenSource::~OAuthTokenSource() = default;

JobPtr<AccessTokenJob> OAuthTokenSource::request(const AuthSetting& setting)
{
    if (JobPtr<AccessTokenJob> kept = requestKept(setting))
        return kept;
    d->keptFor.reset();
    d->keptToken.clear();
    JobPtr<AccessTokenJob> job = startJob<AccessTokenJob>();
    job->m_asked = setting;
    job->m_post = startJob<TokenRequest>(setting.tokenUrl, requestBody(setting), d->timeLimit);
    AccessTokenJob* asking = job.get();
    connect(asking->m_post.get(), &Job::finished, this, [this, asking] {
        answered(asking, TokenAnswer(asking->m_post->answer())); // a copy: the request is dropped on the way
    });
    return job;
}

JobPtr<AccessTokenJob> OAuthTokenSource::requestKept(const AuthSetting& setting)
{
    if (d->keptFor != asFiled(setting) || d->keptUntil.hasExpired())
        return nullptr;
    JobPtr<AccessTokenJob> job = startJob<AccessTokenJob>();
    job->end(d->keptToken, {});
    return job;
}

void OAuthTokenSource::forget()
{
    d->keptFor.reset();
    d->keptToken.clear();
}

void OAuthTokenSource::answered(AccessTokenJob* job, const TokenAnswer& answer)
{
    if (answer.accessToken.isEmpty() && answer.error == QLatin1String("invalid_grant")) // revoked or expired
        return job->end({}, oneLine(answer.reason + " Bitte in den Einstellungen erneut anmelden.", 400));
    if (answer.accessToken.isEmpty())
        return job->end({}, answer.reason);
    const AuthSetting& asked = job->m_asked;
    const QByteArray& refresh = answer.refreshToken;
    if (asked.method == AuthMethod::OAuth2Dienst || refresh.isEmpty() || refresh == asked.refreshToken)
        return keep(job, asked, answer);
    // The address may have retired the old one: the new one must be in its place before it is relied on.
    AuthSetting renewed = asked;
    renewed.refreshToken = refresh;
    renewed.refreshTokenKey.clear();
    d->placing.push_back(placeSecrets(d->secrets, renewed));
    const auto placing = std::prev(d->placing.end());
    connect(placing->get(), &Job::finished, this,
            [this, placing, answer, before = asked, waiting = QPointer<AccessTokenJob>(job)] {
                const JobPtr<SecretsJob> placed = std::move(*placing);
                d->placing.erase(placing);
                const AuthSetting& now = *placed->setting();
                QString saveError;
                KadmelIniChanges changes;
                changes.signIn = now;
                const bool saved = d->ini.write(changes, &saveError);
                forgetSecrets(d->secrets, saved ? before : now, saved ? now : before);
                if (!waiting)
                    return; // dropped meanwhile
                if (!saved)
                    return waiting->end({}, oneLine(toAnsi(QStringLiteral("Das neue Aktualisierungstoken lässt sich "
                                                                          "nicht speichern: ") +
                                                           saveError),
                                                    300));
                keep(waiting, now, answer);
            });
}

void OAuthTokenSource::keep(AccessTokenJob* job, const AuthSetting& used, const TokenAnswer& answer)
{
    d->keptFor.reset();
    if (answer.lifeS > ExpiryMarginS && answer.lifeS < 366LL * 24 * 3600) {
        d->keptFor = asFiled(used);
        d->keptToken = answer.accessToken;
        d->keptUntil = QDeadlineTimer((answer.lifeS - ExpiryMarginS) * 1000);
    }
    job->end(answer.accessToken, {});
}

} // namespace kadmel
