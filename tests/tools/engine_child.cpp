// Runs the engine without widgets on a program folder, for tests that kill it and start it again.
// Usage: engine_child <program folder> <poll ms> <conversation ms> [mails before exit]
// Prints "filed <id> <0|1>" for every mail it files.

#include "engine/Dispatcher.h"
#include "support/RecordingView.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace kadmel;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        QTextStream(stderr) << "usage: engine_child <program folder> <poll ms> <conversation ms> [mails]\n";
        return 2;
    }
    Store store(args.at(1));
    store.loadAtStartup();

    EngineTimings timings;
    timings.pollMs = args.at(2).toInt();
    timings.minJobAgeMs = 0;
    timings.smtp.connectMs = 2000;
    timings.smtp.conversationMs = args.at(3).toInt();
    const int mailsBeforeExit = args.size() > 4 ? args.at(4).toInt() : -1;

    test::RecordingView view;
    Dispatcher dispatcher(store, view, timings);
    int filed = 0;
    QObject::connect(&dispatcher, &Dispatcher::mailFiled, &app, [&](qint16 id, bool sent) {
        QTextStream(stdout) << "filed " << id << ' ' << (sent ? 1 : 0) << Qt::endl;
        if (++filed == mailsBeforeExit)
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    if (dispatcher.StartProcessing() != StartCheck::Ok)
        return 3;
    QTextStream(stdout) << "started" << Qt::endl;
    return app.exec();
}
