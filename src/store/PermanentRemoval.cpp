#include "store/PermanentRemoval.h"

#include "store/FileAccess.h"
#include "store/MailFileMemory.h"
#include "store/Store.h"

#include <QFile>
#include <algorithm>

namespace kadmel {

PermanentRemoval::PermanentRemoval(Store& store, const QList<qint16>& deletedPositions) : m_store(store)
{
    const MailTables& tables = store.tables();
    const FolderArray& deleted = tables.folder(DeletedFolder);
    // Marks, not searches: a full folder gives 32767 positions.
    QList<bool> positionTaken(deleted.ids.size(), false);
    QList<bool> idTaken(tables.MailCount() + 1, false);
    for (const qint16 pos : deletedPositions) {
        if (pos < 1 || pos > deleted.count || pos >= deleted.ids.size() || positionTaken.at(pos))
            continue;
        const qint16 id = deleted.at(pos);
        if (id < 1 || id > tables.MailCount() || idTaken.at(id))
            continue;
        positionTaken[pos] = true;
        idTaken[id] = true;
        m_positions.append(pos);
        m_ids.append(id);
    }
    std::sort(m_positions.begin(), m_positions.end(), std::greater<>());
    std::sort(m_ids.begin(), m_ids.end());

    for (const qint16 id : m_ids)
        m_operations.append({id, 0});
    if (!m_ids.isEmpty()) {
        qint16 below = 0;
        for (int id = m_ids.first(); id <= tables.MailCount(); ++id) {
            if (below < m_ids.size() && m_ids.at(below) == id)
                ++below;
            else
                m_operations.append({static_cast<qint16>(id), static_cast<qint16>(id - below)});
        }
    }
    m_known = QList<bool>(tables.MailCount() - m_ids.size() + 1, true);
    m_store.setRemovalRunning(true);
}

PermanentRemoval::~PermanentRemoval()
{
    // Cut short (the window went first): carried to its end, so records and file names agree again.
    if (!m_finished)
        step(totalOperations(), nullptr);
}

bool PermanentRemoval::step(int maxFileOperations, QString* error)
{
    for (int n = 0; n < qMax(1, maxFileOperations) && m_done < m_operations.size(); ++n, ++m_done) {
        const Operation op = m_operations.at(m_done);
        const QString from = m_store.mailFilePath(op.from);
        QString reason;
        bool ok = true;
        if (op.to == 0) {
            ok = removeFile(from, &reason);
        } else {
            ok = renameFile(from, m_store.mailFilePath(op.to), &reason);
            m_known[op.to] = ok;
            if (!ok && !QFile::exists(from))
                ok = true; // nothing to move; the next save writes the record
        }
        if (!ok && m_error.isEmpty())
            m_error = reason;
    }
    if (m_done == m_operations.size() && !m_finished) {
        finish();
        m_finished = true;
    }
    if (error && !m_error.isEmpty())
        *error = m_error;
    return m_finished;
}

void PermanentRemoval::finish()
{
    m_store.setRemovalRunning(false);
    MailTables& tables = m_store.tables();
    const qint16 oldCount = tables.MailCount();
    if (!m_ids.isEmpty()) {
        for (const qint16 pos : m_positions)
            tables.folder(DeletedFolder).removeAt(pos);
        tables.deleteMails(m_ids);

        QList<qint16> survivors(m_known.size(), 0);
        qsizetype next = 1;
        for (int id = 1; id <= oldCount; ++id) {
            if (std::binary_search(m_ids.cbegin(), m_ids.cend(), id))
                continue;
            if (m_known.at(next))
                survivors[next] = id;
            ++next;
        }
        m_store.mailFileMemory().renumber(survivors);
    }
    QString reason;
    if (!m_store.SaveFolders(&reason) && m_error.isEmpty())
        m_error = reason;
}

} // namespace kadmel
