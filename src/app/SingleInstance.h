#pragma once

#include "engine/HeldConnections.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace kadmel {

// The folder of the second-start socket: $XDG_RUNTIME_DIR when it is a folder of this user that no one else
// may enter (0700), else "kadmel" below the user's cache folder, created and checked the same way. Empty
// when neither is such a folder: then no socket is made, since another user could take its name first.
QString instanceSocketFolder();

// The socket the running program listens on: one per program folder, like the instance lock; empty
// without a private folder for it.
QString instanceServerName(const QString& programFolder);

// Held by the running program: a later start on the same folder connects and asks it to come forward.
// Callers of another user are not listened to; of this user's, a few are held for `idleLimit` each.
class InstanceServer : public QObject
{
    Q_OBJECT
public:
    explicit InstanceServer(const QString& programFolder, std::chrono::milliseconds idleLimit = std::chrono::seconds(2),
                            QObject* parent = nullptr);
    bool isListening() const { return m_server.isListening(); }

Q_SIGNALS:
    void raiseRequested();

private:
    void takeConnections();

    QLocalServer m_server;
    HeldConnections m_held;
};

// The second start's last act: asks the running program to come forward, then finished(). Where nobody
// listens (yet: the running program may be starting) it asks again until timeoutMs are over; a listener that
// never answers is given up then too. Nothing is said to a listener of another user.
class RaiseRequest : public QObject
{
    Q_OBJECT
public:
    static constexpr int TimeoutMs = 2000;
    static constexpr int RetryMs = 100;
    explicit RaiseRequest(const QString& programFolder, int timeoutMs = TimeoutMs, QObject* parent = nullptr);

    void start();

Q_SIGNALS:
    // delivered: the running program of this user took the request.
    void finished(bool delivered);

private:
    void finish();

    QString m_name;
    QLocalSocket m_socket;
    QTimer m_timeout;
    bool m_sent = false;
    bool m_done = false;
};

} // namespace kadmel
