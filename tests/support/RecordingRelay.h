#pragma once

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace kadmel::test {

// A TCP relay on 127.0.0.1 between one client and a server on another local port. It passes every
// byte on unchanged and records what the client sends, as an eavesdropper on the wire would see it.
class RecordingRelay : public QObject
{
    Q_OBJECT
public:
    explicit RecordingRelay(quint16 targetPort) : m_target(targetPort)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, &RecordingRelay::onNewConnection);
    }
    quint16 port() const { return m_server.serverPort(); }
    QByteArray fromClient() const { return m_fromClient; }

Q_SIGNALS:
    // The client's side has closed; everything it sent is recorded by then.
    void clientDisconnected();

private:
    void onNewConnection()
    {
        QTcpSocket* socket = m_client = m_server.nextPendingConnection();
        m_server.close(); // one conversation per relay
        socket->setParent(this);
        m_upstream = new QTcpSocket(this);
        for (QTcpSocket* s : {socket, m_upstream.data()}) {
            connect(s, &QTcpSocket::readyRead, this, &RecordingRelay::pump);
            connect(s, &QTcpSocket::disconnected, this, &RecordingRelay::closeBoth);
        }
        connect(socket, &QTcpSocket::disconnected, this, &RecordingRelay::clientDisconnected);
        connect(m_upstream, &QTcpSocket::connected, this, &RecordingRelay::pump);
        connect(m_upstream, &QTcpSocket::errorOccurred, this, &RecordingRelay::closeBoth);
        m_upstream->connectToHost(QHostAddress::LocalHost, m_target);
    }
    void pump()
    {
        // The client's bytes wait in its socket until the server side is there to take them.
        if (!m_client || !m_upstream || m_upstream->state() != QAbstractSocket::ConnectedState)
            return;
        const QByteArray up = m_client->readAll();
        m_fromClient += up;
        m_upstream->write(up);
        m_client->write(m_upstream->readAll());
    }
    void closeBoth()
    {
        pump();
        for (QTcpSocket* s : {m_client.data(), m_upstream.data()})
            if (s)
                s->disconnectFromHost();
    }

    quint16 m_target;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QPointer<QTcpSocket> m_upstream;
    QByteArray m_fromClient;
};

} // namespace kadmel::test
