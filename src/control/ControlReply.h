#pragma once

#include <QJsonValue>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>

#include <chrono>

namespace kadmel {

// The answer to one request, line by line (see ControlProtocol.h). It lives as the connection's child: a caller
// that hangs up drops it, and whoever still holds a QPointer to it then talks to no one.
class ControlReply : public QObject
{
    Q_OBJECT
public:
    // `linger`: how long the last lines may take to go before the connection is cut.
    ControlReply(QLocalSocket* socket, std::chrono::milliseconds linger);

    void say(const QString& text);
    void data(const QJsonValue& data);
    // The last line; the connection closes once it has gone.
    void finish(int code);
    // A reason for the person and its code in one.
    void refuse(const QString& reason, int code = 1)
    {
        say(reason);
        finish(code);
    }
    void done(const QString& text)
    {
        say(text);
        finish(0);
    }
    bool finished() const { return m_finished; }

private:
    void send(const QByteArray& line);

    QPointer<QLocalSocket> m_socket;
    std::chrono::milliseconds m_linger;
    bool m_finished = false;
};

} // namespace kadmel
