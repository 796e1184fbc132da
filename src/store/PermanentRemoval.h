#pragma once

#include <QList>
#include <QString>

namespace kadmel {

class Store;

// Deletes mails of the deleted folder for good, in steps the event loop can interleave with painting.
// The end state equals removing them one by one: their files deleted, every higher mail and its file
// moved down, every folder renumbered, the index written once. Each file is deleted or renamed at most
// once, lowest ID first, so no rename ever lands on a file that is still needed.
// The tables change only in the last step; until then the store refuses to save mails.
class PermanentRemoval
{
public:
    // Positions of the deleted folder; positions out of range or given twice are ignored.
    PermanentRemoval(Store& store, const QList<qint16>& deletedPositions);
    ~PermanentRemoval();
    PermanentRemoval(const PermanentRemoval&) = delete;
    PermanentRemoval& operator=(const PermanentRemoval&) = delete;

    // Up to maxFileOperations deletions and renames (at least one); true when finished.
    // A failed file operation does not stop the removal (the records stay in memory and the next
    // save writes them); `error` then holds the first reason.
    bool step(int maxFileOperations, QString* error);

    // File operations in all and done so far, for a progress display.
    int totalOperations() const { return static_cast<int>(m_operations.size()); }
    int doneOperations() const { return m_done; }

private:
    struct Operation
    {
        qint16 from; // file of this ID
        qint16 to;   // its new ID, or 0 to delete it
    };

    void finish();

    Store& m_store;
    QList<qint16> m_positions; // descending
    QList<qint16> m_ids;       // ascending
    QList<Operation> m_operations;
    QList<bool> m_known; // per new ID: the file holds what the memory says
    int m_done = 0;
    bool m_finished = false;
    QString m_error;
};

} // namespace kadmel
