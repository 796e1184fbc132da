#pragma once

#include "store/RemovalPlan.h"

#include <QList>
#include <QString>

namespace kadmel {

class Store;

// Deletes mails of one folder (the deleted one, or the sent one past its retention) for good, in steps the event
// loop can interleave with painting. The end state equals removing them one by one: their files deleted, every
// higher mail and its file moved down, every folder renumbered. The plan goes to disk first (see RemovalPlan), so
// a removal cut short anywhere is undone or finished at the next start: no kept mail loses its file or gets
// another's. The tables change at the end (or when a committed removal stops), in the same turn of the event loop
// as the lists are rebuilt; until then the store refuses to save mails.
class PermanentRemoval
{
public:
    // Positions of the folder; positions out of range or given twice are ignored. While the store
    // refuses saves (an earlier plan not settled) nothing is removed: the first step says why.
    PermanentRemoval(Store& store, const QList<qint16>& positions, int folder = DeletedFolder);
    ~PermanentRemoval();
    PermanentRemoval(const PermanentRemoval&) = delete;
    PermanentRemoval& operator=(const PermanentRemoval&) = delete;

    // Up to maxFileOperations steps (at least one); true when finished. A step that fails stops the
    // removal: before the commit everything is put back, after it the rest is done before the next
    // save (or at the next start). `error` then holds the German reason.
    bool step(int maxFileOperations, QString* error);

    // File operations in all and done so far, for a progress display.
    int totalOperations() const { return static_cast<int>(m_steps.size()); }
    int doneOperations() const { return m_done; }
    // Once the tables took the state after the removal: the new ID of each old ID, 0 for a removed mail.
    const QList<qint16>& newIds() const { return m_newIds; }

private:
    // The tables and the memory of the files take the state after the removal.
    void takeEffect();
    void stop(const QString& reason);

    Store& m_store;
    RemovalPlan m_plan;
    QByteArray m_oldIndex;     // the index the plan is made from, written before it
    QList<qint16> m_positions; // descending
    QList<RemovalStep> m_steps;
    QList<bool> m_known; // per new ID: the file holds what the memory says
    QList<qint16> m_newIds;
    int m_done = 0;
    bool m_committed = false;
    bool m_finished = false;
    QString m_error;
};

} // namespace kadmel
