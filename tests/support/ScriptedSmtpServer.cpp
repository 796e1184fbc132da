#include "ScriptedSmtpServer.h"

#include <QTimer>

namespace kadmel::test {

ScriptedSmtpServer::ScriptedSmtpServer(QObject* parent) : QObject(parent)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedSmtpServer::onNewConnection);
}

quint16 ScriptedSmtpServer::unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void ScriptedSmtpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_connections;
        if (m_client) {
            // One conversation at a time; later clients only count.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_client = socket;
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            m_received += m_client->readAll();
            run();
        });
        connect(socket, &QTcpSocket::disconnected, this, &ScriptedSmtpServer::clientDisconnected);
        run();
    }
}

void ScriptedSmtpServer::run()
{
    while (m_client && !m_waitingGap && m_next < m_steps.size()) {
        const Step& step = m_steps[m_next];
        switch (step.kind) {
        case Kind::Reply:
            m_client->write(step.bytes);
            m_client->flush();
            ++m_next;
            if (step.gapMs > 0) {
                m_waitingGap = true;
                QTimer::singleShot(step.gapMs, this, [this] {
                    m_waitingGap = false;
                    run();
                });
            }
            break;
        case Kind::Expect: {
            if (m_received.size() - m_consumed < step.bytes.size())
                return;
            const QByteArray got = m_received.mid(m_consumed, step.bytes.size());
            if (got != step.bytes)
                m_mismatches.append(QStringLiteral("expected %1, got %2")
                                        .arg(QString::fromLatin1(step.bytes.toPercentEncoding()),
                                             QString::fromLatin1(got.toPercentEncoding())));
            m_consumed += step.bytes.size();
            ++m_next;
            break;
        }
        case Kind::ExpectUntil: {
            const qsizetype at = m_received.indexOf(step.bytes, m_consumed);
            if (at < 0)
                return;
            m_consumed = at + step.bytes.size();
            ++m_next;
            break;
        }
        case Kind::Close:
            ++m_next;
            m_client->disconnectFromHost();
            return;
        case Kind::Stall:
            return;
        }
    }
}

} // namespace kadmel::test
