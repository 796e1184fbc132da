#pragma once

#include <QHash>
#include <QRandomGenerator>
#include <QTcpServer>

class QTcpSocket;

namespace kadmel::test {

// An SMTP server on 127.0.0.1 that, from a fixed seed, answers each session normally or with one fault:
// it closes the connection at a random step, answers 4xx or 5xx, splits every reply into single bytes,
// or stalls past the client's conversation limit. It counts the messages it accepted, by subject.
class FaultySmtpServer : public QObject
{
public:
    enum class Fault
    {
        None,
        Close,
        Temporary,
        Permanent,
        SplitBytes,
        Stall
    };

    explicit FaultySmtpServer(quint32 seed, int faultPercent = 50);

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    quint16 port() const { return m_server.serverPort(); }
    // Subject → how many times a message with it was accepted (250 after the data).
    QHash<QByteArray, int> acceptedSubjects() const { return m_accepted; }
    // "none 31, close 7, …"
    QByteArray faultSummary() const;

private:
    struct Session;
    void onNewConnection();
    void onBytes(QTcpSocket* socket, Session& session);
    bool answer(QTcpSocket* socket, const Session& session, int step, const QByteArray& text);

    QTcpServer m_server;
    QRandomGenerator m_random;
    int m_faultPercent;
    QHash<QByteArray, int> m_accepted;
    QHash<int, int> m_faultCounts;
};

} // namespace kadmel::test
