#include "control/ControlReply.h"

#include "control/ControlProtocol.h"

#include <QTimer>

namespace kadmel {

ControlReply::ControlReply(QLocalSocket* socket, std::chrono::milliseconds linger)
    : QObject(socket), m_socket(socket), m_linger(linger)
{}

void ControlReply::say(const QString& text)
{
    send(control::sayLine(text));
}

void ControlReply::data(const QJsonValue& data)
{
    send(control::dataLine(data));
}

void ControlReply::finish(int code)
{
    send(control::codeLine(code));
    m_finished = true;
    if (!m_socket)
        return;
    m_socket->disconnectFromServer(); // after the bytes have gone, unless a caller that reads none keeps them
    QTimer::singleShot(m_linger, m_socket, [socket = m_socket] { socket->abort(); });
}

void ControlReply::send(const QByteArray& line)
{
    if (m_socket && !m_finished)
        m_socket->write(line);
}

} // namespace kadmel
