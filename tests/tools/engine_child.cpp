// Runs the engine without widgets on a program folder, for tests that kill it and start it again.
// Usage: engine_child <program folder> <poll ms> <conversation ms>
//    or: engine_child <program folder> remove|remove-sent <n>: removes the whole deleted (or sent) folder for
//        good, one file operation per step, and kills itself after n of them.

#include "engine/Dispatcher.h"
#include "store/PermanentRemoval.h"
#include "support/RecordingView.h"

#include <QCoreApplication>

#include <csignal>
#include <unistd.h>

using namespace kadmel;

namespace {

int removeAll(Store& store, int folder, int killAfter)
{
    QList<qint16> positions;
    for (int pos = 1; pos <= store.tables().count(folder); ++pos)
        positions.append(qint16(pos));
    PermanentRemoval removal(store, positions, folder);
    while (removal.doneOperations() < killAfter)
        if (removal.step(1, nullptr))
            return 0;
    ::kill(::getpid(), SIGKILL);
    return 4;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    Store store(args.at(1));
    store.loadAtStartup();
    if (args.at(2).startsWith(QLatin1String("remove")))
        return removeAll(store, args.at(2).endsWith(QLatin1String("sent")) ? SentFolder : DeletedFolder,
                         args.at(3).toInt());
    test::RecordingView view;
    Dispatcher dispatcher(store, view,
                          {.pollMs = args.at(2).toInt(),
                           .minJobAgeMs = 0,
                           .smtp = {.connectMs = 2000, .conversationMs = args.at(3).toInt()}});
    return dispatcher.StartProcessing() == StartCheck::Ok ? app.exec() : 3;
}
