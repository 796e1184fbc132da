#pragma once

#include "smtp/Message.h"
#include "smtp/SmtpSession.h"
#include "store/DeliveryOutcome.h"
#include "store/MailRecord.h"

#include <QObject>
#include <memory>

namespace kadmel {

// The SMTP client for one mail: an SmtpSession carrying one transaction. SendMail starts the session and
// returns at once; finished() reports the outcome exactly once, always after SendMail has returned (a mail that
// fails headerIsSafe() ends as Refused without connecting). A connection that cannot be made ends as
// NoConnection as soon as the system says so, its cause noted in the log. A drop or time-out after the whole
// message went out and before its reply is DeliveryUnclear: it may have been delivered. A positive reply that
// the step does not allow fails the mail at once: ServerReply, or DeliveryUnclear once the whole message may
// have reached the server. Not re-entrant: SendMail while a session runs is refused (returns false, nothing
// emitted).
// A message over the server's maxMessageBytes is Refused likewise, one over the SIZE the server announces without
// MAIL FROM.
// SendMail(true) keeps the connection open after the mail for the next one to the same server (after "RSET",
// without a new sign-in), up to setMailsPerConnection() mails; finished() then comes with the mail's outcome.
// A mail that finds a kept connection closed before its message went out, or answered with 421, or its RSET
// refused, goes once more on a new one (not after abort()).
class ZUB_SMTP : public QObject
{
    Q_OBJECT
public:
    explicit ZUB_SMTP(SmtpTimings timings = {}, QObject* parent = nullptr);
    ~ZUB_SMTP() override;

    void setMail(const SmtpMail& mail);
    // Executes the plan as given: SMTPAuth signs in with the password, blank or not.
    void setServer(const SmtpServer& server);

    bool SendMail(bool keepOpen = false);
    bool isBusy() const;
    // Mails one connection carries at most (1: one connection per mail).
    void setMailsPerConnection(int mails);
    // "QUIT" on a kept connection: at once while no mail is on its way, else after that mail.
    void quitKept();
    // Ends the session soon (SmtpSession::abort): a message that went out whole still gets the cut's grace for
    // its reply, then DeliveryUnclear; any other session is cut off with TimedOut, finished() coming from within
    // this call.
    void abort(Cut cut = Cut::Program);

    // The stored bytes of the last SendMail's result code when it failed, else empty; finished() carries more.
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
    void finished(const DeliveryOutcome& outcome);

private:
    void makeSession();
    // Lets a kept session go (it says "QUIT"); a new one is ready in its place.
    void retire();
    void openSession();
    // The mail on its way goes on the session.
    void carry();
    void onTransactionDone(const DeliveryOutcome& outcome, const SmtpLog& log);
    void onSessionClosed();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
