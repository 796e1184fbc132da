#include "RecordingRelay.h"

namespace kadmel::test {

RecordingRelay::RecordingRelay(quint16 targetPort, QObject* parent) : QObject(parent), m_target(targetPort)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &RecordingRelay::onNewConnection);
}

void RecordingRelay::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_client) {
            // One conversation per relay.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_client = socket;
        socket->setParent(this);
        auto* upstream = new QTcpSocket(this);
        m_upstream = upstream;
        for (QTcpSocket* s : {socket, upstream}) {
            connect(s, &QTcpSocket::readyRead, this, &RecordingRelay::pump);
            connect(s, &QTcpSocket::disconnected, this, &RecordingRelay::closeBoth);
        }
        connect(socket, &QTcpSocket::disconnected, this, &RecordingRelay::clientDisconnected);
        connect(upstream, &QTcpSocket::connected, this, &RecordingRelay::pump);
        connect(upstream, &QTcpSocket::errorOccurred, this, &RecordingRelay::closeBoth);
        upstream->connectToHost(QHostAddress::LocalHost, m_target);
    }
}

void RecordingRelay::pump()
{
    // The client's bytes wait in its socket until the server side is there to take them.
    if (!m_client || !m_upstream || m_upstream->state() != QAbstractSocket::ConnectedState)
        return;
    const QByteArray up = m_client->readAll();
    m_fromClient += up;
    m_upstream->write(up);
    m_client->write(m_upstream->readAll());
}

void RecordingRelay::closeBoth()
{
    pump();
    for (QTcpSocket* s : {m_client.data(), m_upstream.data()}) {
        if (s)
            s->disconnectFromHost();
    }
}

} // namespace kadmel::test
