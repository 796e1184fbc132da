#pragma once

#include "control/ControlVerbs.h"
#include "engine/HeldConnections.h"

#include <QLocalServer>
#include <QObject>

namespace kadmel {

// The service's control socket (protocol in ControlProtocol.h): kadmelctl's verbs on the running engine. Only this
// user or root is heard (SO_PEERCRED), in a folder no one else may enter. Callers are held like every listener's
// (HeldConnections): a request line within a few seconds, or the connection goes; a request under way is bounded
// by its own limit, and only a few run at once.
class ControlServer : public QObject
{
    Q_OBJECT
public:
    // The caller holds the program folder's instance lock: a socket left at socketPath is from a crash.
    ControlServer(Store& store, Dispatcher& dispatcher, const ServiceView& view, const QString& socketPath,
                  const ControlTimings& timings = {}, SecretStore* secrets = nullptr, QObject* parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    // Why it does not listen (German); empty when it does.
    const QString& problem() const { return m_problem; }

private:
    void takeConnections();
    void readRequest(QLocalSocket* socket);

    HeldConnections m_held;
    ControlVerbs m_verbs;
    int m_running = 0;
    QString m_problem;
    QLocalServer m_server; // last: its connections, and the replies they hold, go first
};

} // namespace kadmel
