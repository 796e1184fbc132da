#include "app/SingleInstance.h"

#include "engine/LocalSocketRules.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kadmel {
namespace {

const QByteArray Raise = "raise\n";

// True when the other end of the socket runs as this user; where the system cannot tell, the folder's
// rights are the only guard.
bool peerIsThisUser(qintptr descriptor)
{
    const std::optional<unsigned> peer = peerUserId(descriptor);
#ifdef Q_OS_UNIX
    return !peer || *peer == ::geteuid();
#else
    return true;
#endif
}

} // namespace

QString instanceSocketFolder()
{
#ifdef Q_OS_UNIX
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime))
        return runtime;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return {};
    const QString own = cache + QStringLiteral("/kadmel");
    QDir().mkpath(cache);
    ::mkdir(QFile::encodeName(own).constData(), 0700); // an existing one is checked below like a new one
    return isPrivateFolder(own) ? own : QString();
#else
    return QStringLiteral("."); // a named pipe of the session: the name alone
#endif
}

QString instanceServerName(const QString& programFolder)
{
    const QString folder = instanceSocketFolder();
    if (folder.isEmpty())
        return {};
    const QString name = QStringLiteral("kadmel-") + programFolderKey(programFolder);
#ifdef Q_OS_UNIX
    return folder + QLatin1Char('/') + name;
#else
    return name;
#endif
}

InstanceServer::InstanceServer(const QString& programFolder, std::chrono::milliseconds idleLimit, QObject* parent)
    : QObject(parent), m_held(idleLimit)
{
    const QString name = instanceServerName(programFolder);
    if (name.isEmpty())
        return; // without it the program runs on; only the raising is lost
    // The caller holds the folder's instance lock, so a socket of that name is left from a crash.
    QLocalServer::removeServer(name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(name);
    connect(&m_server, &QLocalServer::newConnection, this, &InstanceServer::takeConnections);
}

void InstanceServer::takeConnections()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        if (!peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_held.hold(socket);
        socket->setReadBufferSize(Raise.size()); // a caller that talks on is not listened to
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < Raise.size())
                return;
            if (socket->read(Raise.size()) == Raise)
                Q_EMIT raiseRequested();
            socket->disconnectFromServer();
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}

RaiseRequest::RaiseRequest(const QString& programFolder, int timeoutMs, QObject* parent)
    : QObject(parent), m_name(instanceServerName(programFolder))
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &RaiseRequest::finish);
    connect(&m_socket, &QLocalSocket::connected, this, [this] {
        if (!peerIsThisUser(m_socket.socketDescriptor()))
            return finish(); // someone else's socket: it hears nothing
        m_sent = true;
        m_socket.write(Raise);
        m_socket.disconnectFromServer(); // after the bytes have gone
    });
    connect(&m_socket, &QLocalSocket::disconnected, this, &RaiseRequest::finish);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, [this] {
        if (m_sent)
            return finish();
        // The running program may be just starting and not listen yet: it is asked again until the time is up.
        QTimer::singleShot(RetryMs, this, [this] {
            if (!m_done)
                m_socket.connectToServer(m_name);
        });
    });
}

void RaiseRequest::start()
{
    m_timeout.start();
    if (m_name.isEmpty())
        return QTimer::singleShot(0, this, &RaiseRequest::finish);
    m_socket.connectToServer(m_name);
}

void RaiseRequest::finish()
{
    if (m_done)
        return;
    m_done = true;
    m_timeout.stop();
    m_socket.abort();
    Q_EMIT finished(m_sent);
}

} // namespace kadmel
