#include "app/ProgramFolder.h"
#include "app/SignalBridge.h"
#include "app/SingleInstance.h"
#include "keyring/KeyringSecretStore.h"
#include "store/InstanceLock.h"
#include "ui/Program.h"
#include "ui/Prompts.h"
#include "ui/Translations.h"

#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>

namespace {

// The folder of the executable, known before the application object exists.
QString executableFolder(const char* argv0)
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return self.canonicalPath();
    return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

// A start that cannot go on is said on standard error (for a start without a desktop) and in a box, which a
// termination signal closes.
int refuseStart(int& argc, char** argv, const QString& reason)
{
    const QString text = QStringLiteral("ZUB kann nicht gestartet werden.\n") + reason;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    QApplication app(argc, argv);
    kadmel::SignalBridge bridge;
    QObject::connect(&bridge, &kadmel::SignalBridge::terminationRequested, &app, [] { QCoreApplication::exit(1); });
    kadmel::MessageBoxPrompts prompts;
    prompts.ask(nullptr, text, kadmel::PromptIcon::Critical, kadmel::PromptButtons::Ok);
    return 1;
}

enum class Raised
{
    Yes,
    NoAnswer,
    Ended, // a termination signal came first
};

// Another instance holds the folder: it is asked to come forward.
Raised raiseRunningInstance(int& argc, char** argv, const QString& folder)
{
    QCoreApplication app(argc, argv);
    kadmel::SignalBridge bridge;
    Raised outcome = Raised::Ended;
    QObject::connect(&bridge, &kadmel::SignalBridge::terminationRequested, &app, &QCoreApplication::quit);
    kadmel::RaiseRequest request(folder);
    QObject::connect(
        &request, &kadmel::RaiseRequest::finished, &app,
        [&outcome](bool delivered) {
            outcome = delivered ? Raised::Yes : Raised::NoAnswer;
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    request.start();
    app.exec();
    return outcome;
}

} // namespace

int main(int argc, char* argv[])
{
    // From the first instruction on a termination signal only asks the program to end, so no box and no
    // burst of signals can end it with the lock file left behind.
    kadmel::SignalBridge::installHandler();
    // The per-user data folder (~/.local/share/Kadmel) takes the store of an installed program.
    QCoreApplication::setApplicationName(QStringLiteral("Kadmel"));
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    kadmel::ProgramFolderChoice choice =
        kadmel::chooseProgramFolder(executableFolder(argc > 0 ? argv[0] : ""), perUser);
    if (choice.folder.isEmpty())
        return refuseStart(argc, argv, choice.error);
    const QString folder = choice.folder;
    kadmel::InstanceLock lock(folder);
    if (!lock.tryLock()) {
        if (!lock.errorString().isEmpty())
            return refuseStart(argc, argv, lock.errorString());
        // The service has no window to bring forward: one folder is served by the one or the other.
        if (lock.heldByService())
            return refuseStart(argc, argv,
                               QStringLiteral("Im Programmordner „%1“ läuft bereits als Dienst %2. Bitte den Dienst "
                                              "mit kadmelctl bedienen oder ihn zuerst beenden (etwa mit „systemctl "
                                              "--user stop kadmel-dienst“).")
                                   .arg(folder, lock.holderText()));
        // Another instance runs on this folder: it comes forward, and this one ends without a message.
        if (raiseRunningInstance(argc, argv, folder) != Raised::NoAnswer)
            return 0;
        const qint64 holder = lock.namedProcess();
        return refuseStart(argc, argv,
                           QStringLiteral("Im Programmordner „%1“ läuft bereits ZUB%2, meldet sich aber nicht (etwa "
                                          "unter einem anderen Benutzer). Bitte das laufende ZUB beenden.")
                               .arg(folder, holder > 0 ? QStringLiteral(" (Prozess %1)").arg(holder) : QString()));
    }
    // Under the lock, so that two first starts cannot copy over each other.
    if (!kadmel::takeOverStore(choice)) {
        lock.unlock();
        return refuseStart(argc, argv, choice.error);
    }

    QApplication app(argc, argv);
    kadmel::installGermanTranslations(app);
    app.setQuitOnLastWindowClosed(false); // the window may live in the tray; the exit ends the program
    kadmel::SignalBridge bridge(&app);
    kadmel::MessageBoxPrompts prompts;
    kadmel::KeyringSecretStore keyring; // outlives the program, whose engine and dialog use it
    kadmel::Program program(folder, prompts, {}, kadmel::systemFolderPicker(), &keyring);
    // From here on a second start on the folder brings this one to the front; gone before the program.
    kadmel::InstanceServer instance(folder);
    QObject::connect(&instance, &kadmel::InstanceServer::raiseRequested, &program, &kadmel::Program::bringToFront);
    QObject::connect(&bridge, &kadmel::SignalBridge::terminationRequested, &program,
                     &kadmel::Program::requestTermination);
    QObject::connect(&program, &kadmel::Program::finished, &app, [&] { app.exit(program.exitCode()); });
    if (!choice.notice.isEmpty()) {
        prompts.ask(nullptr, choice.notice, kadmel::PromptIcon::Exclamation, kadmel::PromptButtons::Ok);
        if (program.hasFinished()) // a termination signal closed the box
            return program.exitCode();
    }
    program.start();
    if (program.hasFinished()) // the store could not be used: said in a box, which a signal may have closed
        return program.exitCode();
    return app.exec();
}
