#include "service/ServiceHost.h"

#include "engine/Dispatcher.h"
#include "engine/LogLine.h"
#include "store/Ansi.h"
#include "store/Store.h"

#include <utility>

namespace kadmel {
namespace {

void log(LogPriority priority, const QString& text)
{
    writeLogLine(priority, "kadmel: " + text.toUtf8());
}

} // namespace

ServiceHost::ServiceHost(const QString& programFolder, ServiceOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_store(std::make_unique<Store>(programFolder))
{
    m_watchdog.setInterval(m_options.watchdogMs);
    connect(&m_watchdog, &QTimer::timeout, this, [this] { notify("WATCHDOG=1"); });
    m_exitLimit.setSingleShot(true);
    connect(&m_exitLimit, &QTimer::timeout, this, [this] { end(false); });
}

ServiceHost::~ServiceHost() = default;

bool ServiceHost::start()
{
    const Store::LoadReport loaded = m_store->loadAtStartup();
    if (!loaded.refusal.isEmpty()) {
        // Nothing is saved over a store that could not be read, not even at the end.
        log(LogPriority::Failure, QStringLiteral("ZUB kann nicht gestartet werden. ") + loaded.refusal);
        m_exitCode = 1;
        return false;
    }
    for (const QString& problem : loaded.problems)
        log(LogPriority::Warning, QStringLiteral("Beim Laden der Daten: ") + problem);
    Settings& settings = m_store->settings();
    if (settings.WatchFolder.isEmpty()) // as the window does on its first start
        settings.WatchFolder = defaultWatchFolder();

    m_view.setChanged([this] { tellStatus(); });
    m_dispatcher = std::make_unique<Dispatcher>(*m_store, m_view, m_options.timings.engine, m_options.secrets);
    QString reason;
    if (m_dispatcher->StartProcessing(&reason) != StartCheck::Ok)
        log(LogPriority::Warning, QStringLiteral("Der Dienst bleibt inaktiv: ") + m_view.status().startRefusal);
    else
        log(LogPriority::Notice,
            QStringLiteral("Der Dienst ist aktiv, Auftragsordner „%1“.").arg(fromAnsi(m_dispatcher->JobFolder())));
    tellStatus();
    notify("READY=1");
    if (m_options.watchdogMs > 0)
        m_watchdog.start();
    return true;
}

void ServiceHost::requestTermination()
{
    if (std::exchange(m_ending, true))
        return;
    notify("STOPPING=1");
    if (!m_dispatcher) // never started: nothing was loaded, so nothing is saved
        return end(true);
    m_dispatcher->StopProcessing();
    if (m_dispatcher->IdleFlag())
        return end(true);
    log(LogPriority::Notice, QStringLiteral("Der Dienst endet, sobald die E-Mail in Arbeit abgelegt ist."));
    // Queued: the dispatcher must not be inside its own signal when the host ends.
    connect(
        m_dispatcher.get(), &Dispatcher::idleChanged, this,
        [this](bool idle) {
            if (idle)
                end(true);
        },
        Qt::QueuedConnection);
    m_exitLimit.start(m_options.timings.exitLimitMs);
    m_dispatcher->stopForExit();
}

void ServiceHost::end(bool inTime)
{
    if (std::exchange(m_finished, true))
        return;
    m_exitLimit.stop();
    m_watchdog.stop();
    if (!inTime) {
        log(LogPriority::Failure,
            QStringLiteral("Die E-Mail in Arbeit war nach %1 s nicht abgelegt; der Dienst endet trotzdem.")
                .arg(m_options.timings.exitLimitMs / 1000));
        m_exitCode = 1;
    }
    QString error;
    if (m_dispatcher && !m_store->SaveAll(&error)) {
        log(LogPriority::Failure,
            QStringLiteral("Die Daten von ZUB konnten beim Beenden nicht gespeichert werden: ") + error);
        m_exitCode = 1;
    }
    log(LogPriority::Notice, QStringLiteral("Der Dienst ist beendet."));
    Q_EMIT finished();
}

void ServiceHost::notify(const QByteArray& state) const
{
    if (m_options.notify)
        m_options.notify(state);
}

void ServiceHost::tellStatus()
{
    // systemctl status shows the line; it follows panel 2, or says why the service is inactive.
    const ServiceStatus& status = m_view.status();
    QString line = status.active ? QStringLiteral("Aktiv") : QStringLiteral("Inaktiv");
    if (!status.active && !status.startRefusal.isEmpty())
        line += QStringLiteral(": ") + status.startRefusal;
    else if (!status.message.isEmpty())
        line += QStringLiteral(": ") + fromAnsi(status.message);
    const QByteArray state = "STATUS=" + line.simplified().toUtf8();
    if (state != std::exchange(m_lastStatus, state))
        notify(state);
}

} // namespace kadmel
