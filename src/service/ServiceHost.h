#pragma once

#include "engine/EngineTimings.h"
#include "service/ServiceView.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

namespace kadmel {

class Dispatcher;
class SecretStore;
class Store;

struct ServiceTimings
{
    EngineTimings engine;
    // From a termination signal to the end, whatever the mail in hand does: systemd's own limit is 15 s.
    int exitLimitMs = 14000;
};

// What the host tells the init system: "READY=1", "STATUS=…", "WATCHDOG=1", "STOPPING=1".
using ServiceNotifier = std::function<void(const QByteArray& state)>;

struct ServiceOptions
{
    ServiceTimings timings;
    SecretStore* secrets = nullptr; // the keyring, where the session has one
    ServiceNotifier notify;         // none: no init system listens
    int watchdogMs = 0;             // "WATCHDOG=1" this often; 0 without a watchdog
};

// The engine on one program folder without a window: the store loaded as the window loads it, the dispatcher
// active from the start, the end after a termination signal with the mail in hand filed and everything saved.
// The caller holds the folder's instance lock for the host's life.
class ServiceHost : public QObject
{
    Q_OBJECT
public:
    ServiceHost(const QString& programFolder, ServiceOptions options, QObject* parent = nullptr);
    ~ServiceHost() override;

    // Loads the store and starts the engine. False when the store cannot be used (the reason on standard error,
    // exitCode() 1). A start the settings refuse is logged and the service stays inactive, for the command line
    // to set it up.
    bool start();
    // The first request counts: no new job, the mail in hand filed, the store saved, then finished().
    void requestTermination();
    // After finished(): 1 when the end came at its time limit or the final save failed, else 0.
    int exitCode() const { return m_exitCode; }

    Store& store() { return *m_store; }
    Dispatcher& dispatcher() { return *m_dispatcher; }
    ServiceView& view() { return m_view; }

Q_SIGNALS:
    void finished();

private:
    void notify(const QByteArray& state) const;
    void tellStatus();
    void end(bool inTime);

    ServiceOptions m_options;
    std::unique_ptr<Store> m_store;
    ServiceView m_view;
    std::unique_ptr<Dispatcher> m_dispatcher;
    QTimer m_watchdog;
    QTimer m_exitLimit;
    QByteArray m_lastStatus;
    int m_exitCode = 0;
    bool m_ending = false;
    bool m_finished = false;
};

} // namespace kadmel
