#pragma once

#include <QObject>
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
    explicit RecordingRelay(quint16 targetPort, QObject* parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    QByteArray fromClient() const { return m_fromClient; }

Q_SIGNALS:
    // The client's side has closed; everything it sent is recorded by then.
    void clientDisconnected();

private:
    void onNewConnection();
    void pump();
    void closeBoth();

    quint16 m_target;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QPointer<QTcpSocket> m_upstream;
    QByteArray m_fromClient;
};

} // namespace kadmel::test
