#pragma once

#include "engine/Job.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

namespace kadmel {

// Whether secrets may go to the address: https, or http on this machine (127.0.0.1, ::1, localhost).
bool isSafeOAuthAddress(const QUrl& url);

// A value of a form or query: UTF-8, percent-encoded, so "+" and "&" arrive as typed.
QByteArray formEncoded(const QString& value);

// What the token address answered, read.
struct TokenAnswer
{
    QByteArray accessToken;  // printable ASCII; empty when there is none, and then `reason` says why
    QByteArray refreshToken; // Windows-1252, as the setting keeps it; empty when none came
    qint64 lifeS = 0;        // "expires_in", 0 when missing or no number
    QByteArray reason;       // German, Windows-1252, one line of 300 bytes at most
    QString error;           // the address's own "error" code ("invalid_grant", "authorization_pending"), if any
    QString account;         // the signed-in address named by an OpenID "id_token", if one came
    QJsonObject object;      // the whole answer, for the fields of other grants (a device code)
};
// The answer's body with its HTTP status (0: none came, for `transportError`; `tlsFailed` when the
// secure connection failed). The address's own "error" comes first, whatever the status. `name`: the address as
// the reasons name it.
TokenAnswer readTokenAnswer(const QByteArray& body, int status, bool tlsFailed, const QString& transportError,
                            const QString& name = QStringLiteral("Token-Adresse"));

// Why the address may not be asked, in German (Windows-1252): not a web address, or secrets in the clear over a
// network. Empty when it may. The reasons call the address `name` (a feminine noun: "Die %1 ist nicht erreichbar").
QByteArray tokenAddressRefusal(const QByteArray& address, const QString& name = QStringLiteral("Token-Adresse"));

// One form sent to a token address under the rules every token request keeps: only a safe address, no
// redirect followed, no proxy for this machine, an answer of at most MaxAnswerBytes, a time limit. Used by
// the service's tokens and by the sign-ins alike. A job: it sends at once and finishes with answer() (an
// address that may not be asked is refused there, unasked).
class TokenRequest : public Job
{
    Q_OBJECT
public:
    static constexpr qint64 MaxAnswerBytes = 1 << 20;

    TokenRequest(const QByteArray& address, const QByteArray& form, std::chrono::milliseconds timeLimit,
                 const QString& name = QStringLiteral("Token-Adresse"), QObject* parent = nullptr);
    ~TokenRequest() override;

    const TokenAnswer& answer() const { return m_result; }

private:
    void readMore();
    void onFinished();
    void end(const TokenAnswer& answer);

    QString m_name; // of the address asked
    QNetworkAccessManager* m_manager;
    QPointer<QNetworkReply> m_reply;
    QTimer m_limit;
    QByteArray m_answer;
    TokenAnswer m_result;
};

} // namespace kadmel
