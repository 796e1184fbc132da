#include "smtp/ZUB_SMTP.h"

#include "smtp/Base64.h"
#include "smtp/EhloReply.h"
#include "smtp/ReplyFramer.h"
#include "store/Ansi.h"
#include "store/ResultCode.h"
#include "store/Settings.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace kadmel {

namespace {

// A socket that is let go still gets this long to hand its last bytes (the QUIT) to the server.
constexpr int LingerMs = 5000;

enum State : qint32
{
    Connecting = 1,
    EhloSent = 2,
    AuthSent = 3,
    UserSent = 4,
    PasswordSent = 5,
    MailFromSent = 6,
    RcptToSent = 7,
    DataSent = 8,
    MessageSent = 9,
    QuitSending = 10,
    Finished = 11,
    StartTlsSent = 12,
    Handshaking = 13,   // after the 220 to STARTTLS, until the socket is encrypted
    XOAuthSent = 14,    // AUTH XOAUTH2 with the token sent
    FinalAuthSent = 15, // AUTH PLAIN, or the empty answer to a refused token: only 235 or a failure may follow
};

} // namespace

struct ZUB_SMTP::Private
{
    ZUB_SMTP* q;
    SmtpTimings timings;
    SmtpMail mail;
    Envelope envelope;
    qsizetype recipientsAsked = 0;
    SmtpServer server;

    QPointer<QTcpSocket> socket;
    ReplyFramer framer;
    QTimer connectTimer;
    QTimer conversationTimer;
    SmtpLog log;

    QByteArray errorResponse;
    bool tokenRefused = false;
    qint32 protocolState = Finished;
    bool succeeded = false;
    bool connected = false;
    bool encrypted = false;
    bool busy = false;
    // The whole message, its final "." CR LF included, has left for the server: from now on a lost
    // connection cannot tell whether the mail was taken.
    bool messageOut = false;
    qint16 progressStep = 1;
    qint32 messageLength = 0;
    quint64 session = 0; // tells a finished session from the one a finished() slot may have started

    explicit Private(ZUB_SMTP* owner, SmtpTimings t) : q(owner), timings(t) {}

    QByteArray idSuffix() const { return "  (ID " + QByteArray::number(mail.MailID) + ")"; }

    bool mustEncrypt() const { return server.SMTPEncryption != Encryption::Keine; }

    // A failure now is the secure connection's, not the conversation's.
    bool handshakePending() const
    {
        return (server.SMTPEncryption == Encryption::SslTls && !encrypted) || protocolState == Handshaking;
    }

    QSslSocket* newSslSocket()
    {
        auto* s = new QSslSocket(q);
        QSslConfiguration config = s->sslConfiguration();
        if (!timings.extraCaCertificates.isEmpty()) // setting any authority ends the system store's lazy loading
            config.setCaCertificates(QSslConfiguration::systemCaCertificates() + timings.extraCaCertificates);
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        s->setSslConfiguration(config);
        s->setPeerVerifyName(fromAnsi(server.SMTPserver));
        QObject::connect(s, &QSslSocket::encrypted, q, [this] { onEncrypted(); });
        QObject::connect(s, &QSslSocket::encryptedBytesWritten, q, [this](qint64) { onBytesWritten(); });
        return s;
    }

    // Every connection is made here: a plain socket without encryption, else a TLS-capable one.
    void openSocket()
    {
        QTcpSocket* s = mustEncrypt() ? newSslSocket() : new QTcpSocket(q);
        QObject::connect(s, &QTcpSocket::connected, q, [this] { onConnected(); });
        QObject::connect(s, &QTcpSocket::readyRead, q, [this] { onReadyRead(); });
        QObject::connect(s, &QTcpSocket::disconnected, q, [this] { onClosed(); });
        QObject::connect(s, &QTcpSocket::errorOccurred, q, [this](QAbstractSocket::SocketError e) { onError(e); });
        QObject::connect(s, &QTcpSocket::bytesWritten, q, [this](qint64) { onBytesWritten(); });
        socket = s;
        const QString host = fromAnsi(server.SMTPserver);
        if (server.SMTPEncryption == Encryption::SslTls)
            static_cast<QSslSocket*>(s)->connectToHostEncrypted(host, quint16(server.SMTPPort));
        else
            s->connectToHost(host, quint16(server.SMTPPort));
    }

    // Lets the socket go: queued bytes still leave unless discarded, but no more events reach the session.
    void closeSocket(bool discardQueued = false)
    {
        QTcpSocket* s = socket;
        socket = nullptr;
        if (!s)
            return;
        QObject::disconnect(s, nullptr, q, nullptr);
        if (discardQueued)
            s->abort();
        if (s->state() == QAbstractSocket::UnconnectedState) {
            s->deleteLater();
            return;
        }
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        QTimer::singleShot(LingerMs, s, [s] {
            s->abort();
            s->deleteLater();
        });
        s->disconnectFromHost();
    }

    bool socketConnected() const { return socket && socket->state() == QAbstractSocket::ConnectedState; }

    // Logs the text (the password masked) and sends it in one write while connected.
    void sendCommand(const QByteArray& text, bool secret = false)
    {
        sendMasked(text, secret ? QByteArrayLiteral("****\r\n") : text);
    }

    // Sends the text but logs `logged` in its place: a credential never reaches the log or the mail file.
    void sendMasked(const QByteArray& text, const QByteArray& logged)
    {
        log.appendSent(logged);
        Q_EMIT q->lineSent(logged);
        if (socketConnected())
            socket->write(text);
    }

    void finish()
    {
        // The rest of a message cut off in transfer must not leave on closing: with its final dot the
        // server would take a mail that is filed as failed.
        const bool messageCut = protocolState == MessageSent && !messageOut;
        protocolState = Finished;
        connectTimer.stop();
        conversationTimer.stop();
        closeSocket(messageCut);
        busy = false;
        ++session;
        Q_EMIT q->finished(succeeded, errorResponse);
    }

    // Ends the session just started, from the event loop, without connecting.
    void refuseLater(ResultCode code)
    {
        errorResponse = codeBytes(code);
        protocolState = Finished;
        const quint64 current = session;
        QTimer::singleShot(0, q, [this, current] {
            if (busy && session == current)
                finish();
        });
    }

    void fail(ResultCode code)
    {
        errorResponse = codeBytes(code);
        succeeded = false;
        finish();
    }

    void onConnected()
    {
        connected = true;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connectTimer.stop();
        conversationTimer.start(timings.conversationMs);
    }

    void onConnectTimeout()
    {
        if (!connected)
            failToConnect("Keine Antwort innerhalb von " + QByteArray::number((timings.connectMs + 999) / 1000) + " s");
    }

    // No connection: the cause stands where a reply would, where the mail's reason is read from.
    void failToConnect(const QByteArray& cause)
    {
        log.appendReceived(cause + "\r\n");
        fail(ResultCode::NoConnection);
    }

    // What the system said when the connection could not be made; nothing is left to wait for then.
    QByteArray connectCause(QAbstractSocket::SocketError error) const
    {
        switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return "Verbindung abgelehnt";
        case QAbstractSocket::HostNotFoundError:
            return "Servername nicht gefunden";
        case QAbstractSocket::NetworkError:
            return "Netzwerk oder Server nicht erreichbar";
        default:
            return "Verbindungsfehler: " + toAnsi(socket ? socket->errorString() : QString());
        }
    }

    void onConversationTimeout()
    {
        if (protocolState != Finished)
            fail(messageOut ? ResultCode::DeliveryUnclear : ResultCode::TimedOut);
    }

    // The server hung up: reported once, whether the error or the disconnect comes first.
    void onClosed()
    {
        if (!connected)
            return;
        connected = false;
        fail(handshakePending() ? ResultCode::NotSecure
             : messageOut       ? ResultCode::DeliveryUnclear
                                : ResultCode::ClosedByServer);
    }

    void onError(QAbstractSocket::SocketError error)
    {
        if (error == QAbstractSocket::RemoteHostClosedError) {
            onClosed();
            return;
        }
        // The socket gives up on connecting only once every address of the server has failed.
        if (!connected) {
            failToConnect(connectCause(error));
            return;
        }
        if (handshakePending()) {
            // The mail's reason: a certificate for another name, an authority not trusted, no TLS at all.
            log.appendReceived("TLS: " + toAnsi(socket->errorString()) + "\r\n");
            fail(ResultCode::NotSecure);
            return;
        }
        if (messageOut) {
            fail(ResultCode::DeliveryUnclear);
            return;
        }
        succeeded = false;
        finish();
    }

    void onEncrypted()
    {
        encrypted = true;
        if (protocolState != Handshaking)
            return; // TLS from the start: the greeting comes next
        progressStep = 1;
        sendEhlo();
    }

    // Bytes still waiting in this process for the socket, encrypted ones included.
    bool writesPending() const
    {
        const auto* ssl = qobject_cast<QSslSocket*>(socket.data());
        return socket && (socket->bytesToWrite() > 0 || (ssl && ssl->encryptedBytesToWrite() > 0));
    }

    void onBytesWritten()
    {
        if (!socket)
            return;
        const qint64 remaining = socket->bytesToWrite();
        if (protocolState == MessageSent) {
            // Written is not yet accepted: the bar stops one short of full until the server's 250.
            Q_EMIT q->progress(qint32(std::clamp<qint64>(messageLength - remaining, 0, messageLength - 1)),
                               messageLength, 0);
            if (!writesPending())
                messageOut = true;
        } else if (remaining == 0) {
            Q_EMIT q->statusText("Verbindung zum Mailserver wird hergestellt..." + idSuffix());
            Q_EMIT q->progress(progressStep, 8, 0);
        }
    }

    void onReadyRead()
    {
        const QByteArray bytes = socket->readAll();
        const quint64 current = session;
        for (const SmtpReply& reply : framer.feed(bytes)) {
            log.appendReceived(reply.text);
            Q_EMIT q->replyReceived(reply.text);
            Q_EMIT q->progress(0, 0, 1);
            handleReply(reply);
            if (session != current)
                return;
            if (protocolState == Handshaking) {
                // Bytes behind the 220 came in the clear and may be forged: they are dropped.
                framer.reset();
                return;
            }
        }
        if (framer.overflowed())
            fail(ResultCode::ServerReply);
    }

    bool useAuth() const
    {
        return server.SMTPAuth && !blankAfterTrim(server.SMTPAuthUser) && !blankAfterTrim(server.SMTPAuthPass);
    }

    // After TLS the server's AUTH list decides: PLAIN only where it offers PLAIN and not LOGIN. In the clear
    // the list is not read, so the conversation stays as it always was.
    bool choosesPlain(const QByteArray& ehloReply) const
    {
        if (!encrypted)
            return false;
        const QByteArrayList offered = authMechanisms(ehloReply);
        return offered.contains("PLAIN") && !offered.contains("LOGIN");
    }

    void sendAuth(const QByteArray& ehloReply)
    {
        if (!server.accessToken.isEmpty()) {
            const QByteArray response = "user=" + server.SMTPAuthUser +
                                        "\x01"
                                        "auth=Bearer " +
                                        server.accessToken + "\x01\x01";
            sendMasked("AUTH XOAUTH2 " + response.toBase64() + "\r\n", "AUTH XOAUTH2 ****\r\n");
            protocolState = XOAuthSent;
        } else if (choosesPlain(ehloReply)) {
            // RFC 4616 wants UTF-8; the stored texts are Windows-1252.
            const QByteArray response =
                '\0' + fromAnsi(server.SMTPAuthUser).toUtf8() + '\0' + fromAnsi(server.SMTPAuthPass).toUtf8();
            sendMasked("AUTH PLAIN " + response.toBase64() + "\r\n", "AUTH PLAIN ****\r\n");
            protocolState = FinalAuthSent;
        } else {
            sendCommand("AUTH LOGIN\r\n");
            protocolState = AuthSent;
        }
    }

    void sendMailFrom()
    {
        // Reached only where the server offers SMTPUTF8 when an address needs it (onEhloAccepted).
        const QByteArray utf8 = envelope.eightBitAddress.isEmpty() ? QByteArray() : QByteArray(" SMTPUTF8");
        sendCommand("MAIL FROM: <" + envelope.sender + ">" + utf8 + "\r\n");
        protocolState = MailFromSent;
    }

    // RCPT TO for the next recipient, DATA once all are taken.
    void sendNextRecipient()
    {
        if (recipientsAsked < envelope.recipients.size()) {
            progressStep = 4;
            sendCommand("RCPT TO: <" + envelope.recipients.at(recipientsAsked++) + ">\r\n");
            protocolState = RcptToSent;
            return;
        }
        sendCommand("DATA\r\n");
        protocolState = DataSent;
    }

    void onEhloAccepted(const QByteArray& ehloReply)
    {
        if (!envelope.eightBitAddress.isEmpty() && !offersExtension(ehloReply, "SMTPUTF8")) {
            // Without SMTPUTF8 such an address cannot be written in the envelope nor the header.
            sendCommand("QUIT\r\n");
            log.appendReceived("Der Server nimmt keine Adressen mit Umlauten an. \x84" +
                               envelope.eightBitAddress.left(100) + "\x93\r\n");
            fail(ResultCode::Refused);
        } else if (useAuth() || !server.accessToken.isEmpty()) {
            sendAuth(ehloReply);
        } else {
            sendMailFrom();
        }
    }

    void sendEhlo()
    {
        sendCommand("EHLO " + server.SMTPserver + "\r\n");
        protocolState = EhloSent;
    }

    // Before a STARTTLS handshake only EHLO and STARTTLS go out: the states that would send more are
    // reached only from the 250 to EHLO, which is taken here.
    bool handleClearReply(const SmtpReply& reply)
    {
        if (protocolState == Handshaking)
            return true; // the socket hands on nothing until it is encrypted; nothing answers before
        if (protocolState == StartTlsSent) {
            if (reply.code != 220) {
                fail(ResultCode::NotSecure);
                return true;
            }
            progressStep = 1;
            protocolState = Handshaking;
            static_cast<QSslSocket*>(socket.data())->startClientEncryption();
            return true;
        }
        if (reply.code != 250 || protocolState != EhloSent)
            return false;
        progressStep = 3;
        if (!offersExtension(reply.text, "STARTTLS")) {
            log.appendReceived("Der Server bietet kein STARTTLS an.\r\n");
            fail(ResultCode::NotSecure);
            return true;
        }
        sendCommand("STARTTLS\r\n");
        protocolState = StartTlsSent;
        return true;
    }

    // The positive replies each step allows; a greeting may restart the conversation before DATA.
    bool expected(int code) const
    {
        switch (protocolState) {
        case Connecting:
            return code == 220;
        case EhloSent:
        case MailFromSent:
            return code == 250 || code == 220;
        case AuthSent:
        case UserSent:
            return code == 334 || code == 220;
        case PasswordSent:
        case FinalAuthSent:
            return code == 235 || code == 220;
        case XOAuthSent:
            return code == 235 || code == 334 || code == 220;
        case RcptToSent:
            return code == 250 || code == 251 || code == 220;
        case DataSent:
            return code == 354;
        case MessageSent:
            return code == 250;
        default:
            return false;
        }
    }

    void handleReply(const SmtpReply& reply)
    {
        // Anything but success, or the one challenge that carries the reason, refuses the token.
        if (!server.accessToken.isEmpty() && (protocolState == XOAuthSent || protocolState == FinalAuthSent) &&
            reply.code != 235 && !(reply.code == 334 && protocolState == XOAuthSent))
            tokenRefused = true;
        if (server.SMTPEncryption == Encryption::StartTls && !encrypted && handleClearReply(reply))
            return;
        if (reply.code >= 200 && reply.code < 400 && !expected(reply.code)) {
            // Client and server no longer agree on the step; waiting would only run into the time limit. Once
            // the message may have reached the server whole, the mail may have been taken.
            fail(protocolState == MessageSent && !writesPending() ? ResultCode::DeliveryUnclear
                                                                  : ResultCode::ServerReply);
            return;
        }
        if (protocolState == RcptToSent && reply.code >= 400 && envelope.recipients.size() > 1) {
            // One recipient of several refused: no message goes to the others, the open transaction is dropped.
            sendCommand("QUIT\r\n");
            fail(ResultCode::ServerReply);
            return;
        }
        switch (reply.code) {
        case 220:
            progressStep = 1;
            sendEhlo();
            return;
        case 250:
            progressStep = 3;
            if (protocolState == EhloSent) {
                onEhloAccepted(reply.text);
            } else if (protocolState == MailFromSent) {
                recipientsAsked = 0;
                sendNextRecipient();
            } else if (protocolState == RcptToSent) {
                progressStep = 5;
                sendNextRecipient();
            } else if (protocolState == MessageSent) {
                progressStep = 6;
                Q_EMIT q->progress(messageLength, messageLength, 0);
                protocolState = QuitSending;
                sendCommand("QUIT\r\n");
                succeeded = true;
                finish();
            }
            return;
        case 251:
            progressStep = 7;
            if (protocolState == RcptToSent)
                sendNextRecipient();
            return;
        case 334:
            progressStep = 8;
            if (protocolState == AuthSent) {
                sendCommand(Encode(server.SMTPAuthUser) + "\r\n");
                protocolState = UserSent;
            } else if (protocolState == UserSent) {
                sendCommand(Encode(server.SMTPAuthPass) + "\r\n", true);
                protocolState = PasswordSent;
            } else if (protocolState == XOAuthSent) {
                // The token was refused; the challenge holds the server's reason. An empty line asks
                // for the final reply, a 535 that fails the mail.
                sendCommand("\r\n");
                protocolState = FinalAuthSent;
            }
            return;
        case 235:
            progressStep = 2;
            if (protocolState == PasswordSent || protocolState == XOAuthSent || protocolState == FinalAuthSent)
                sendMailFrom();
            return;
        case 354:
            if (protocolState == DataSent) {
                Q_EMIT q->statusText("E-Mail wird gesendet..." + idSuffix());
                Q_EMIT q->progress(0, 0, 1);
                protocolState = MessageSent;
                const QByteArray message = ComposeMessage(mail, QDateTime::currentDateTime());
                messageLength = qint32(message.size());
                sendCommand(message);
            }
            return;
        default:
            fail(ResultCode::ServerReply);
            return;
        }
    }
};

ZUB_SMTP::ZUB_SMTP(SmtpTimings timings, QObject* parent) : QObject(parent), d(std::make_unique<Private>(this, timings))
{
    d->log.reset();
    d->connectTimer.setSingleShot(true);
    d->conversationTimer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the limits are meant to the millisecond.
    d->connectTimer.setTimerType(Qt::PreciseTimer);
    d->conversationTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->connectTimer, &QTimer::timeout, this, [this] { d->onConnectTimeout(); });
    connect(&d->conversationTimer, &QTimer::timeout, this, [this] { d->onConversationTimeout(); });
}

ZUB_SMTP::~ZUB_SMTP()
{
    if (d->socket)
        QObject::disconnect(d->socket, nullptr, this, nullptr);
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

bool ZUB_SMTP::SendMail()
{
    if (d->busy)
        return false;
    d->busy = true;
    d->errorResponse.clear();
    d->tokenRefused = false;
    d->succeeded = false;
    d->connected = false;
    d->encrypted = false;
    d->messageOut = false;
    d->progressStep = 1;
    d->messageLength = 0;
    d->log.reset();
    d->framer.reset();
    d->closeSocket();

    if (const QByteArray problem = headerProblem(d->mail); !problem.isEmpty()) {
        // Such a text could smuggle header lines or commands; refuse before any connection, saying which.
        d->log.appendReceived(problem + "\r\n");
        d->refuseLater(ResultCode::Refused);
        return true;
    }
    d->envelope = envelopeOf(d->mail);
    if ((d->mustEncrypt() && !QSslSocket::supportsSsl()) || (!d->server.accessToken.isEmpty() && !d->mustEncrypt())) {
        // No TLS library, or a token that would travel in the clear (a description decideDelivery() never gives):
        // the mail does not go.
        d->refuseLater(ResultCode::NotSecure);
        return true;
    }

    d->protocolState = Connecting;
    d->connectTimer.start(d->timings.connectMs);
    d->openSocket();
    return true;
}

bool ZUB_SMTP::isBusy() const
{
    return d->busy;
}

void ZUB_SMTP::abort()
{
    if (!d->busy || d->protocolState == Finished)
        return; // nothing runs, or a refusal is already on its way
    if (!d->messageOut) {
        d->fail(ResultCode::TimedOut); // the server cannot have taken a message it has not seen end
        return;
    }
    const int left = d->conversationTimer.remainingTime();
    d->conversationTimer.start(left < 0 ? d->timings.abortGraceMs : qMin(left, d->timings.abortGraceMs));
}

bool ZUB_SMTP::tokenRefused() const
{
    return d->tokenRefused;
}

QByteArray ZUB_SMTP::ErrorResponse() const
{
    return d->errorResponse;
}

const SmtpLog& ZUB_SMTP::CurrentLog() const
{
    return d->log;
}

} // namespace kadmel
