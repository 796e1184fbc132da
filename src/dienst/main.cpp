// kadmel-dienst: the engine on one program folder without a window, under systemd or in a terminal.
#include "app/ProgramFolder.h"
#include "app/SignalBridge.h"
#include "control/ControlProtocol.h"
#include "control/ControlServer.h"
#include "engine/LogLine.h"
#include "keyring/KeyringSecretStore.h"
#include "reports/ReportReading.h"
#include "service/ServiceHost.h"
#include "store/InstanceLock.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

#include <memory>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {

int refuse(const QString& reason)
{
    kadmel::writeLogLine(kadmel::LogPriority::Failure, "kadmel-dienst: " + reason.toUtf8());
    return 1;
}

// The keyring is reached over the session bus; without one a sign-in that needs it fails with its reason.
bool hasSessionBus()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
           (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")));
}

// Started by the system as a named user (kadmel-dienst@NAME) the service has no XDG_RUNTIME_DIR; that user's own
// runtime folder, which a lingering user keeps, is where kadmelctl looks for its socket.
void takeOwnRuntimeFolder()
{
    const QFileInfo own(QStringLiteral("/run/user/%1").arg(::geteuid()));
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && own.isDir() && own.ownerId() == ::geteuid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(own.filePath()));
}

} // namespace

int main(int argc, char* argv[])
{
    // From the first instruction on a termination signal only asks the service to end.
    kadmel::SignalBridge::installHandler();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kadmel")); // the per-user store of the window
    // systemd gives a service these; its journal then reads each line's priority.
    kadmel::setJournalPrefixes(qEnvironmentVariableIsSet("JOURNAL_STREAM") ||
                               qEnvironmentVariableIsSet("INVOCATION_ID"));

    takeOwnRuntimeFolder();
    const QStringList args = QCoreApplication::arguments().mid(1);
    kadmel::ProgramFolderChoice choice;
    if (args.size() == 2 && args.at(0) == QLatin1String("--ordner")) {
        choice.folder = QFileInfo(args.at(1)).absoluteFilePath();
    } else if (args.isEmpty()) {
        choice = kadmel::chooseProgramFolder(QCoreApplication::applicationDirPath(),
                                             QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    } else {
        return refuse(QStringLiteral("Aufruf: kadmel-dienst [--ordner PROGRAMMORDNER]")) + 1;
    }
    if (choice.folder.isEmpty())
        return refuse(choice.error);
    if (!QFileInfo(choice.folder).isDir())
        return refuse(QStringLiteral("Der Programmordner „%1“ ist nicht da oder kein Ordner.").arg(choice.folder));

    kadmel::InstanceLock lock(choice.folder);
    if (!lock.tryLock()) {
        if (!lock.errorString().isEmpty())
            return refuse(lock.errorString());
        if (lock.heldByService())
            return refuse(QStringLiteral("Im Programmordner „%1“ läuft bereits ein Dienst %2.")
                              .arg(choice.folder, lock.holderText()));
        return refuse(QStringLiteral("Im Programmordner „%1“ läuft bereits ZUB mit seinem Fenster %2. Ein "
                                     "Programmordner wird vom Fenster oder vom Dienst bedient, nie von beiden: bitte "
                                     "das Fenster beenden.")
                          .arg(choice.folder, lock.holderText()));
    }
    if (!kadmel::takeOverStore(choice))
        return refuse(choice.error);
    if (!choice.notice.isEmpty())
        kadmel::writeLogLine(kadmel::LogPriority::Notice, "kadmel-dienst: " + choice.notice.toUtf8());

    std::unique_ptr<kadmel::KeyringSecretStore> keyring;
    if (hasSessionBus())
        keyring = std::make_unique<kadmel::KeyringSecretStore>();
    uint64_t watchdogUsec = 0;
    kadmel::ServiceHost host(choice.folder,
                             {.timings = {},
                              .secrets = keyring.get(),
                              .notify = [](const QByteArray& state) { sd_notify(0, state.constData()); },
                              .watchdogMs = sd_watchdog_enabled(0, &watchdogUsec) > 0 ? int(watchdogUsec / 2000) : 0});
    kadmel::SignalBridge bridge;
    QObject::connect(&bridge, &kadmel::SignalBridge::terminationRequested, &host,
                     &kadmel::ServiceHost::requestTermination);
    QObject::connect(&host, &kadmel::ServiceHost::finished, &app, [&] { app.exit(host.exitCode()); });
    if (!host.start())
        return host.exitCode();
    // kadmelctl's way in; without it the service still sends, so a socket that cannot be made is only logged.
    kadmel::ControlServer control(host.store(), host.dispatcher(), host.view(),
                                  kadmel::control::controlSocketPath(choice.folder), {}, keyring.get());
    if (!control.isListening())
        kadmel::writeLogLine(kadmel::LogPriority::Warning, "kadmel-dienst: " + control.problem().toUtf8());
    // Delivery reports from the mailbox, when [Rueckmeldungen] names one; none is taken once the end began.
    kadmel::ReportReading reports(host.store(), host.dispatcher(), host.view(), keyring.get());
    QObject::connect(&bridge, &kadmel::SignalBridge::terminationRequested, &reports, &kadmel::ReportReading::stop);
    reports.start();
    return app.exec();
}
