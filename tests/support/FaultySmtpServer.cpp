#include "support/FaultySmtpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace kadmel::test {
namespace {

// Steps of a session at which a fault may strike: the reply that would be sent there.
enum Step { Greeting, Ehlo, MailFrom, RcptTo, Data, MessageEnd, StepCount };

struct Session
{
    FaultySmtpServer::Fault fault = FaultySmtpServer::Fault::None;
    int faultStep = 0;
    int step = Greeting;
    bool inData = false;
    QByteArray buffer;
    QByteArray pendingBytes; // a split reply still being written byte by byte
};

QByteArray subjectOf(const QByteArray& message)
{
    const qsizetype start = message.indexOf("\r\nSubject: ");
    if (start < 0)
        return {};
    const qsizetype end = message.indexOf("\r\n", start + 11);
    return message.mid(start + 11, end - start - 11);
}

} // namespace

FaultySmtpServer::FaultySmtpServer(quint32 seed, int faultPercent, QObject* parent)
    : QObject(parent), m_random(seed), m_faultPercent(faultPercent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FaultySmtpServer::onNewConnection);
}

bool FaultySmtpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost);
}

quint16 FaultySmtpServer::port() const
{
    return m_server.serverPort();
}

QByteArray FaultySmtpServer::faultSummary() const
{
    static const char* const Names[] = {"none", "close", "4xx", "5xx", "single bytes", "stall"};
    QByteArray summary;
    for (int kind = 0; kind < 6; ++kind) {
        if (!summary.isEmpty())
            summary += ", ";
        summary += QByteArray(Names[kind]) + ' ' + QByteArray::number(m_faultCounts.value(kind));
    }
    return summary;
}

void FaultySmtpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto session = std::make_shared<Session>();
        if (int(m_random.bounded(100)) < m_faultPercent) {
            session->fault = static_cast<Fault>(1 + m_random.bounded(5));
            session->faultStep = int(m_random.bounded(int(StepCount)));
        }
        ++m_faultCounts[int(session->fault)];
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);

        QPointer<QTcpSocket> guard(socket);
        auto writeSplit = std::make_shared<std::function<void()>>();
        *writeSplit = [guard, session, writeSplit] {
            if (!guard || session->pendingBytes.isEmpty())
                return;
            guard->write(session->pendingBytes.left(1));
            guard->flush();
            session->pendingBytes.remove(0, 1);
            if (!session->pendingBytes.isEmpty())
                QTimer::singleShot(1, guard, *writeSplit);
        };

        // Sends the reply of the current step, or the session's fault if it strikes here (then false).
        auto reply = [this, guard, session, writeSplit](const QByteArray& text, const QByteArray& message = {}) {
            if (!guard)
                return false;
            const bool strikes = session->fault != Fault::None && session->fault != Fault::SplitBytes &&
                                 session->step == session->faultStep;
            if (strikes) {
                switch (session->fault) {
                case Fault::Close:
                    guard->disconnectFromHost();
                    break;
                case Fault::Temporary:
                    guard->write("451 4.3.0 try again later\r\n");
                    break;
                case Fault::Permanent:
                    guard->write("554 5.7.1 rejected\r\n");
                    break;
                default: // Stall: say nothing; the client gives up after its limit
                    break;
                }
                return false;
            }
            if (session->step == MessageEnd)
                ++m_accepted[subjectOf(message)];
            if (session->fault == Fault::SplitBytes) {
                session->pendingBytes += text;
                (*writeSplit)();
            } else {
                guard->write(text);
            }
            return true;
        };

        connect(socket, &QTcpSocket::readyRead, socket, [socket, session, reply] {
            session->buffer += socket->readAll();
            for (;;) {
                if (session->inData) {
                    const qsizetype end = session->buffer.indexOf("\r\n.\r\n");
                    if (end < 0)
                        return;
                    const QByteArray message = session->buffer.left(end + 2);
                    session->buffer.remove(0, end + 5);
                    session->inData = false;
                    session->step = MessageEnd;
                    reply("250 2.0.0 queued\r\n", message);
                    continue;
                }
                const qsizetype eol = session->buffer.indexOf("\r\n");
                if (eol < 0)
                    return;
                const QByteArray line = session->buffer.left(eol).toUpper();
                session->buffer.remove(0, eol + 2);
                if (line.startsWith("EHLO")) {
                    session->step = Ehlo;
                    reply("250-soak.test\r\n250-8BITMIME\r\n250 SIZE 10000000\r\n");
                } else if (line.startsWith("MAIL FROM")) {
                    session->step = MailFrom;
                    reply("250 2.1.0 ok\r\n");
                } else if (line.startsWith("RCPT TO")) {
                    session->step = RcptTo;
                    reply("250 2.1.5 ok\r\n");
                } else if (line == "DATA") {
                    session->step = Data;
                    session->inData = reply("354 go ahead\r\n");
                } else if (line == "QUIT") {
                    socket->write("221 bye\r\n");
                    socket->disconnectFromHost();
                    return;
                } else {
                    socket->write("502 5.5.2 unknown\r\n");
                }
            }
        });
        session->step = Greeting;
        reply("220 soak.test ESMTP\r\n");
    }
}

} // namespace kadmel::test
