#include "store/PermanentRemoval.h"

#include "store/AttachmentCopies.h"

#include "store/FileAccess.h"
#include "store/IndexFile.h"
#include "store/MailFileMemory.h"
#include "store/Store.h"

#include <algorithm>

namespace kadmel {
namespace {

// The folder without those positions, and every folder renumbered: what the tables become.
void removeFromTables(MailTables& tables, int folder, const QList<qint16>& descendingPositions,
                      const QList<qint16>& ascendingIds)
{
    for (const qint16 pos : descendingPositions)
        tables.folder(folder).removeAt(pos);
    tables.deleteMails(ascendingIds);
}

} // namespace

PermanentRemoval::PermanentRemoval(Store& store, const QList<qint16>& positions, int folder) : m_store(store)
{
    m_plan.folder = folder >= SentFolder && folder <= DeletedFolder ? folder : DeletedFolder;
    // A plan of an earlier removal that is not settled yet (or cannot be) is never written over.
    if (QString reason; !store.mailFilesWritable(&reason)) {
        m_finished = true;
        m_error = reason + QStringLiteral(" Es wurde keine E-Mail gelöscht.");
        return;
    }
    const MailTables& tables = store.tables();
    const FolderArray& from = tables.folder(m_plan.folder);
    // Marks, not searches: a full folder gives 32767 positions.
    QList<bool> positionTaken(from.ids.size(), false);
    QList<bool> idTaken(tables.MailCount() + 1, false);
    for (const qint16 pos : positions) {
        if (pos < 1 || pos > from.count || pos >= from.ids.size() || positionTaken.at(pos))
            continue;
        const qint16 id = from.at(pos);
        if (id < 1 || id > tables.MailCount() || idTaken.at(id))
            continue;
        positionTaken[pos] = true;
        idTaken[id] = true;
        m_positions.append(pos);
        m_plan.removedIds.append(id);
    }
    std::sort(m_positions.begin(), m_positions.end(), std::greater<>());
    std::sort(m_plan.removedIds.begin(), m_plan.removedIds.end());
    m_plan.oldMailCount = tables.MailCount();
    m_oldIndex = encodeFolderIndex(
        {tables.MailCount(), tables.folder(SentFolder), tables.folder(FailedFolder), tables.folder(DeletedFolder)});
    m_plan.oldIndexDigest = indexDigest(m_oldIndex);
    m_known = QList<bool>(tables.MailCount() - m_plan.removedIds.size() + 1, true);
    if (m_plan.removedIds.isEmpty())
        return;

    MailTables after;
    after.setIndex(tables.MailCount(), tables.folder(SentFolder), tables.folder(FailedFolder),
                   tables.folder(DeletedFolder));
    removeFromTables(after, m_plan.folder, m_positions, m_plan.removedIds);
    m_plan.newIndex = encodeFolderIndex(
        {after.MailCount(), after.folder(SentFolder), after.folder(FailedFolder), after.folder(DeletedFolder)});
    m_steps = removalSteps(m_plan);
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
    const QString folder = m_store.programFolder();
    for (int n = 0; n < qMax(1, maxFileOperations) && !m_finished && m_done < m_steps.size(); ++n) {
        const RemovalStep& step = m_steps.at(m_done);
        QString reason;
        bool found = true;
        // The index the plan names goes to the disk with it: the tables' own, whatever a failed save left.
        if ((step.kind == RemovalStep::WritePlan && !writeWholeFile(m_store.indexFilePath(), m_oldIndex, &reason)) ||
            !runRemovalStep(folder, m_plan, step, &reason, &found)) {
            stop(reason);
            break;
        }
        if (step.kind == RemovalStep::Prepare && step.newId && !found)
            m_known[step.newId] = false; // nothing to move; the next save writes the record
        ++m_done;
        m_committed = m_committed || step.kind == RemovalStep::Commit;
    }
    if (!m_finished && m_done == m_steps.size()) {
        m_finished = true;
        m_store.setRemovalRunning(false);
        takeEffect();
    }
    if (error && !m_error.isEmpty())
        *error = m_error;
    return m_finished;
}

void PermanentRemoval::takeEffect()
{
    MailTables& tables = m_store.tables();
    const qint16 oldCount = tables.MailCount();
    removeFromTables(tables, m_plan.folder, m_positions, m_plan.removedIds);

    QList<qint16> survivors(m_known.size(), 0);
    m_newIds = QList<qint16>(oldCount + 1, 0);
    qint16 next = 1;
    for (int id = 1; id <= oldCount; ++id) {
        if (std::binary_search(m_plan.removedIds.cbegin(), m_plan.removedIds.cend(), id))
            continue;
        if (m_known.at(next))
            survivors[next] = qint16(id);
        m_newIds[id] = next++;
    }
    m_store.mailFileMemory().renumber(survivors);
    // The removed mails' attachments go with them; a kill before this leaves them to the next start.
    if (std::all_of(m_known.cbegin(), m_known.cend(), [](bool known) { return known; }))
        removeOrphanAttachments(m_store.programFolder(), tables);
}

void PermanentRemoval::stop(const QString& reason)
{
    m_finished = true;
    m_store.setRemovalRunning(false);
    if (m_committed) {
        takeEffect();
        m_store.setRemovalUnsettled();
        m_error = QStringLiteral("Das endgültige Entfernen wurde unterbrochen: %1 Es wird vor dem nächsten "
                                 "Speichern zu Ende geführt.")
                      .arg(reason);
        return;
    }
    // Not committed: every file goes back to its name, and the mails stay in their folder.
    QString undoError;
    m_error =
        QStringLiteral("Das endgültige Entfernen wurde abgebrochen: %1 Es wurde keine E-Mail gelöscht.").arg(reason);
    if (!settleRemovalPlan(m_store.programFolder(), nullptr, &undoError)) {
        m_store.setRemovalUnsettled();
        m_error += QStringLiteral(" ") + undoError;
    }
}

} // namespace kadmel
