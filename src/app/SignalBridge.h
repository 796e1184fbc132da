#pragma once

#include <QObject>

class QSocketNotifier;

namespace kadmel {

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the UI thread. The handler only writes one byte into a
// non-blocking socketpair, which a QSocketNotifier reads; the first signal asks the program to end and every
// later one is ignored, so a burst can neither block the handler nor end the program by the default action.
class SignalBridge : public QObject
{
    Q_OBJECT
public:
    // Installs the handler for the rest of the process, before anything can wait for the user; a signal that
    // comes before a bridge exists is kept until one does. Safe to call more than once.
    static bool installHandler();

    explicit SignalBridge(QObject* parent = nullptr);
    ~SignalBridge() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    // At most once per process.
    void terminationRequested(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kadmel
