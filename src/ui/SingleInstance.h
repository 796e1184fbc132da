#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

namespace kadmel {

// The name the running program listens under: one per program folder, like the instance lock.
QString instanceServerName(const QString& programFolder);

// Held by the running program: a later start on the same folder connects and asks it to come forward.
class InstanceServer : public QObject
{
    Q_OBJECT
public:
    explicit InstanceServer(const QString& programFolder, QObject* parent = nullptr);
    bool isListening() const { return m_server.isListening(); }

Q_SIGNALS:
    void raiseRequested();

private:
    void takeConnections();

    QLocalServer m_server;
};

// The second start's last act: asks the running program to come forward, then finished(). Where
// nobody listens that is at once; a listener that never answers is given up after timeoutMs.
class RaiseRequest : public QObject
{
    Q_OBJECT
public:
    static constexpr int TimeoutMs = 2000;
    explicit RaiseRequest(const QString& programFolder, int timeoutMs = TimeoutMs, QObject* parent = nullptr);

    void start();

Q_SIGNALS:
    void finished();

private:
    void finish();

    QString m_name;
    QLocalSocket m_socket;
    QTimer m_timeout;
    bool m_done = false;
};

} // namespace kadmel
