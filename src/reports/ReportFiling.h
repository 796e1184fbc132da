#pragma once

#include "engine/AlertPause.h"
#include "engine/Dispatcher.h"
#include "engine/EngineTimings.h"
#include "reports/DeliveryReport.h"

#include <QList>
#include <QObject>

namespace kadmel {

// What a delivery report changes. Only a report naming one of our mails by its Message-ID or ENVID counts, never
// by subject or address. A failure moves a sent mail to the failed folder as ERRMessage12 with the report's
// findings after its conversation, rewrites its receipt, and says it in the log and the alert; a delay only notes
// it in the record and the log. A report of a mail already failed or deleted is noted, a second one of the same
// findings changes nothing; one of a mail removed for good changes its receipt only. The folders change under a
// command's hold: while the dispatcher has a mail in hand, a report waits until it is idle.
class ReportFiling : public QObject
{
    Q_OBJECT
public:
    ReportFiling(Store& store, Dispatcher& dispatcher, DispatcherView& view, int alertMs = EngineTimings{}.alertCloseMs,
                 QObject* parent = nullptr);

    // A message from the mailbox, whatever it is; taken() follows once.
    void take(const QByteArray& message);
    void take(const DeliveryReport& report);

Q_SIGNALS:
    // `ours`: the message was a report of one of our mails and is filed. Within take() while the dispatcher is idle,
    // otherwise once it has become idle; false at once while 100 reports wait already.
    void taken(bool ours);
    // Instead of taken(): the report is ours but the mail could not be saved; it must be read again later.
    void notTaken();

private:
    // The mail the report names: its ID, 0 for none. A report whose two IDs name two mails names none.
    qint16 mailOf(const DeliveryReport& report) const;
    // A failure report of a mail removed for good: its receipt and the log say it; false when no job is known.
    bool removedMailRefused(const DeliveryReport& report);
    void fileWaiting();
    // Under the hold; true when the alert shows the outcome.
    bool file(const DeliveryReport& report, qint16 id);
    // The sent mail at `pos` becomes undeliverable.
    bool fail(qint16 id, qint16 pos, const QByteArray& block);
    // The findings in the record and the log, nothing else.
    void note(qint16 id, int folder, const QByteArray& block, bool failure);
    void end();

    Store& m_store;
    Dispatcher& m_dispatcher;
    bool m_notSaved = false; // the last file() could not save its mail
    DispatcherView& m_view;
    AlertPause m_alert;
    QList<DeliveryReport> m_waiting; // reports of our mails that came while a mail was in hand
    QList<MailChange> m_moves;       // of this hold, for the retry schedule
    bool m_holding = false;
};

} // namespace kadmel
