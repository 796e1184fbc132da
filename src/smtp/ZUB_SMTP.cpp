#include "smtp/ZUB_SMTP.h"

#include "smtp/MessageSize.h"
#include "store/ResultCode.h"

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace kadmel {

struct ZUB_SMTP::Private
{
    explicit Private(SmtpTimings t) : timings(std::move(t)) {}

    SmtpTimings timings;
    QPointer<SmtpSession> session; // a child; the one a kept connection is on
    SmtpMail mail;
    SmtpServer server;
    SmtpServer keptFor;          // what the session connected and signed in with
    SmtpTransaction transaction; // the mail on its way, for a second connection
    SmtpLog log;
    DeliveryOutcome outcome;
    int mailsPerConnection = 1;
    int carried = 0; // mails begun on the session
    bool busy = false;
    bool refusing = false;  // a mail refused before connecting: its finished() is on its way
    bool opened = false;    // the last SendMail opened a session
    bool keepAsked = false; // SendMail(true)
    bool keep = false;      // the session stays open after the mail on its way
    bool onKept = false;    // the mail on its way went on a connection opened for an earlier one
    bool again = false;     // it met that connection ending: it goes on a new one once the old has ended
    bool stale = false;     // the kept session is not used again
    bool cut = false;       // abort(): the mail on its way is not sent again
};

ZUB_SMTP::ZUB_SMTP(SmtpTimings timings, QObject* parent) : QObject(parent), d(std::make_unique<Private>(timings))
{
    d->log.reset();
    makeSession();
}

ZUB_SMTP::~ZUB_SMTP() = default;

void ZUB_SMTP::makeSession()
{
    auto* session = new SmtpSession(d->timings, this);
    connect(session, &SmtpSession::lineSent, this, &ZUB_SMTP::lineSent);
    connect(session, &SmtpSession::replyReceived, this, &ZUB_SMTP::replyReceived);
    connect(session, &SmtpSession::statusText, this, &ZUB_SMTP::statusText);
    connect(session, &SmtpSession::progress, this, &ZUB_SMTP::progress);
    connect(session, &SmtpSession::transactionDone, this, &ZUB_SMTP::onTransactionDone);
    connect(session, &SmtpSession::closed, this, &ZUB_SMTP::onSessionClosed);
    d->session = session;
    d->carried = 0;
}

void ZUB_SMTP::retire()
{
    d->stale = false;
    SmtpSession* old = d->session;
    if (!old->isOpen())
        return;
    disconnect(old, nullptr, this, nullptr);
    // Kept as long as its socket may still hand the QUIT over.
    connect(old, &SmtpSession::closed, old,
            [old, ms = d->timings.lingerMs] { QTimer::singleShot(ms, old, &QObject::deleteLater); });
    old->quit();
    makeSession();
}

void ZUB_SMTP::openSession()
{
    d->session->open(d->server);
    d->keptFor = d->server;
    d->carried = 0;
}

void ZUB_SMTP::carry()
{
    d->keep = d->keepAsked && ++d->carried < d->mailsPerConnection; // at the limit it ends with this mail
    d->session->send(d->transaction);
    if (!d->keep)
        d->session->quit();
}

void ZUB_SMTP::onTransactionDone(const DeliveryOutcome& outcome, const SmtpLog& log)
{
    // A kept connection may have been dropped or closed by the server meanwhile (ClosedByServer is before the
    // whole message went out), or refuse its RSET: the mail has not begun to go. Each of these ends the session.
    const auto lastSent =
        std::find_if(log.Sent.crbegin(), log.Sent.crend(), [](const QByteArray& l) { return !l.isEmpty(); });
    const bool rsetRefused =
        outcome.code == ResultCode::ServerReply && lastSent != log.Sent.crend() && *lastSent == "RSET\r\n";
    if (d->onKept && !d->cut &&
        (outcome.code == ResultCode::ClosedByServer || replyCode(outcome.reply) == "421" || rsetRefused)) {
        d->again = true; // closed() follows
        return;
    }
    d->outcome = outcome;
    d->log = log;
    if (d->keep && d->busy) {
        d->busy = false;
        Q_EMIT finished(d->outcome);
    }
}

// Reported once the session is over, so a finished() slot may send the next mail at once.
void ZUB_SMTP::onSessionClosed()
{
    if (std::exchange(d->again, false)) {
        d->onKept = false;
        openSession();
        return carry();
    }
    if (!d->busy)
        return; // a kept session ended between two mails
    d->busy = false;
    Q_EMIT finished(d->outcome);
}

void ZUB_SMTP::setMail(const SmtpMail& mail)
{
    d->mail = mail;
    if (d->mail.MailMessageId.isEmpty()) // one for every attempt of this mail, whatever it meets
        d->mail.MailMessageId = NewMessageId(mail.MailSenderEMail);
}

void ZUB_SMTP::setServer(const SmtpServer& server)
{
    d->server = server;
}

void ZUB_SMTP::setMailsPerConnection(int mails)
{
    d->mailsPerConnection = std::max(1, mails);
}

bool ZUB_SMTP::SendMail(bool keepOpen)
{
    if (d->busy)
        return false;
    d->busy = true;
    d->log.reset();
    // Without a transaction's outcome the session failed before one could begin.
    d->outcome = {ResultCode::ClosedByServer, {}, SignInMechanism::None, {}};
    QByteArray problem = headerProblem(d->mail);
    QByteArray message;
    if (problem.isEmpty()) {
        message = ComposeMessage(d->mail, QDateTime::currentDateTime());
        if (const qint64 size = messageSize(message); d->server.maxMessageBytes > 0 && size > d->server.maxMessageBytes)
            problem = tooLargeForSettings(size, d->server.maxMessageBytes);
    }
    if (!problem.isEmpty()) {
        // A text that could smuggle header lines or commands, or a message over the own limit: refused before
        // any connection, saying why.
        d->log.appendReceived(problem + "\r\n");
        d->refusing = true;
        d->opened = false;
        QTimer::singleShot(0, this, [this, problem] {
            d->refusing = false;
            d->busy = false;
            d->outcome = {ResultCode::Refused, problem, SignInMechanism::None, {}};
            Q_EMIT finished(d->outcome);
        });
        return true;
    }
    const QByteArray label = "  (ID " + QByteArray::number(d->mail.MailID) + ")";
    d->transaction = {envelopeOf(d->mail), std::move(message), label};
    d->keepAsked = keepOpen;
    d->again = d->cut = false;
    d->opened = true;
    if (d->stale)
        retire();
    // Another server or sign-in (a new token too) needs a connection of its own.
    d->onKept = d->session->isOpen() && d->keptFor == d->server && d->carried < d->mailsPerConnection;
    if (!d->onKept) {
        retire();
        openSession();
    }
    carry();
    return true;
}

bool ZUB_SMTP::isBusy() const
{
    return d->busy;
}

void ZUB_SMTP::quitKept()
{
    if (!d->busy)
        return retire();
    d->stale = true;
    d->session->quit();
}

void ZUB_SMTP::abort(Cut cut)
{
    if (!d->busy)
        return quitKept();
    d->cut = true;
    if (!d->refusing)
        d->session->abort(cut);
}

QByteArray ZUB_SMTP::ErrorResponse() const
{
    return d->busy || d->outcome.sent() ? QByteArray() : codeBytes(d->outcome.code);
}

bool ZUB_SMTP::tokenRefused() const
{
    return d->opened && d->session->tokenRefused();
}

const SmtpLog& ZUB_SMTP::CurrentLog() const
{
    return d->busy && d->session->isOpen() ? d->session->currentLog() : d->log;
}

} // namespace kadmel
