#include "imap/ImapSession.h"

#include "imap/ImapFramer.h"
#include "imap/ImapText.h"
#include "store/Ansi.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace kadmel {
namespace {

enum class Step
{
    Done, // no connection
    Connecting,
    Greeting,
    Capability,
    StartTls,
    Handshaking, // after the OK to STARTTLS, until the socket is encrypted
    SignIn,
    SignedIn, // CAPABILITY once more
    Select,
    Ready, // the caller's turn
    Search,
    Fetch,
    Move,
    Copy,
    Flag,
    Expunge,
    Logout,
};

// The number behind `word` in the text ("UIDVALIDITY 7", "UID 12"), if one follows.
std::optional<quint32> numberAfter(const QByteArray& text, const QByteArray& word)
{
    const qsizetype at = text.indexOf(word);
    if (at < 0)
        return std::nullopt;
    qsizetype end = at + word.size();
    while (end < text.size() && text.at(end) >= '0' && text.at(end) <= '9')
        ++end;
    bool ok = false;
    const quint32 value = text.mid(at + word.size(), end - at - word.size()).toUInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// The server's words for a message: printable, and not longer than a line of panel 2 can show.
QByteArray serverWords(const QByteArray& text)
{
    QByteArray words = text.left(200);
    for (char& c : words) {
        if (c < ' ' || c > '~')
            c = '?';
    }
    return words;
}

} // namespace

struct ImapSession::Private
{
    ImapSession* q;
    ImapTimings timings;
    ImapServer server;
    bool writable = false;

    QPointer<QSslSocket> socket;
    ImapFramer framer{MaxMessageBytes};
    QTimer connectTimer;
    QTimer replyTimer;
    Step step = Step::Done;
    quint64 generation = 0; // tells the session a signal's listener may have ended or begun anew
    quint32 commands = 0;
    QByteArray tag;
    QByteArrayList capabilities;
    bool encrypted = false;
    bool preauthenticated = false;
    QByteArray pendingResponse; // the sign-in's answer, for the server's "+"
    bool responseSent = false;
    bool signInRefused = false;

    quint32 uidValidity = 0, uidNext = 0;
    quint32 after = 0;
    QList<quint32> uids;
    quint32 uid = 0; // the message of the step in hand
    QByteArray folder;
    QByteArray message;

    explicit Private(ImapSession* owner, ImapTimings t) : q(owner), timings(std::move(t)) {}

    bool offers(const QByteArray& capability) const { return capabilities.contains(capability); }

    void command(const QByteArray& text, Step next)
    {
        tag = 'k' + QByteArray::number(++commands);
        step = next;
        replyTimer.start(timings.conversationMs);
        if (socket)
            socket->write(tag + ' ' + text + "\r\n");
    }

    void closeSocket()
    {
        connectTimer.stop();
        replyTimer.stop();
        if (QSslSocket* s = std::exchange(socket, nullptr)) {
            QObject::disconnect(s, nullptr, q, nullptr);
            s->abort();
            s->deleteLater();
        }
    }

    void finish(const QByteArray& failure)
    {
        step = Step::Done;
        closeSocket();
        ++generation;
        Q_EMIT q->finished(failure);
    }

    void onConnected()
    {
        connectTimer.stop();
        replyTimer.start(timings.conversationMs);
        step = Step::Greeting;
    }

    void onError(QAbstractSocket::SocketError error)
    {
        if (step == Step::Logout)
            return finish({});
        if (step == Step::Connecting) {
            switch (error) {
            case QAbstractSocket::ConnectionRefusedError:
                return finish("Verbindung abgelehnt");
            case QAbstractSocket::HostNotFoundError:
                return finish("Servername nicht gefunden");
            case QAbstractSocket::NetworkError:
                return finish("Netzwerk oder Server nicht erreichbar");
            default:
                break;
            }
        }
        const bool tls = step == Step::Handshaking || (!encrypted && server.tlsFromStart);
        if (tls || error == QAbstractSocket::SslHandshakeFailedError)
            return finish("TLS: " + toAnsi(socket ? socket->errorString() : QString()));
        if (error == QAbstractSocket::RemoteHostClosedError)
            return finish("Verbindung vom Server beendet");
        finish("Verbindungsfehler: " + toAnsi(socket ? socket->errorString() : QString()));
    }

    void onEncrypted()
    {
        encrypted = true;
        if (step != Step::Handshaking)
            return;           // TLS from the first byte: the greeting comes next
        capabilities.clear(); // what was offered in the clear may have been forged
        command("CAPABILITY", Step::Capability);
    }

    void onTimeout()
    {
        if (step == Step::Ready)
            return finish("Zeit f\xFCr die Bearbeitung einer Nachricht \xFC"
                          "berschritten");
        finish("Keine Antwort innerhalb von " + QByteArray::number((timings.conversationMs + 999) / 1000) + " s");
    }

    void onReadyRead()
    {
        const quint64 current = generation;
        for (const ImapResponse& response : framer.feed(socket->readAll())) {
            replyTimer.start(timings.conversationMs);
            handle(response);
            if (generation != current || !socket)
                return;
            if (step == Step::Handshaking) {
                // Bytes behind the OK to STARTTLS came in the clear and may be forged: they are dropped.
                framer.reset();
                return;
            }
        }
        if (framer.overflowed())
            finish("Antwort des Servers zu lang");
    }

    void readCapabilities(const QByteArray& text)
    {
        // "* CAPABILITY …" or a response code "[CAPABILITY …]"; the words of a refusal are no list.
        const qsizetype at = text.startsWith("* CAPABILITY ") ? 2 : text.indexOf("[CAPABILITY ") + 1;
        if (at <= 0)
            return;
        QByteArray list = text.mid(at + 11);
        if (const qsizetype close = list.indexOf(']'); text.at(at - 1) == '[')
            list.truncate(close < 0 ? list.size() : close);
        capabilities = list.toUpper().split(' ');
    }

    void handle(const ImapResponse& response)
    {
        const QByteArray& text = response.text;
        if (text.startsWith("+")) {
            if (step == Step::SignIn) {
                // A second "+" carries the server's reason for refusing; the empty answer asks for its NO.
                socket->write((responseSent ? QByteArray() : pendingResponse) + "\r\n");
                responseSent = true;
            }
            return;
        }
        if (text.startsWith("* ")) {
            untagged(response);
            return;
        }
        if (!tag.isEmpty() && text.startsWith(tag + ' ')) {
            const QByteArray rest = text.mid(tag.size() + 1);
            readCapabilities(rest);
            completed(rest.startsWith("OK"), serverWords(rest.mid(rest.indexOf(' ') + 1)),
                      rest.contains("[CAPABILITY "));
        }
    }

    void untagged(const ImapResponse& response)
    {
        const QByteArray& text = response.text;
        if (text.startsWith("* BYE") && step != Step::Logout)
            return finish("Der Server beendet die Verbindung: " + serverWords(text.mid(6)));
        if (step == Step::Greeting) {
            preauthenticated = text.startsWith("* PREAUTH");
            if (preauthenticated && !encrypted) // signed in without TLS: STARTTLS can no longer be asked
                return finish("Der Server meldet eine Anmeldung ohne Verschlüsselung");
            if (!preauthenticated && !text.startsWith("* OK"))
                return finish("Unerwarteter Gru\xDF des Servers: " + serverWords(text));
            return command("CAPABILITY", Step::Capability);
        }
        readCapabilities(text);
        if (step == Step::Select) {
            if (const auto value = numberAfter(text, "[UIDVALIDITY "))
                uidValidity = *value;
            if (const auto value = numberAfter(text, "[UIDNEXT "))
                uidNext = *value;
        } else if (step == Step::Search && text.startsWith("* SEARCH")) {
            for (const QByteArray& word : text.mid(8).split(' ')) {
                bool ok = false;
                const quint32 found = word.toUInt(&ok);
                if (ok && found > after)
                    uids.append(found);
            }
        } else if (step == Step::Fetch && text.contains(" FETCH (") && text.contains("BODY[")) {
            const qsizetype items = text.indexOf(" FETCH (") + 7;
            if (numberAfter(text.mid(items), "UID ") == uid && !response.literals.isEmpty())
                message = response.literals.constFirst();
        }
    }

    void signIn()
    {
        if (preauthenticated)
            return select();
        QByteArray mechanism;
        if (!server.accessToken.isEmpty()) {
            mechanism = "XOAUTH2";
            pendingResponse =
                ("user=" + server.user + "\x01" + "auth=Bearer " + server.accessToken + "\x01\x01").toBase64();
        } else if (offers("AUTH=PLAIN")) {
            // RFC 4616 wants UTF-8; the stored texts are Windows-1252.
            mechanism = "PLAIN";
            pendingResponse =
                ('\0' + fromAnsi(server.user).toUtf8() + '\0' + fromAnsi(server.password).toUtf8()).toBase64();
        } else {
            const QByteArray user = imapQuoted(server.user), password = imapQuoted(server.password);
            if (offers("LOGINDISABLED") || user.isEmpty() || password.isEmpty())
                return finish("Der Server l\xE4sst keine Anmeldung mit Passwort zu");
            return command("LOGIN " + user + ' ' + password, Step::SignIn);
        }
        responseSent = offers("SASL-IR");
        command("AUTHENTICATE " + mechanism + (responseSent ? ' ' + pendingResponse : QByteArray()), Step::SignIn);
    }

    void select() { command(writable ? "SELECT INBOX" : "EXAMINE INBOX", Step::Select); }

    void completed(bool ok, const QByteArray& words, bool listedCapabilities)
    {
        const Step was = step;
        step = Step::Ready;
        switch (was) {
        case Step::Capability:
        case Step::SignedIn:
            if (!ok)
                return finish("Befehl abgelehnt: " + words);
            if (was == Step::SignedIn)
                return select();
            if (encrypted)
                return signIn();
            if (!offers("STARTTLS"))
                return finish("Der Server bietet kein STARTTLS an");
            return command("STARTTLS", Step::StartTls);
        case Step::StartTls:
            if (!ok)
                return finish("STARTTLS abgelehnt: " + words);
            step = Step::Handshaking;
            socket->startClientEncryption();
            return;
        case Step::SignIn:
            if (!ok) {
                signInRefused = true;
                return finish("Anmeldung abgelehnt: " + words);
            }
            // MOVE and UIDPLUS are often listed only once signed in; most servers name them in this very OK.
            if (listedCapabilities)
                return select();
            return command("CAPABILITY", Step::SignedIn);
        case Step::Select:
            if (!ok)
                return finish("INBOX nicht ge\xF6"
                              "ffnet: " +
                              words);
            if (uidValidity == 0 || uidNext == 0)
                return finish("Der Server nennt UIDVALIDITY oder UIDNEXT nicht");
            Q_EMIT q->selected(uidValidity, uidNext);
            return;
        case Step::Search:
            if (!ok)
                return finish("Suche abgelehnt: " + words);
            std::sort(uids.begin(), uids.end());
            uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
            Q_EMIT q->found(uids);
            return;
        case Step::Fetch:
            if (!ok)
                return finish("Abruf abgelehnt: " + words);
            Q_EMIT q->fetched(uid, std::exchange(message, {}));
            return;
        case Step::Copy:
            if (!ok)
                break;
            return command("UID STORE " + QByteArray::number(uid) + " +FLAGS.SILENT (\\Deleted)", Step::Flag);
        case Step::Flag:
            // Without UIDPLUS only EXPUNGE would remove it, and with it every other message marked deleted.
            if (ok && offers("UIDPLUS"))
                return command("UID EXPUNGE " + QByteArray::number(uid), Step::Expunge);
            break;
        case Step::Logout:
            return finish({});
        default:
            break;
        }
        if (was == Step::Move || was == Step::Copy || was == Step::Flag || was == Step::Expunge)
            Q_EMIT q->moved(uid, ok ? QByteArray() : words);
    }
};

ImapSession::ImapSession(ImapTimings timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this, std::move(timings)))
{
    for (QTimer* timer : {&d->connectTimer, &d->replyTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&d->connectTimer, &QTimer::timeout, this, [this] {
        d->finish("Keine Antwort innerhalb von " + QByteArray::number((d->timings.connectMs + 999) / 1000) + " s");
    });
    connect(&d->replyTimer, &QTimer::timeout, this, [this] { d->onTimeout(); });
}

ImapSession::~ImapSession()
{
    d->closeSocket();
}

bool ImapSession::open(const ImapServer& server, bool writable)
{
    if (d->step != Step::Done)
        return false;
    d->server = server;
    d->writable = writable;
    d->framer.reset();
    d->capabilities.clear();
    d->encrypted = d->preauthenticated = d->responseSent = d->signInRefused = false;
    d->uidValidity = d->uidNext = 0;
    d->tag.clear();
    d->step = Step::Connecting;
    if (!QSslSocket::supportsSsl()) {
        // Nothing goes in the clear; the failure still comes from the event loop.
        QTimer::singleShot(0, this, [this, current = d->generation] {
            if (d->generation == current && d->step == Step::Connecting)
                d->finish("Keine TLS-Bibliothek vorhanden");
        });
        return true;
    }
    auto* s = new QSslSocket(this);
    QSslConfiguration config = s->sslConfiguration();
    if (!d->timings.extraCaCertificates.isEmpty())
        config.setCaCertificates(QSslConfiguration::systemCaCertificates() + d->timings.extraCaCertificates);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    s->setSslConfiguration(config);
    s->setPeerVerifyName(fromAnsi(server.host));
    connect(s, &QSslSocket::connected, this, [this] { d->onConnected(); });
    connect(s, &QSslSocket::encrypted, this, [this] { d->onEncrypted(); });
    connect(s, &QSslSocket::readyRead, this, [this] { d->onReadyRead(); });
    connect(s, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) { d->onError(e); });
    connect(s, &QSslSocket::disconnected, this, [this] { d->onError(QAbstractSocket::RemoteHostClosedError); });
    d->socket = s;
    d->connectTimer.start(d->timings.connectMs);
    if (server.tlsFromStart)
        s->connectToHostEncrypted(fromAnsi(server.host), server.port);
    else
        s->connectToHost(fromAnsi(server.host), server.port);
    return true;
}

void ImapSession::search(quint32 after)
{
    if (d->step != Step::Ready)
        return;
    d->after = after;
    d->uids.clear();
    d->command("UID SEARCH UID " + QByteArray::number(qulonglong(after) + 1) + ":*", Step::Search);
}

void ImapSession::fetch(quint32 uid)
{
    if (d->step != Step::Ready)
        return;
    d->uid = uid;
    d->message.clear();
    d->command("UID FETCH " + QByteArray::number(uid) + " (UID BODY.PEEK[]<0." + QByteArray::number(MaxMessageBytes) +
                   ">)",
               Step::Fetch);
}

void ImapSession::move(quint32 uid, const QString& folder)
{
    if (d->step != Step::Ready)
        return;
    d->uid = uid;
    const QByteArray name = imapMailboxName(folder);
    if (d->offers("MOVE"))
        d->command("UID MOVE " + QByteArray::number(uid) + ' ' + name, Step::Move);
    else
        d->command("UID COPY " + QByteArray::number(uid) + ' ' + name, Step::Copy);
}

void ImapSession::logout()
{
    if (d->step == Step::Ready)
        d->command("LOGOUT", Step::Logout);
}

bool ImapSession::signInRefused() const
{
    return d->signInRefused;
}

void ImapSession::abort()
{
    d->step = Step::Done;
    d->closeSocket();
    ++d->generation;
}

} // namespace kadmel
