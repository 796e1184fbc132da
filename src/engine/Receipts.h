#pragma once

#include "engine/DispatcherView.h"
#include "engine/MailChange.h"
#include "store/JobNameFile.h"
#include "store/MailKey.h"
#include "store/Store.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>

#include <functional>

namespace kadmel {

// The receipts for the producer of the jobs, in the folder "[Quittung] Ordner" of kadmel.ini names (none
// without one): "<job file name>.txt" per job, written again after every attempt of its mail and when it is
// removed for good. Which job a mail came from is kept in "kadmel.jobs"; a receipt that cannot be written
// is said in panel 2 and written at a later call of write(), the mail's handling never waits for it.
// A job name belongs to the newest job taken or refused under it: an older mail of that name writes no
// receipt any more, so its later attempts and its removal never write over the newer job's.
class Receipts
{
public:
    Receipts(Store& store, DispatcherView& view);

    // The names from their file, matched to the mails as the store now holds them.
    void load();
    // A damaged file of names, said once when the service starts.
    QString takeLoadProblem();

    // A new mail from the job `name`, remembered with its receipt owed before the mail itself is saved.
    void remember(qint16 id, const QByteArray& name);
    // An attempt of the mail begins (`kept`: the debt goes to disk with the mail's key as it goes out, so a kill
    // before the receipt is made good at the next start) or has been filed.
    void owe(qint16 id, bool kept);
    // A job that never became a mail; `reason` as panel 2 says it.
    void refused(const QByteArray& name, const QByteArray& reason, const MailRecord& job);
    // These mails are about to be removed for good: their last receipts, without an ID, are made now.
    void removing(const QList<qint16>& ids);
    // A folder command's changes: a renumbered mail keeps its job under its new ID.
    void follow(const CommandChanges& changes);
    // A delivery report refused a mail removed for good, the first whose Message-ID `names` accepts: its receipt is
    // written again as undeliverable with `answer`. False when no such mail's job is known.
    bool reportedGone(const std::function<bool(const QByteArray&)>& names, const QByteArray& answer);
    // Writes what is owed. `nextAttempts`: the automatic attempts due, as the window shows them; a changed
    // one is a change of the receipt too.
    void write(const QMap<qint16, QDateTime>& nextAttempts);

private:
    struct Job
    {
        MailKey key;
        QByteArray name;
    };
    QByteArray folder();
    // The mails that came from an older job of `name` lose it; true when one did.
    bool dropName(const QByteArray& name);
    void saveNames();
    void saveGone();
    // Writes "<jobName>.txt"; false, with the first reason kept in `problem`, when it is to be tried again.
    bool put(const QByteArray& folder, const QByteArray& jobName, const QByteArray& receipt, QString* problem);
    // Said once until a receipt could be written again.
    void failed(const QString& reason);

    Store& m_store;
    DispatcherView& m_view;
    QHash<qint16, Job> m_jobs;
    QSet<qint16> m_owed;
    // The debts kadmel.jobs holds: one paid is cleared there too, or every start would pay it again.
    QSet<qint16> m_owedSaved;
    QMap<qint16, QDateTime> m_promised;                          // the next attempt each written receipt names
    QMap<QByteArray, QByteArray> m_ready;                        // receipts of refused and removed jobs by job name
    QHash<qint16, std::pair<QByteArray, QByteArray>> m_removing; // name and receipt, until the removal ends
    QList<GoneJob> m_gone;                                       // kadmel.entfernt
    bool m_said = false;                                         // a failure since the last receipt written
    QString m_loadProblem;
};

} // namespace kadmel
