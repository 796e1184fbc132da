#pragma once

#include "store/AuthSetting.h"

#include <QObject>
#include <memory>

class QUrl;

namespace kadmel {

// Whether secrets may go to the address: https, or http on this machine (127.0.0.1, ::1, localhost).
bool isSafeOAuthAddress(const QUrl& url);

// What the token address answered, read.
struct TokenAnswer
{
    QByteArray accessToken;  // printable ASCII; empty when there is none, and then `reason` says why
    QByteArray refreshToken; // Windows-1252, as the setting keeps it; empty when none came
    qint64 lifeS = 0;        // "expires_in", 0 when missing or no number
    QByteArray reason;       // German, Windows-1252, one line of 300 bytes at most
};
// The answer's body with its HTTP status (0: none came, for `transportError`; `tlsFailed` when the
// secure connection failed). The address's own "error" comes first, whatever the status.
TokenAnswer readTokenAnswer(const QByteArray& body, int status, bool tlsFailed, const QString& transportError);

// Access tokens for signing in at the mail server with OAuth 2.0. The service account asks the token
// address with its client credentials; the browser sign-in trades the stored refresh token (and stores a
// new one when the address sends one). A token is kept in memory until shortly before it expires; it
// never reaches a file or the mail's log. Only https token addresses are asked, or http on this machine.
class OAuthTokenSource : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxAnswerBytes = 1 << 20;
    // A kept token is not used in its last minute: the mail's conversation must still be able to use it.
    static constexpr qint64 ExpiryMarginS = 60;

    // programFolder: where a new refresh token is stored. timeoutMs: the whole exchange with the address.
    explicit OAuthTokenSource(const QString& programFolder, int timeoutMs = 10000, QObject* parent = nullptr);
    ~OAuthTokenSource() override;

    // Starts getting a token for the setting. Exactly one of tokenReady() and failed() follows, always
    // after this has returned. Refused (false, nothing emitted) while a request runs.
    bool request(const AuthSetting& setting);
    bool isBusy() const;
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
