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
    int connectMs = 10000;       // wait for the connection
    int conversationMs = 120000; // wait for the whole conversation after connecting
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
};

// The SMTP client: one mail over one connection, driven by complete replies. SendMail starts the
// session and returns at once; finished() reports the outcome exactly once, always after SendMail
// has returned (a sender, recipient or subject holding CR, LF or NUL ends as "ERRMessage7" without
// connecting). Not re-entrant: SendMail while a session runs is refused (returns false, nothing emitted).
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

    QByteArray ErrorResponse() const;
    // The conversation of the last SendMail, reset when it starts; the password element is masked.
    const SmtpLog& CurrentLog() const;

Q_SIGNALS:
    void lineSent(const QByteArray& text);
    void replyReceived(const QByteArray& reply);
    void statusText(const QByteArray& text);                    // panel 2
    void progress(qint32 value, qint32 maximum, qint16 option); // SetPBValue
    void finished(bool sent, const QByteArray& errorResponse);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
