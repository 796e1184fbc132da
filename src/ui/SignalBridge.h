#pragma once

#include <QObject>

class QSocketNotifier;

namespace kadmel {

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the UI thread: the handler only writes the signal
// number into a socketpair, which a QSocketNotifier reads. One bridge per process.
class SignalBridge : public QObject
{
    Q_OBJECT
public:
    explicit SignalBridge(QObject* parent = nullptr);
    ~SignalBridge() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readSignal();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace kadmel
