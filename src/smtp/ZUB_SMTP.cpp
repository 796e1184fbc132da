#include "smtp/ZUB_SMTP.h"

#include "smtp/MessageSize.h"

#include <QDateTime>
#include <QTimer>

namespace kadmel {

struct ZUB_SMTP::Private
{
    explicit Private(SmtpTimings timings) : session(std::move(timings)) {}

    SmtpSession session;
    SmtpMail mail;
    SmtpServer server;
    SmtpLog log;
    DeliveryOutcome outcome;
    bool busy = false;
    bool refusing = false; // a mail refused before connecting: its finished() is on its way
    bool opened = false;   // the last SendMail opened a session
};

ZUB_SMTP::ZUB_SMTP(SmtpTimings timings, QObject* parent) : QObject(parent), d(std::make_unique<Private>(timings))
{
    d->log.reset();
    connect(&d->session, &SmtpSession::lineSent, this, &ZUB_SMTP::lineSent);
    connect(&d->session, &SmtpSession::replyReceived, this, &ZUB_SMTP::replyReceived);
    connect(&d->session, &SmtpSession::statusText, this, &ZUB_SMTP::statusText);
    connect(&d->session, &SmtpSession::progress, this, &ZUB_SMTP::progress);
    connect(&d->session, &SmtpSession::transactionDone, this,
            [this](const DeliveryOutcome& outcome, const SmtpLog& log) {
                d->outcome = outcome;
                d->log = log;
            });
    // Reported once the session is over, so a finished() slot may send the next mail at once.
    connect(&d->session, &SmtpSession::closed, this, [this] {
        d->busy = false;
        Q_EMIT finished(d->outcome);
    });
}

ZUB_SMTP::~ZUB_SMTP() = default;

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

bool ZUB_SMTP::SendMail()
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
    d->opened = true;
    d->session.open(d->server);
    d->session.send({envelopeOf(d->mail), std::move(message), label});
    d->session.quit();
    return true;
}

bool ZUB_SMTP::isBusy() const
{
    return d->busy;
}

void ZUB_SMTP::abort()
{
    if (d->busy && !d->refusing)
        d->session.abort();
}

QByteArray ZUB_SMTP::ErrorResponse() const
{
    return d->busy || d->outcome.sent() ? QByteArray() : codeBytes(d->outcome.code);
}

bool ZUB_SMTP::tokenRefused() const
{
    return d->opened && d->session.tokenRefused();
}

const SmtpLog& ZUB_SMTP::CurrentLog() const
{
    return d->busy && d->session.isOpen() ? d->session.currentLog() : d->log;
}

} // namespace kadmel
