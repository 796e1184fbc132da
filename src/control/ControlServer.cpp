#include "control/ControlServer.h"

#include "control/ControlProtocol.h"
#include "control/ControlReply.h"
#include "engine/LocalSocketRules.h"
#include "store/FileAccess.h"

#include <QFile>
#include <QFileInfo>

namespace kadmel {

ControlServer::ControlServer(Store& store, Dispatcher& dispatcher, const ServiceView& view, const QString& socketPath,
                             const ControlTimings& timings, SecretStore* secrets, QObject* parent)
    : QObject(parent), m_held(timings.idle), m_verbs(store, dispatcher, view, timings, secrets)
{
    const QString folder = QFileInfo(socketPath).path();
    if (socketPath.isEmpty())
        m_problem = QStringLiteral("XDG_RUNTIME_DIR ist nicht gesetzt: kadmelctl kann den Dienst nicht erreichen.");
    else if (makeOwnFolder(folder, &m_problem) && !isPrivateFolder(folder))
        m_problem = QStringLiteral("Der Ordner %1 gehört nicht allein diesem Benutzer: kadmelctl kann den Dienst "
                                   "nicht erreichen.")
                        .arg(quotedName(folder));
    if (!m_problem.isEmpty())
        return;
    QLocalServer::removeServer(socketPath);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(socketPath))
        m_problem = QStringLiteral("Der Steuerungs-Socket %1 ließ sich nicht öffnen: %2")
                        .arg(quotedName(socketPath), m_server.errorString());
    connect(&m_server, &QLocalServer::newConnection, this, &ControlServer::takeConnections);
}

void ControlServer::takeConnections()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        m_held.hold(socket);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!control::peerAllowed(socket->socketDescriptor())) {
            socket->write(control::sayLine(QStringLiteral("Zugriff verweigert: Der Dienst nimmt Befehle nur von "
                                                          "seinem eigenen Benutzer oder von root an.")) +
                          control::codeLine(control::Refused));
            socket->disconnectFromServer();
            continue;
        }
        socket->setReadBufferSize(control::MaxRequestBytes + 1); // a caller that talks on is not read on
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
    }
}

void ControlServer::readRequest(QLocalSocket* socket)
{
    const bool whole = socket->canReadLine();
    if (!whole && socket->bytesAvailable() <= control::MaxRequestBytes)
        return;
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr); // one request per connection
    auto* reply = new ControlReply(socket, m_verbs.timings().linger);
    if (!whole)
        return reply->refuse(QStringLiteral("Die Anfrage ist zu lang."), control::WrongArguments);
    const std::optional<control::Request> request = control::readRequest(socket->readLine());
    if (!request)
        return reply->refuse(QStringLiteral("Die Anfrage ist nicht lesbar."), control::WrongArguments);
    if (m_running >= HeldConnections::Most)
        return reply->refuse(QStringLiteral("Gerade laufen zu viele Befehle; bitte gleich noch einmal versuchen."));
    ++m_running;
    connect(reply, &QObject::destroyed, this, [this] { --m_running; });
    m_held.release(socket); // from here the verb's own limit holds
    m_verbs.run(*request, reply);
}

} // namespace kadmel
