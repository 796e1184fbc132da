#pragma once

#include "smtp/Message.h"
#include "store/EncryptionSetting.h"
#include "store/MailRecord.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <memory>

namespace kadmel {

struct SmtpTimings
{
    int connectMs = 10000;       // wait for a server that neither takes nor refuses the connection
    int conversationMs = 120000; // wait for the whole conversation after connecting
    int abortGraceMs = 5000;     // after abort(): how long a sent message may still wait for its reply
    // Trusted besides the system's certificates; only tests bring their own authority.
    QList<QSslCertificate> extraCaCertificates = {};
};

struct SmtpServer
{
    QByteArray SMTPserver; // host; also the argument of EHLO
    qint16 SMTPPort = 25;
    QByteArray SMTPAuthUser;
    QByteArray SMTPAuthPass;
    bool SMTPAuth = false;
    // The server's certificate is always checked against SMTPserver.
    Encryption SMTPEncryption = Encryption::Keine;
    // An OAuth 2.0 access token: the client signs in with XOAUTH2 as SMTPAuthUser, whatever SMTPAuth says,
    // and only over an encrypted connection (NotSecure otherwise). Empty: the password sign-in.
    QByteArray accessToken = {};
};

// The SMTP client: one mail over one connection, driven by complete replies. SendMail starts the
// session and returns at once; finished() reports the outcome exactly once, always after SendMail
// has returned (a mail that fails headerIsSafe() ends as Refused without connecting). A connection that
// cannot be made ends as NoConnection as soon as the system says so, its cause noted in the log. A drop or
// time-out after the whole message went out and before its reply is DeliveryUnclear: it may have been
// delivered. A positive reply that the step does not allow fails the mail at once: ServerReply, or
// DeliveryUnclear once the whole message may have reached the server. Not re-entrant: SendMail while a session runs is
// refused (returns false, nothing emitted).
class ZUB_SMTP : public QObject
{
    Q_OBJECT
public:
    explicit ZUB_SMTP(SmtpTimings timings = {}, QObject* parent = nullptr);
    ~ZUB_SMTP() override;

    void setMail(const SmtpMail& mail);
    void setServer(const SmtpServer& server);

    bool SendMail();
    bool isBusy() const;
    // Ends the session soon (the program is ending): a message that went out whole still gets
    // abortGraceMs for its reply, then DeliveryUnclear; any other session is cut off with TimedOut,
    // finished() coming from within this call.
    void abort();

    QByteArray ErrorResponse() const;
    // Whether the server refused the access token of the last SendMail: it must not be offered again.
    bool tokenRefused() const;
    // The conversation of the last SendMail, reset when it starts; passwords and tokens are masked.
    const SmtpLog& CurrentLog() const;

Q_SIGNALS:
    void lineSent(const QByteArray& text);
    void replyReceived(const QByteArray& reply);
    void statusText(const QByteArray& text);                    // panel 2
    void progress(qint32 value, qint32 maximum, qint16 option); // SetPBValue
    void finished(bool sent, const QByteArray& errorResponse);  // errorResponse: codeBytes() of a ResultCode, or empty

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
