#pragma once

#include "engine/TokenRequest.h"
#include "store/AuthSetting.h"

#include <QObject>
#include <memory>

namespace kadmel {

class KadmelIniFile;
class SecretStore;

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

    // Starts getting a token for the setting. Exactly one of tokenReady() and failed() follows, always
    // after this has returned. Refused (false, nothing emitted) while a request runs.
    bool request(const AuthSetting& setting);
    // request() while a token is kept for the setting, whose secrets may be unread: the keyring, which may be
    // locked meanwhile, is not asked for a token at hand. False (nothing emitted) when none is kept for it.
    bool requestKept(const AuthSetting& setting);
    bool isBusy() const;
    // Drops the kept token (the mail server refused it): the next request asks the address anew.
    void forget();
    // Cuts a running request short; failed(reason) comes from within this call.
    void abort(const QByteArray& reason);

Q_SIGNALS:
    void tokenReady(const QByteArray& accessToken);
    // Why there is no token, in German (Windows-1252): the address's own description where it gave one.
    void failed(const QByteArray& reason);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
