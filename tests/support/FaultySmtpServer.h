#pragma once

#include <QHash>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace kadmel::test {

// An SMTP server on 127.0.0.1 that, from a fixed seed, answers each session normally or with one fault:
// it closes the connection at a random step, answers 4xx or 5xx, splits every reply into single bytes,
// or stalls past the client's conversation limit. It counts the messages it accepted, by subject.
class FaultySmtpServer : public QObject
{
public:
    explicit FaultySmtpServer(quint32 seed, int faultPercent = 50) : m_random(seed), m_faultPercent(faultPercent)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &FaultySmtpServer::onNewConnection);
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    quint16 port() const { return m_server.serverPort(); }
    // Subject → how many times a message with it was accepted (250 after the data).
    QHash<QByteArray, int> acceptedSubjects() const { return m_accepted; }
    // "none 31, close 7, …"
    QByteArray faultSummary() const
    {
        QByteArrayList parts;
        for (const char* name : {"none", "close", "4xx", "5xx", "single bytes", "stall"})
            parts << name + (' ' + QByteArray::number(m_faultCounts.value(int(parts.size()))));
        return parts.join(", ");
    }

private:
    // The faults, in the order faultSummary() names them; a fault strikes at one step, the reply sent there.
    static constexpr int None = 0, Close = 1, Temporary = 2, Permanent = 3, SplitBytes = 4, Stall = 5;
    static constexpr int Greeting = 0, Ehlo = 1, MailFrom = 2, RcptTo = 3, Data = 4, MessageEnd = 5, StepCount = 6;
    struct Session
    {
        int fault = None, faultStep = 0;
        bool inData = false;
        QByteArray buffer;
    };

    void onNewConnection()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto session = std::make_shared<Session>();
            if (int(m_random.bounded(100)) < m_faultPercent) {
                session->fault = int(1 + m_random.bounded(5));
                session->faultStep = int(m_random.bounded(StepCount));
            }
            ++m_faultCounts[session->fault];
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, session] { onBytes(socket, *session); });
            answer(socket, *session, Greeting, "220 soak.test ESMTP\r\n");
        }
    }

    void onBytes(QTcpSocket* socket, Session& session)
    {
        session.buffer += socket->readAll();
        for (qsizetype end; (end = session.buffer.indexOf(session.inData ? "\r\n.\r\n" : "\r\n")) >= 0;) {
            if (session.inData) {
                const qsizetype at = session.buffer.indexOf("\r\nSubject: ") + 11;
                const QByteArray subject = session.buffer.mid(at, session.buffer.indexOf("\r\n", at) - at);
                session.buffer.remove(0, end + 5);
                session.inData = false;
                if (answer(socket, session, MessageEnd, "250 2.0.0 queued\r\n"))
                    ++m_accepted[subject];
                continue;
            }
            const QByteArray line = session.buffer.left(end).toUpper();
            session.buffer.remove(0, end + 2);
            if (line.startsWith("EHLO"))
                answer(socket, session, Ehlo, "250-soak.test\r\n250-8BITMIME\r\n250 SIZE 10000000\r\n");
            else if (line.startsWith("MAIL FROM"))
                answer(socket, session, MailFrom, "250 2.1.0 ok\r\n");
            else if (line.startsWith("RCPT TO"))
                answer(socket, session, RcptTo, "250 2.1.5 ok\r\n");
            else if (line == "DATA")
                session.inData = answer(socket, session, Data, "354 go ahead\r\n");
            else if (line == "RSET")
                socket->write("250 2.0.0 ok\r\n");
            else if (line == "QUIT") {
                socket->write("221 bye\r\n");
                socket->disconnectFromHost();
            } else
                socket->write("502 5.5.2 unknown\r\n");
        }
    }

    // Sends the reply of a step, or the session's fault if it strikes there (then false).
    bool answer(QTcpSocket* socket, const Session& session, int step, const QByteArray& text)
    {
        const int fault = session.fault;
        if (step == session.faultStep && fault != None && fault != SplitBytes) {
            if (fault == Close)
                socket->disconnectFromHost();
            else if (fault != Stall) // a stall says nothing; the client gives up after its limit
                socket->write(fault == Temporary ? "451 4.3.0 try again later\r\n" : "554 5.7.1 rejected\r\n");
            return false;
        }
        if (fault != SplitBytes)
            socket->write(text);
        else
            for (qsizetype i = 0; i < text.size(); ++i) // one byte a millisecond, each in a packet of its own
                QTimer::singleShot(int(i), socket, [socket, byte = text.mid(i, 1)] {
                    if (socket->isOpen() && socket->write(byte) == 1)
                        socket->flush();
                });
        return true;
    }

    QTcpServer m_server;
    QRandomGenerator m_random;
    int m_faultPercent;
    QHash<QByteArray, int> m_accepted;
    QHash<int, int> m_faultCounts;
};

} // namespace kadmel::test
