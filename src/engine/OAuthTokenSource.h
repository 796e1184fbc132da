#pragma once

#include "engine/Job.h"
#include "engine/TokenRequest.h"
#include "store/AuthSetting.h"

#include <QObject>
#include <QPointer>
#include <memory>

namespace kadmel {

class KadmelIniFile;
class OAuthTokenSource;
class SecretStore;

// Getting one access token, as a job: it finishes with token(), or with none and the reason.
class AccessTokenJob : public Job
{
    Q_OBJECT
public:
    // Empty when there is none; reason() then says why.
    const QByteArray& token() const { return m_token; }
    // German (Windows-1252): the address's own description where it gave one.
    const QByteArray& reason() const { return m_reason; }

private:
    friend class OAuthTokenSource;
    using Job::Job;
    void end(const QByteArray& token, const QByteArray& reason);

    AuthSetting m_asked;
    JobPtr<TokenRequest> m_post;
    QByteArray m_token;
    QByteArray m_reason;
};

// Access tokens for signing in at the mail server with OAuth 2.0. The service account asks the token
// address with its client credentials; the browser sign-in trades the stored refresh token (and stores a
// new one when the address sends one). A token is kept in memory until shortly before it expires; it
// never reaches a file or the mail's log. The address is asked through TokenRequest and its rules.
class OAuthTokenSource : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxAnswerBytes = TokenRequest::MaxAnswerBytes;
    // A kept token is not used in its last minute: the mail's conversation must still be able to use it.
    static constexpr qint64 ExpiryMarginS = 60;

    // ini: where a new refresh token is named (the store's kadmel.ini), the token itself in the keyring
    // `secrets` where it takes it. timeoutMs: the whole exchange with the address.
    explicit OAuthTokenSource(KadmelIniFile& ini, int timeoutMs = 10000, SecretStore* secrets = nullptr,
                              QObject* parent = nullptr);
    ~OAuthTokenSource() override;

    // Starts getting a token for the setting.
    JobPtr<AccessTokenJob> request(const AuthSetting& setting);
    // request() while a token is kept for the setting, whose secrets may be unread: the keyring, which may be
    // locked meanwhile, is not asked for a token at hand. Null when none is kept for it.
    JobPtr<AccessTokenJob> requestKept(const AuthSetting& setting);
    // Drops the kept token (the mail server refused it): the next request asks the address anew.
    void forget();

private:
    void answered(AccessTokenJob* job, const TokenAnswer& answer);
    void keep(AccessTokenJob* job, const AuthSetting& used, const TokenAnswer& answer);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
