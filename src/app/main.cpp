#include "engine/ProgramFolder.h"
#include "store/InstanceLock.h"
#include "ui/Program.h"
#include "ui/Prompts.h"
#include "ui/SignalBridge.h"

#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// The folder of the executable, known before the application object exists.
QString executableFolder(const char* argv0)
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return self.canonicalPath();
    return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

} // namespace

int main(int argc, char* argv[])
{
    // The per-user data folder (~/.local/share/Kadmel) takes the store of an installed program.
    QCoreApplication::setApplicationName(QStringLiteral("Kadmel"));
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString folder = kadmel::chooseProgramFolder(executableFolder(argc > 0 ? argv[0] : ""), perUser);
    kadmel::InstanceLock lock(folder);
    if (!lock.tryLock())
        return 0; // another instance runs on this folder: end at once, without a message

    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false); // the window may live in the tray; the exit ends the program
    kadmel::MessageBoxPrompts prompts;
    kadmel::Program program(folder, prompts);
    kadmel::SignalBridge bridge(&app);
    QObject::connect(&bridge, &kadmel::SignalBridge::terminationRequested, &program,
                     &kadmel::Program::requestTermination);
    QObject::connect(&program, &kadmel::Program::finished, &app, [&] { app.exit(program.exitCode()); });
    program.start();
    return app.exec();
}
