#include "ctl/ControlClient.h"

#include <QJsonDocument>

#include <unistd.h>

namespace kadmel {

ControlClient::ControlClient(const QString& socketPath, const control::Request& request,
                             std::function<void(const QJsonObject&)> line, QObject* parent)
    : QObject(parent), m_path(socketPath), m_request(request), m_line(std::move(line))
{
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        if (m_socket.state() != QLocalSocket::ConnectedState)
            return end(control::NoService, QStringLiteral("Der Dienst läuft nicht (kadmel-dienst): er nimmt keine "
                                                          "Verbindung an."));
        end(control::Refused, QStringLiteral("Der Dienst antwortet nicht mehr."));
    });
    connect(&m_socket, &QLocalSocket::connected, this, [this] {
        // The password of "einrichten" goes to no one but the service of this user (or root's); root may
        // talk to any user's.
        if (::geteuid() != 0 && !control::peerAllowed(m_socket.socketDescriptor()))
            return end(control::NoService,
                       QStringLiteral("Der Steuerungs-Socket %1 gehört einem anderen Benutzer.").arg(m_path));
        m_socket.write(control::requestLine(m_request));
        m_silence.start(LineMs);
    });
    connect(&m_socket, &QLocalSocket::readyRead, this, &ControlClient::readLines);
    connect(&m_socket, &QLocalSocket::disconnected, this, [this] {
        readLines();
        end(control::Refused, QStringLiteral("Der Dienst hat die Verbindung ohne Antwort beendet."));
    });
    connect(&m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError error) {
        if (m_socket.state() == QLocalSocket::ConnectedState || error == QLocalSocket::PeerClosedError)
            return; // the end comes as disconnected()
        if (error == QLocalSocket::SocketAccessError)
            return end(
                control::NoService,
                QStringLiteral("Der Dienst ist nicht erreichbar (kadmel-dienst): kein Zugriff auf %1.").arg(m_path));
        end(control::NoService,
            QStringLiteral("Der Dienst läuft nicht (kadmel-dienst): niemand hört auf %1.").arg(m_path));
    });
}

void ControlClient::start()
{
    if (m_path.isEmpty())
        return end(control::NoService,
                   QStringLiteral("Der Dienst läuft nicht (kadmel-dienst): XDG_RUNTIME_DIR ist nicht gesetzt."));
    m_socket.setReadBufferSize(0);
    m_silence.start(ConnectMs);
    m_socket.connectToServer(m_path);
}

void ControlClient::readLines()
{
    while (!m_done && m_socket.canReadLine()) {
        m_silence.start(LineMs);
        const QJsonObject object = QJsonDocument::fromJson(m_socket.readLine(control::MaxAnswerBytes)).object();
        if (object.contains(QLatin1String("code")))
            return end(object.value(QLatin1String("code")).toInt(control::Refused));
        m_line(object);
    }
    if (!m_done && m_socket.bytesAvailable() > control::MaxAnswerBytes)
        end(control::Refused, QStringLiteral("Die Antwort des Dienstes ist zu lang."));
}

void ControlClient::end(int code, const QString& reason)
{
    if (m_done)
        return;
    m_done = true;
    m_silence.stop();
    if (!reason.isEmpty())
        m_line({{QStringLiteral("meldung"), reason}, {QStringLiteral("fehler"), true}});
    m_socket.abort();
    Q_EMIT finished(code);
}

} // namespace kadmel
