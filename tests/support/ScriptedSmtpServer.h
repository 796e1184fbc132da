#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace kadmel::test {

// A TCP server on 127.0.0.1 that plays a script to the first client that connects: steps run in
// order, an expect step holds the script until the client has sent what it names (tests compare
// received() for exactness). When the steps run out, the server stays silent with the connection open.
class ScriptedSmtpServer : public QObject
{
    Q_OBJECT
public:
    explicit ScriptedSmtpServer(QObject* parent = nullptr) : QObject(parent)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, &ScriptedSmtpServer::onNewConnection);
    }

    quint16 port() const { return m_server.serverPort(); }
    // A port on 127.0.0.1 where a connection is refused: bound without listening, unshared, for the rest of the
    // test program, so no other server (of this test or one running beside it) can take it meanwhile.
    static quint16 unusedPort()
    {
        static QTcpSocket* const held = [] { // owned by the application
            auto* socket = new QTcpSocket(QCoreApplication::instance());
            socket->bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress);
            return socket;
        }();
        return held->localPort();
    }

    // Sends the bytes in one write; the next step waits gapMs, so pieces arrive as segments of their own.
    ScriptedSmtpServer& reply(const QByteArray& bytes, int gapMs = 0) { return add({Reply, bytes, gapMs}); }
    // Waits until the client has sent bytes ending in these (a command, or the end of a message).
    ScriptedSmtpServer& expect(const QByteArray& bytes) { return add({Expect, bytes}); }
    ScriptedSmtpServer& close() { return add({Close, {}}); }
    // Stops the script here: later steps never run.
    ScriptedSmtpServer& stall() { return add({Stall, {}}); }

    QByteArray received() const { return m_received; }
    int connectionCount() const { return m_connections; }
    bool scriptDone() const { return m_next >= m_steps.size(); }

Q_SIGNALS:
    void clientDisconnected();

private:
    static constexpr int Reply = 0, Expect = 1, Close = 2, Stall = 3; // kinds of step
    struct Step
    {
        int kind;
        QByteArray bytes;
        int gapMs = 0;
    };

    ScriptedSmtpServer& add(const Step& step)
    {
        m_steps.append(step);
        return *this;
    }

    void onNewConnection()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            if (++m_connections > 1) { // one conversation at a time; later clients only count
                socket->abort();
                continue;
            }
            m_client = socket;
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(socket, &QTcpSocket::readyRead, this, [this] {
                m_received += m_client->readAll();
                run();
            });
            connect(socket, &QTcpSocket::disconnected, this, &ScriptedSmtpServer::clientDisconnected);
            run();
        }
    }

    void run()
    {
        while (m_client && !m_waitingGap && m_next < m_steps.size()) {
            const Step& step = m_steps[m_next];
            const qsizetype end = step.kind == Expect ? m_received.indexOf(step.bytes, m_consumed) : 0;
            if (step.kind == Stall || end < 0)
                return;
            ++m_next;
            if (step.kind == Close)
                return m_client->disconnectFromHost();
            if (step.kind == Reply) {
                m_client->write(step.bytes);
                m_client->flush();
                m_waitingGap = step.gapMs > 0;
                if (m_waitingGap)
                    QTimer::singleShot(step.gapMs, this, [this] {
                        m_waitingGap = false;
                        run();
                    });
                continue;
            }
            m_consumed = end + step.bytes.size();
        }
    }

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QList<Step> m_steps;
    qsizetype m_next = 0;
    QByteArray m_received;
    qsizetype m_consumed = 0; // bytes of m_received matched by expect steps
    int m_connections = 0;
    bool m_waitingGap = false;
};

} // namespace kadmel::test
