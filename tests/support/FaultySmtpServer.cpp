#include "support/FaultySmtpServer.h"

#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace kadmel::test {
namespace {

// Steps of a session at which a fault may strike: the reply that would be sent there.
enum Step
{
    Greeting,
    Ehlo,
    MailFrom,
    RcptTo,
    Data,
    MessageEnd,
    StepCount
};

QByteArray subjectOf(const QByteArray& message)
{
    const qsizetype start = message.indexOf("\r\nSubject: ") + 11;
    return start < 11 ? QByteArray() : message.mid(start, message.indexOf("\r\n", start) - start);
}

} // namespace

struct FaultySmtpServer::Session
{
    Fault fault = Fault::None;
    int faultStep = 0;
    bool inData = false;
    QByteArray buffer;
};

FaultySmtpServer::FaultySmtpServer(quint32 seed, int faultPercent) : m_random(seed), m_faultPercent(faultPercent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FaultySmtpServer::onNewConnection);
}

QByteArray FaultySmtpServer::faultSummary() const
{
    QByteArrayList parts;
    for (const char* name : {"none", "close", "4xx", "5xx", "single bytes", "stall"})
        parts << name + (' ' + QByteArray::number(m_faultCounts.value(int(parts.size()))));
    return parts.join(", ");
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
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, session] { onBytes(socket, *session); });
        answer(socket, *session, Greeting, "220 soak.test ESMTP\r\n");
    }
}

void FaultySmtpServer::onBytes(QTcpSocket* socket, Session& session)
{
    session.buffer += socket->readAll();
    for (;;) {
        if (session.inData) {
            const qsizetype end = session.buffer.indexOf("\r\n.\r\n");
            if (end < 0)
                return;
            const QByteArray subject = subjectOf(session.buffer.left(end + 2));
            session.buffer.remove(0, end + 5);
            session.inData = false;
            if (answer(socket, session, MessageEnd, "250 2.0.0 queued\r\n"))
                ++m_accepted[subject];
            continue;
        }
        const qsizetype eol = session.buffer.indexOf("\r\n");
        if (eol < 0)
            return;
        const QByteArray line = session.buffer.left(eol).toUpper();
        session.buffer.remove(0, eol + 2);
        if (line.startsWith("EHLO"))
            answer(socket, session, Ehlo, "250-soak.test\r\n250-8BITMIME\r\n250 SIZE 10000000\r\n");
        else if (line.startsWith("MAIL FROM"))
            answer(socket, session, MailFrom, "250 2.1.0 ok\r\n");
        else if (line.startsWith("RCPT TO"))
            answer(socket, session, RcptTo, "250 2.1.5 ok\r\n");
        else if (line == "DATA")
            session.inData = answer(socket, session, Data, "354 go ahead\r\n");
        else if (line == "QUIT") {
            socket->write("221 bye\r\n");
            socket->disconnectFromHost();
        } else
            socket->write("502 5.5.2 unknown\r\n");
    }
}

// Sends the reply of a step, or the session's fault if it strikes there (then false).
bool FaultySmtpServer::answer(QTcpSocket* socket, const Session& session, int step, const QByteArray& text)
{
    const Fault fault = session.fault;
    if (step == session.faultStep && fault != Fault::None && fault != Fault::SplitBytes) {
        if (fault == Fault::Close)
            socket->disconnectFromHost();
        else if (fault != Fault::Stall) // a stall says nothing; the client gives up after its limit
            socket->write(fault == Fault::Temporary ? "451 4.3.0 try again later\r\n" : "554 5.7.1 rejected\r\n");
        return false;
    }
    if (fault != Fault::SplitBytes)
        socket->write(text);
    else
        for (qsizetype i = 0; i < text.size(); ++i) // one byte a millisecond, each in a packet of its own
            QTimer::singleShot(int(i), socket, [socket, byte = text.mid(i, 1)] {
                socket->write(byte);
                socket->flush();
            });
    return true;
}

} // namespace kadmel::test
