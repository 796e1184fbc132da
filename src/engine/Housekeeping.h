#pragma once

#include "engine/DispatcherView.h"
#include "engine/EngineTimings.h"
#include "engine/OffThread.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

namespace kadmel {

class Dispatcher;
class PermanentRemoval;
class Store;

// A sent mail as the retention looks at it: its place in the sent folder, its Date and its Message-ID.
struct SentMail
{
    qint16 pos = 0;
    QByteArray date;
    QByteArray messageId;
};

// The positions of the sent mails dated before `before`; with an archive (`archive` not empty) only those
// whose copy it holds. A date that cannot be read is never old. Reads the archive, nothing else.
QList<qint16> expiredSentPositions(const QList<SentMail>& sent, const QDateTime& before, const QString& archive);

// Keeps the store from filling. Sent mails older than [Aufbewahrung] GesendeteTage go for good at a start and
// every housekeepingMs, through the removal for good, while the dispatcher is held as by a folder command (so
// only once it is idle); the archive is looked through beside the window's thread, the files are renamed a few
// per turn of the event loop. Close to full, panel 2 and the tray alert say so, once every storeWarningMs.
class Housekeeping : public QObject
{
public:
    Housekeeping(Dispatcher& dispatcher, Store& store, DispatcherView& view, const EngineTimings& timings,
                 QObject* parent = nullptr);
    ~Housekeeping() override;

    // From this many mails on the store is close to full.
    static constexpr qint16 WarningCount = MaxMails - 1000;

private:
    void tryBegin();
    void removeExpired(const QList<qint16>& positions);
    void removalStep();
    void warnIfFull();

    Dispatcher& m_dispatcher;
    Store& m_store;
    DispatcherView& m_view;
    int m_warningMs;
    QTimer m_hourly;
    QTimer m_steps;
    bool m_due = true;
    int m_days = 0;        // the retention of the removal under way
    qsizetype m_count = 0; // the mails it removes
    std::unique_ptr<PermanentRemoval> m_removal;
    QElapsedTimer m_warned;
    OffThread m_worker; // last: destroyed first, it waits for a look through the archive
};

} // namespace kadmel
