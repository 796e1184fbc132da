#include "ui/Program.h"
#include "ui/Prompts.h"
#include "ui/SignalBridge.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace {

// The folder of the executable, known before the application object exists.
QString programFolder(const char* argv0)
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return self.canonicalPath();
    return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

} // namespace

int main(int argc, char* argv[])
{
    const QString folder = programFolder(argc > 0 ? argv[0] : "");
    QLockFile lock(QDir(folder).filePath(QStringLiteral("kadmel.lock")));
    lock.setStaleLockTime(0); // a lock left by a crashed run is taken over through its dead PID
    if (!lock.tryLock(0))
        return 0;

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Kadmel Mail System"));
    app.setQuitOnLastWindowClosed(false); // the window may live in the tray; the exit ends the program
    kadmel::MessageBoxPrompts prompts;
    kadmel::Program program(folder, prompts);
    kadmel::SignalBridge bridge(&app);
    QObject::connect(&bridge, &kadmel::SignalBridge::terminationRequested, &program,
                     &kadmel::Program::requestTermination);
    QObject::connect(&program, &kadmel::Program::finished, &app, &QCoreApplication::quit);
    program.start();
    return app.exec();
}
