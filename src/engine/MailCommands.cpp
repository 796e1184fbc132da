#include "engine/MailCommands.h"

#include "store/PermanentRemoval.h"

#include <QSet>

namespace kadmel {
namespace {

// The moves as the lists see them one after the other: each from its position once those before it left.
void noteMoves(CommandChanges& changes, const QList<qint16>& positions, const QList<std::pair<qint16, int>>& moved,
               int fromFolder)
{
    for (qsizetype k = 0; k < moved.size() && k < positions.size(); ++k)
        changes.moves.append(
            {MailChange::Kind::Moved, moved.at(k).first, moved.at(k).second, fromFolder, qint16(positions.at(k) - k)});
}

} // namespace

QString mailsText(int count)
{
    return count == 1 ? QStringLiteral("1 E-Mail") : QStringLiteral("%1 E-Mails").arg(count);
}

QList<qint16> positionsOf(const MailTables& tables, int folder, const QList<qint16>& ids)
{
    const QSet<qint16> wanted(ids.cbegin(), ids.cend());
    const QList<qint16> entries = tables.folder(folder).entries();
    QList<qint16> positions;
    for (qsizetype k = 0; k < entries.size(); ++k) {
        if (wanted.contains(entries.at(k)))
            positions.append(qint16(k + 1));
    }
    return positions;
}

CommandOutcome moveMailsToDeleted(Store& store, int folder, const QList<qint16>& ids)
{
    CommandOutcome outcome;
    const QList<qint16> positions = positionsOf(store.tables(), folder, ids);
    QList<std::pair<qint16, int>> moved;
    for (const qint16 id : store.moveToDeleted(folder, positions, &outcome.error))
        moved.append({id, DeletedFolder});
    noteMoves(outcome.changes, positions, moved, folder);
    outcome.done = int(moved.size());
    return outcome;
}

CommandOutcome restoreMails(Store& store, const QList<qint16>& ids)
{
    CommandOutcome outcome;
    const QList<qint16> positions = positionsOf(store.tables(), DeletedFolder, ids);
    const QList<std::pair<qint16, int>> moved = store.restoreFromDeleted(positions, &outcome.error);
    noteMoves(outcome.changes, positions, moved, DeletedFolder);
    outcome.done = int(moved.size());
    return outcome;
}

CommandOutcome removeMailsForGood(Store& store, const QList<qint16>& ids)
{
    CommandOutcome outcome;
    PermanentRemoval removal(store, positionsOf(store.tables(), DeletedFolder, ids));
    removal.step(removal.totalOperations() + 1, &outcome.error);
    outcome.changes.newIds = removal.newIds();
    for (const qint16 id : outcome.changes.newIds.isEmpty() ? QList<qint16>() : ids)
        outcome.done += outcome.changes.newIdOf(id) == 0 ? 1 : 0;
    return outcome;
}

} // namespace kadmel
