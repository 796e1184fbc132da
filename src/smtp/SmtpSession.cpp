#include "smtp/SmtpSession.h"

#include "smtp/Base64.h"
#include "smtp/DsnParameters.h"
#include "smtp/MessageSize.h"
#include "smtp/ReplyFramer.h"
#include "store/Ansi.h"
#include "store/ResultCode.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <utility>

namespace kadmel {

namespace {

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
    RsetSent = 16,      // between two mails
    Waiting = 17,       // signed in, no mail to send, no QUIT asked
};

struct Active
{
    SmtpTransaction transaction;
    SmtpLog log;
    qsizetype recipientsAsked = 0;
};

} // namespace

struct SmtpSession::Private
{
    SmtpSession* q;
    SmtpTimings timings;
    SmtpServer server;

    QPointer<QTcpSocket> socket;
    ReplyFramer framer;
    QTimer connectTimer;
    QTimer conversationTimer;
    SmtpLog opening; // up to the first mail, the start of every mail's log
    EhloReply ehlo;
    std::optional<Active> active;
    QList<SmtpTransaction> waiting;
    qsizetype begun = 0; // mails begun in this session
    SignInMechanism mechanism = SignInMechanism::None;

    bool tokenRefused = false;
    qint32 protocolState = Finished;
    bool connected = false;
    bool encrypted = false;
    bool busy = false;
    bool quitAsked = false;
    bool aborting = false;
    QByteArray cutCause; // abort()'s, for the log
    // The whole message of the mail on its way, its final "." CR LF included, has left for the server: from
    // now on a lost connection cannot tell whether the mail was taken.
    bool messageOut = false;
    qint16 progressStep = 1;
    qint32 messageLength = 0;
    quint64 session = 0; // tells a finished session from the one a slot may have started

    explicit Private(SmtpSession* owner, SmtpTimings t) : q(owner), timings(std::move(t)) {}

    SmtpLog& log() { return active ? active->log : opening; }

    QByteArray label() const
    {
        return active ? active->transaction.label : waiting.isEmpty() ? QByteArray() : waiting.first().label;
    }

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
        QTimer::singleShot(timings.lingerMs, s, [s] {
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
        log().appendSent(logged);
        Q_EMIT q->lineSent(logged);
        if (socketConnected())
            socket->write(text);
    }

    void noteReceived(const QByteArray& text) { log().appendReceived(text); }

    // The outcome of one mail, its log as it stands.
    void report(ResultCode code, const SmtpLog& mailLog, const QByteArray& reply, const QByteArray& message = {})
    {
        Q_EMIT q->transactionDone({code, reply.trimmed(), mechanism, message}, mailLog);
    }

    static QByteArray lastReceived(const SmtpLog& mailLog)
    {
        for (auto it = mailLog.Received.crbegin(); it != mailLog.Received.crend(); ++it) {
            if (!it->isEmpty())
                return *it;
        }
        return {};
    }

    // Fails the mail on its way with `code` and every waiting one with `waitingCode`, then ends the session.
    void fail(ResultCode code, std::optional<ResultCode> waitingCode = std::nullopt)
    {
        // The rest of a message cut off in transfer must not leave on closing: with its final dot the
        // server would take a mail that is filed as failed.
        const bool messageCut = protocolState == MessageSent && !messageOut;
        protocolState = Finished;
        connectTimer.stop();
        conversationTimer.stop();
        closeSocket(messageCut);
        const quint64 current = session;
        if (active) {
            const Active ended = *std::exchange(active, std::nullopt);
            report(code, ended.log, lastReceived(ended.log));
        }
        const ResultCode rest = waitingCode.value_or(code);
        while (session == current && !waiting.isEmpty()) {
            waiting.removeFirst();
            report(rest, opening, lastReceived(opening));
        }
        if (session == current)
            end();
    }

    void end()
    {
        protocolState = Finished;
        connectTimer.stop();
        conversationTimer.stop();
        closeSocket();
        busy = false;
        ++session;
        Q_EMIT q->closed();
    }

    // Ends the session just opened, from the event loop, without connecting.
    void refuseLater(ResultCode code)
    {
        protocolState = Finished;
        const quint64 current = session;
        QTimer::singleShot(0, q, [this, current, code] {
            if (busy && session == current)
                fail(code);
        });
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
        noteReceived(cause + "\r\n");
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
        if (protocolState == Waiting)
            return sendQuit(); // kept too long without a next mail
        if (protocolState == Finished)
            return;
        if (aborting)
            noteCut();
        fail(messageOut ? ResultCode::DeliveryUnclear : ResultCode::TimedOut, ResultCode::TimedOut);
    }

    // Why the conversation ended, where the reply would stand: the mail's reason in the window.
    void noteCut() { noteReceived(cutCause + "\r\n"); }

    // The server hung up: reported once, whether the error or the disconnect comes first.
    void onClosed()
    {
        if (!connected)
            return;
        connected = false;
        fail(handshakePending() ? ResultCode::NotSecure
             : messageOut       ? ResultCode::DeliveryUnclear
                                : ResultCode::ClosedByServer,
             handshakePending() ? ResultCode::NotSecure : ResultCode::ClosedByServer);
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
            noteReceived("TLS: " + toAnsi(socket->errorString()) + "\r\n");
            fail(ResultCode::NotSecure);
            return;
        }
        // The connection broke under the conversation.
        fail(messageOut ? ResultCode::DeliveryUnclear : ResultCode::ClosedByServer, ResultCode::ClosedByServer);
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
            Q_EMIT q->statusText("Verbindung zum Mailserver wird hergestellt..." + label());
            Q_EMIT q->progress(progressStep, 8, 0);
        }
    }

    void onReadyRead()
    {
        const QByteArray bytes = socket->readAll();
        const quint64 current = session;
        for (const SmtpReply& reply : framer.feed(bytes)) {
            noteReceived(reply.text);
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

    // After TLS the server's AUTH list decides: PLAIN only where it offers PLAIN and not LOGIN. In the clear
    // the list is not read, so the conversation stays as it always was.
    bool choosesPlain() const
    {
        if (!encrypted)
            return false;
        const QByteArrayList offered = ehlo.mechanisms();
        return offered.contains("PLAIN") && !offered.contains("LOGIN");
    }

    void sendAuth()
    {
        if (!server.accessToken.isEmpty()) {
            const QByteArray response = "user=" + server.SMTPAuthUser +
                                        "\x01"
                                        "auth=Bearer " +
                                        server.accessToken + "\x01\x01";
            sendMasked("AUTH XOAUTH2 " + response.toBase64() + "\r\n", "AUTH XOAUTH2 ****\r\n");
            mechanism = SignInMechanism::XOAuth2;
            protocolState = XOAuthSent;
        } else if (choosesPlain()) {
            // RFC 4616 wants UTF-8; the stored texts are Windows-1252.
            const QByteArray response =
                '\0' + fromAnsi(server.SMTPAuthUser).toUtf8() + '\0' + fromAnsi(server.SMTPAuthPass).toUtf8();
            sendMasked("AUTH PLAIN " + response.toBase64() + "\r\n", "AUTH PLAIN ****\r\n");
            mechanism = SignInMechanism::Plain;
            protocolState = FinalAuthSent;
        } else {
            sendCommand("AUTH LOGIN\r\n");
            mechanism = SignInMechanism::Login;
            protocolState = AuthSent;
        }
    }

    // Why the server as it introduced itself cannot take this mail, or empty: an address that needs SMTPUTF8
    // where it is not offered (it could be written in neither the envelope nor the header), or a message
    // larger than its SIZE or the own limit.
    QByteArray unfit(const SmtpTransaction& t) const
    {
        if (!t.envelope.eightBitAddress.isEmpty() && !ehlo.offers("SMTPUTF8"))
            return "Der Server nimmt keine Adressen mit Umlauten an. \x84" + t.envelope.eightBitAddress.left(100) +
                   "\x93";
        const qint64 size = messageSize(t.message);
        if (server.maxMessageBytes > 0 && size > server.maxMessageBytes)
            return tooLargeForSettings(size, server.maxMessageBytes);
        if (const std::optional<qint64> limit = ehlo.maximumSize(); limit && size > *limit)
            return tooLargeForServer(size, *limit);
        return {};
    }

    // Such a mail is refused without a word to the server, never half-sent; the reason stands where a reply would.
    void refuseUnfit(const QByteArray& reason)
    {
        SmtpLog mailLog = opening;
        mailLog.appendReceived(reason + "\r\n");
        report(ResultCode::Refused, mailLog, reason);
    }

    void sendQuit()
    {
        protocolState = QuitSending;
        sendCommand("QUIT\r\n");
        end();
    }

    // The next waiting mail, "QUIT" once none waits and it was asked, else the session waits for one.
    void beginNext()
    {
        if (active)
            return sendMailFrom(); // a greeting restarted the conversation: the same mail from its start
        const quint64 current = session;
        while (session == current && !waiting.isEmpty() && (aborting || !unfit(waiting.first()).isEmpty())) {
            const SmtpTransaction t = waiting.takeFirst();
            if (aborting)
                report(ResultCode::TimedOut, opening, lastReceived(opening));
            else
                refuseUnfit(unfit(t));
        }
        if (session != current)
            return;
        if (waiting.isEmpty()) {
            if (quitAsked || aborting)
                return sendQuit();
            protocolState = Waiting;
            messageOut = false;
            conversationTimer.start(timings.keptMs);
            return;
        }
        active = Active{waiting.takeFirst(), opening};
        messageOut = false;
        messageLength = 0;
        if (begun++ == 0)
            return sendMailFrom();
        // The note takes a line of its own in both arrays, so each command still meets its reply in the log.
        active->log.appendSent({});
        noteReceived("(Verbindung weiterverwendet: E-Mail " + QByteArray::number(begun) + " dieser Verbindung)\r\n");
        conversationTimer.start(timings.conversationMs); // each later mail has the time the first had
        sendCommand("RSET\r\n");
        protocolState = RsetSent;
    }

    void sendMailFrom()
    {
        // Reached only for a mail the server can take (beginNext).
        const Envelope& envelope = active->transaction.envelope;
        const QByteArray utf8 = envelope.eightBitAddress.isEmpty() ? QByteArray() : QByteArray(" SMTPUTF8");
        sendCommand("MAIL FROM: <" + envelope.sender + ">" + utf8 + mailFromParameters(ehlo, envelope) + "\r\n");
        protocolState = MailFromSent;
    }

    // RCPT TO for the next recipient, DATA once all are taken.
    void sendNextRecipient()
    {
        const Envelope& envelope = active->transaction.envelope;
        if (active->recipientsAsked < envelope.recipients.size()) {
            progressStep = 4;
            const QByteArray& recipient = envelope.recipients.at(active->recipientsAsked++);
            sendCommand("RCPT TO: <" + recipient + ">" + rcptToParameters(ehlo, recipient) + "\r\n");
            protocolState = RcptToSent;
            return;
        }
        sendCommand("DATA\r\n");
        protocolState = DataSent;
    }

    void onEhloAccepted(const QByteArray& ehloReply)
    {
        ehlo = {ehloReply};
        const bool noneCanGo =
            !waiting.isEmpty() && std::all_of(waiting.cbegin(), waiting.cend(),
                                              [this](const SmtpTransaction& t) { return !unfit(t).isEmpty(); });
        if (noneCanGo) {
            // No mail of this session can go: the conversation ends before the sign-in.
            sendCommand("QUIT\r\n");
            const quint64 current = session;
            while (session == current && !waiting.isEmpty())
                refuseUnfit(unfit(waiting.takeFirst()));
            if (session == current)
                end();
        } else if (server.SMTPAuth || !server.accessToken.isEmpty()) {
            sendAuth();
        } else {
            beginNext();
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
            noteReceived("Der Server bietet kein STARTTLS an.\r\n");
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
        case RsetSent:
            return code == 250;
        default:
            return false;
        }
    }

    bool inTransaction() const
    {
        return protocolState == MailFromSent || protocolState == RcptToSent || protocolState == DataSent ||
               protocolState == MessageSent;
    }

    // The server refused a step of the mail on its way: the next waiting one still goes, and before quit() the
    // session waits for one; else it ends as it always did (with "QUIT" where the server still holds an open
    // transaction of several recipients).
    void refuseMail(bool quitFirst)
    {
        if ((waiting.isEmpty() && quitAsked) || !inTransaction()) {
            if (quitFirst)
                sendCommand("QUIT\r\n");
            fail(ResultCode::ServerReply);
            return;
        }
        const Active ended = *std::exchange(active, std::nullopt);
        const quint64 current = session;
        report(ResultCode::ServerReply, ended.log, lastReceived(ended.log));
        if (session == current)
            beginNext();
    }

    void accepted(const QByteArray& reply)
    {
        progressStep = 6;
        Q_EMIT q->progress(messageLength, messageLength, 0);
        const bool last = waiting.isEmpty() && (quitAsked || aborting);
        if (last) {
            protocolState = QuitSending;
            sendCommand("QUIT\r\n");
        }
        const Active ended = *std::exchange(active, std::nullopt);
        const quint64 current = session;
        report(ResultCode::Sent, ended.log, reply, withoutEndOfData(ended.transaction.message));
        if (session != current)
            return;
        if (last)
            end();
        else
            beginNext();
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
        if (protocolState == RcptToSent && reply.code >= 400 && active->transaction.envelope.recipients.size() > 1) {
            // One recipient of several refused: no message goes to the others, the open transaction is dropped.
            refuseMail(true);
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
            } else if (protocolState == RsetSent) {
                sendMailFrom();
            } else if (protocolState == MailFromSent) {
                active->recipientsAsked = 0;
                sendNextRecipient();
            } else if (protocolState == RcptToSent) {
                progressStep = 5;
                sendNextRecipient();
            } else if (protocolState == MessageSent) {
                accepted(reply.text);
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
                beginNext();
            return;
        case 354:
            if (protocolState == DataSent) {
                Q_EMIT q->statusText("E-Mail wird gesendet..." + label());
                Q_EMIT q->progress(0, 0, 1);
                protocolState = MessageSent;
                const QByteArray message = active->transaction.message;
                messageLength = qint32(message.size());
                sendCommand(message);
            }
            return;
        default:
            if (reply.code == 421) // the server closes the connection: nothing more goes on it
                return fail(ResultCode::ServerReply);
            refuseMail(false);
            return;
        }
    }
};

SmtpSession::SmtpSession(SmtpTimings timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, std::move(timings)))
{
    d->connectTimer.setSingleShot(true);
    d->conversationTimer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the limits are meant to the millisecond.
    d->connectTimer.setTimerType(Qt::PreciseTimer);
    d->conversationTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->connectTimer, &QTimer::timeout, this, [this] { d->onConnectTimeout(); });
    connect(&d->conversationTimer, &QTimer::timeout, this, [this] { d->onConversationTimeout(); });
}

SmtpSession::~SmtpSession()
{
    if (d->socket)
        QObject::disconnect(d->socket, nullptr, this, nullptr);
}

bool SmtpSession::open(const SmtpServer& server)
{
    if (d->busy)
        return false;
    d->busy = true;
    d->server = server;
    d->tokenRefused = false;
    d->connected = false;
    d->encrypted = false;
    d->quitAsked = false;
    d->aborting = false;
    d->messageOut = false;
    d->progressStep = 1;
    d->messageLength = 0;
    d->begun = 0;
    d->mechanism = SignInMechanism::None;
    d->ehlo = {};
    d->active.reset();
    d->waiting.clear();
    d->opening.reset();
    d->framer.reset();
    d->closeSocket();

    if ((d->mustEncrypt() && !QSslSocket::supportsSsl()) || (!server.accessToken.isEmpty() && !d->mustEncrypt())) {
        // No TLS library, or a token that would travel in the clear (a plan decideDelivery() never gives):
        // nothing goes.
        d->refuseLater(ResultCode::NotSecure);
        return true;
    }
    d->protocolState = Connecting;
    d->connectTimer.start(d->timings.connectMs);
    d->openSocket();
    return true;
}

void SmtpSession::send(const SmtpTransaction& transaction)
{
    if (!d->busy)
        return;
    d->waiting.append(transaction);
    if (d->protocolState == Waiting) {
        d->conversationTimer.stop(); // no idle QUIT before the mail begins
        QTimer::singleShot(0, this, [this, current = d->session] {
            if (d->session == current && d->protocolState == Waiting)
                d->beginNext();
        });
    }
}

void SmtpSession::quit()
{
    if (!d->busy)
        return;
    d->quitAsked = true;
    if (d->protocolState == Waiting)
        QTimer::singleShot(0, this, [this, current = d->session] {
            if (d->session == current && d->protocolState == Waiting)
                d->beginNext();
        });
}

void SmtpSession::abort(Cut cut)
{
    if (!d->busy || d->protocolState == Finished)
        return; // nothing runs, or a refusal is already on its way
    d->cutCause = cut == Cut::Person ? "Vom Benutzer abgebrochen." : "Abgebrochen: ZUB wird beendet.";
    if (!d->messageOut) {
        d->noteCut(); // the server cannot have taken a message it has not seen end
        d->fail(ResultCode::TimedOut);
        return;
    }
    d->aborting = true;
    const int grace = cut == Cut::Person ? d->timings.stopGraceMs : d->timings.abortGraceMs;
    const int left = d->conversationTimer.remainingTime();
    d->conversationTimer.start(left < 0 ? grace : qMin(left, grace));
    Q_EMIT statusText("Warte auf Antwort des Servers (h\xF6" // "\xF6c" would be one escape
                      "chstens " +
                      QByteArray::number((d->conversationTimer.remainingTime() + 999) / 1000) + " s)..." + d->label());
}

bool SmtpSession::isOpen() const
{
    return d->busy;
}

bool SmtpSession::tokenRefused() const
{
    return d->tokenRefused;
}

const EhloReply& SmtpSession::ehlo() const
{
    return d->ehlo;
}

const SmtpLog& SmtpSession::currentLog() const
{
    return d->active ? d->active->log : d->opening;
}

} // namespace kadmel
