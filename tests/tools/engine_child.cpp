// Runs the engine without widgets on a program folder, for tests that kill it and start it again.
// Usage: engine_child <program folder> <poll ms> <conversation ms>

#include "engine/Dispatcher.h"
#include "support/RecordingView.h"

#include <QCoreApplication>

using namespace kadmel;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    Store store(args.at(1));
    store.loadAtStartup();
    test::RecordingView view;
    Dispatcher dispatcher(store, view,
                          {.pollMs = args.at(2).toInt(),
                           .minJobAgeMs = 0,
                           .smtp = {.connectMs = 2000, .conversationMs = args.at(3).toInt()}});
    return dispatcher.StartProcessing() == StartCheck::Ok ? app.exec() : 3;
}
