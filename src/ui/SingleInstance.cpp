#include "ui/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>

namespace kadmel {
namespace {

const QByteArray Raise = "raise\n";

} // namespace

QString instanceServerName(const QString& programFolder)
{
    // A hash keeps the name short enough for a socket path whatever the folder's length.
    const QString canonical = QDir(programFolder).canonicalPath();
    const QByteArray path = (canonical.isEmpty() ? QDir(programFolder).absolutePath() : canonical).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(24);
    return QStringLiteral("kadmel-") + QString::fromLatin1(hash);
}

InstanceServer::InstanceServer(const QString& programFolder, QObject* parent) : QObject(parent)
{
    const QString name = instanceServerName(programFolder);
    // The caller holds the folder's instance lock, so a socket of that name is left from a crash.
    QLocalServer::removeServer(name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(name); // without it the program runs on; only the raising is lost
    connect(&m_server, &QLocalServer::newConnection, this, &InstanceServer::takeConnections);
}

void InstanceServer::takeConnections()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        socket->setReadBufferSize(Raise.size()); // a caller that talks on is not listened to
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < Raise.size())
                return;
            if (socket->read(Raise.size()) == Raise)
                Q_EMIT raiseRequested();
            socket->disconnectFromServer();
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A caller that says nothing is not kept.
        QTimer::singleShot(RaiseRequest::TimeoutMs, socket, &QObject::deleteLater);
    }
}

RaiseRequest::RaiseRequest(const QString& programFolder, int timeoutMs, QObject* parent)
    : QObject(parent), m_name(instanceServerName(programFolder))
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &RaiseRequest::finish);
    connect(&m_socket, &QLocalSocket::connected, this, [this] {
        m_socket.write(Raise);
        m_socket.disconnectFromServer(); // after the bytes have gone
    });
    connect(&m_socket, &QLocalSocket::disconnected, this, &RaiseRequest::finish);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, &RaiseRequest::finish);
}

void RaiseRequest::start()
{
    m_timeout.start();
    m_socket.connectToServer(m_name);
}

void RaiseRequest::finish()
{
    if (m_done)
        return;
    m_done = true;
    m_timeout.stop();
    m_socket.abort();
    Q_EMIT finished();
}

} // namespace kadmel
