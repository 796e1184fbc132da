#pragma once

#include "smtp/EhloReply.h"
#include "smtp/Message.h"
#include "store/DeliveryOutcome.h"
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
    int conversationMs = 120000; // wait for the opening and the first mail after connecting; each later mail anew
    int abortGraceMs = 5000;     // after abort() as the program ends: how long a sent message may wait for its reply
    // Trusted besides the system's certificates; only tests bring their own authority.
    QList<QSslCertificate> extraCaCertificates = {};
    int lingerMs = 5000; // a socket let go still gets this long to hand its last bytes (the QUIT) over
    // A session waiting for its next mail says "QUIT" after this long without one; servers drop idle clients too.
    int keptMs = 2000;
    // After a person's Stop or "Beenden" (who watches the window meanwhile): abortGraceMs's counterpart.
    int stopGraceMs = 500;
};

struct SmtpServer
{
    QByteArray SMTPserver; // host; also the argument of EHLO
    qint16 SMTPPort = 25;
    QByteArray SMTPAuthUser;
    QByteArray SMTPAuthPass;
    bool SMTPAuth = false; // sign in with the password, blank or not: the plan is decideDelivery()'s
    // The server's certificate is always checked against SMTPserver.
    Encryption SMTPEncryption = Encryption::Keine;
    // An OAuth 2.0 access token: the client signs in with XOAUTH2 as SMTPAuthUser, whatever SMTPAuth says,
    // and only over an encrypted connection (NotSecure otherwise). Empty: the password sign-in.
    QByteArray accessToken = {};
    // The own limit ([Zustellung] MaximaleGroesseMB): a larger message is refused, never begun; 0: none.
    qint64 maxMessageBytes = 0;

    friend bool operator==(const SmtpServer&, const SmtpServer&) = default;
};

// Who cuts a conversation short: a person (Stop, "Beenden") or the program's end (a termination signal). A
// message that went out whole gets stopGraceMs or abortGraceMs for its reply; the cause stands in the log.
enum class Cut
{
    Person,
    Program,
};

// One mail of a session: its envelope and its message, composed, end-of-data line included.
struct SmtpTransaction
{
    Envelope envelope;
    QByteArray message;
    QByteArray label = {}; // follows the status texts while this mail is on its way, e.g. "  (ID 7)"
};

// One connection to the mail server: connect, greeting, EHLO, STARTTLS or TLS from the start, sign-in, then the
// mails handed to send() one after another ("RSET" between two), then "QUIT" once quit() was asked and none
// waits. Each mail's outcome comes through transactionDone() in the order sent, with its log: the session's
// opening and its own lines (a later mail's marked as carried on a connection already open). A refusal of one
// mail's step lets the next one go on, and until quit() the session then waits for one; a failure of the
// connection or a 421 fails the mail on its way and every waiting one. Waiting longer than keptMs, it quits.
// closed() follows the last outcome. Every signal comes from the event loop, never from within open() or send().
class SmtpSession : public QObject
{
    Q_OBJECT
public:
    explicit SmtpSession(SmtpTimings timings = {}, QObject* parent = nullptr);
    ~SmtpSession() override;

    // Connects; false (nothing emitted) while a session runs.
    bool open(const SmtpServer& server);
    void send(const SmtpTransaction& transaction);
    void quit();
    // Ends soon: a message that went out whole still gets the cut's grace for its reply (panel 2 says so), then
    // DeliveryUnclear; everything else is cut off with TimedOut, the outcomes coming from within this call.
    void abort(Cut cut = Cut::Program);

    bool isOpen() const;
    // Whether the server refused the access token: it must not be offered again.
    bool tokenRefused() const;
    const EhloReply& ehlo() const;
    // The lines of the mail on its way, else the opening's.
    const SmtpLog& currentLog() const;

Q_SIGNALS:
    void lineSent(const QByteArray& text);
    void replyReceived(const QByteArray& reply);
    void statusText(const QByteArray& text);                    // panel 2
    void progress(qint32 value, qint32 maximum, qint16 option); // SetPBValue
    void transactionDone(const DeliveryOutcome& outcome, const SmtpLog& log);
    void closed();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
