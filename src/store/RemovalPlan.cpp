#include "store/RemovalPlan.h"

#include "store/FileAccess.h"
#include "store/IndexFile.h"
#include "store/MailRecord.h"
#include "store/StorePaths.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace kadmel {
namespace {

// Version 1 named no index; version 2 adds the digest of the one the plan was made from; version 3 the folder
// of the removed mails when it is not the deleted one.
constexpr char Name[] = "KadmelEntfernen";
constexpr qint64 MaxPlanBytes = 2 << 20;

std::filesystem::path fsPath(const QString& path)
{
    return QFileInfo(path).filesystemAbsoluteFilePath();
}

bool present(const QString& path)
{
    std::error_code ignored;
    return std::filesystem::symlink_status(fsPath(path), ignored).type() != std::filesystem::file_type::not_found;
}

// Renames over whatever bears the new name: only a leftover of an earlier attempt can.
bool moveFile(const QString& from, const QString& to, QString* error, bool* found)
{
    const bool there = present(from);
    if (found)
        *found = there;
    if (!there)
        return true;
    std::error_code failed;
    std::filesystem::rename(fsPath(from), fsPath(to), failed);
    if (!failed)
        return true;
    if (error)
        *error = QStringLiteral("%1 ließ sich nicht in %2 umbenennen.").arg(quotedName(from), quotedName(to));
    return false;
}

bool ascendingWithin(const QList<qint16>& ids, qint16 last)
{
    qint16 previous = 0;
    for (const qint16 id : ids) {
        if (id <= previous || id > last)
            return false;
        previous = id;
    }
    return !ids.isEmpty();
}

} // namespace

QList<std::pair<qint16, qint16>> RemovalPlan::moves() const
{
    QList<std::pair<qint16, qint16>> result;
    if (removedIds.isEmpty())
        return result;
    qsizetype below = 0;
    for (int id = removedIds.first(); id <= oldMailCount; ++id) {
        if (below < removedIds.size() && removedIds.at(below) == id)
            ++below;
        else
            result.append({qint16(id), qint16(id - below)});
    }
    return result;
}

QByteArray indexDigest(const QByteArray& indexBytes)
{
    return QCryptographicHash::hash(indexBytes, QCryptographicHash::Sha256);
}

QByteArray encodeRemovalPlan(const RemovalPlan& plan)
{
    const bool named = !plan.oldIndexDigest.isEmpty();
    const bool foldered = named && plan.folder != DeletedFolder; // a plan without a digest is of the deleted folder
    const char version = foldered ? '3' : named ? '2' : '1';
    QByteArray text = QByteArray(Name) + ' ' + version + ' ' + QByteArray::number(plan.phase) + ' ' +
                      QByteArray::number(plan.oldMailCount);
    if (named)
        text += ' ' + plan.oldIndexDigest.toHex();
    if (foldered)
        text += ' ' + QByteArray::number(plan.folder);
    text += '\n';
    for (qsizetype i = 0; i < plan.removedIds.size(); ++i)
        text += (i ? " " : "") + QByteArray::number(plan.removedIds.at(i));
    return text + '\n' + plan.newIndex.toHex() + '\n';
}

std::optional<RemovalPlan> decodeRemovalPlan(const QByteArray& bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.size() != 4 || !lines.at(3).isEmpty())
        return std::nullopt;
    const QList<QByteArray> head = lines.at(0).split(' ');
    const bool foldered = head.size() == 6 && head.at(1) == "3";
    const bool named = foldered || (head.size() == 5 && head.at(1) == "2");
    if (head.at(0) != Name || !(named || (head.size() == 4 && head.at(1) == "1")))
        return std::nullopt;
    RemovalPlan plan;
    if (foldered) {
        plan.folder = head.at(5).toInt();
        if (plan.folder != SentFolder && plan.folder != FailedFolder)
            return std::nullopt;
    }
    if (named) {
        plan.oldIndexDigest = QByteArray::fromHex(head.at(4));
        if (plan.oldIndexDigest.size() != 32 || plan.oldIndexDigest.toHex() != head.at(4))
            return std::nullopt;
    }
    bool phaseOk = false, countOk = false;
    plan.phase = head.at(2).toInt(&phaseOk);
    plan.oldMailCount = head.at(3).toShort(&countOk);
    if (!phaseOk || !countOk || (plan.phase != RemovalPlan::Prepared && plan.phase != RemovalPlan::Committed))
        return std::nullopt;
    for (const QByteArray& field : lines.at(1).split(' ')) {
        bool ok = false;
        plan.removedIds.append(field.toShort(&ok));
        if (!ok)
            return std::nullopt;
    }
    plan.newIndex = QByteArray::fromHex(lines.at(2));
    FolderIndexRecord index;
    if (!ascendingWithin(plan.removedIds, plan.oldMailCount) || plan.newIndex.toHex() != lines.at(2) ||
        !decodeFolderIndex(plan.newIndex, index, nullptr) ||
        index.mailCount != plan.oldMailCount - plan.removedIds.size())
        return std::nullopt;
    return plan;
}

QList<RemovalStep> removalSteps(const RemovalPlan& plan)
{
    QList<RemovalStep> steps{{RemovalStep::WritePlan}};
    qsizetype removed = 0;
    for (const auto& [from, to] : plan.moves()) {
        // Removed mails below this one first: every step in ID order, as the progress shows it.
        for (; removed < plan.removedIds.size() && plan.removedIds.at(removed) < from; ++removed)
            steps.append({RemovalStep::Prepare, plan.removedIds.at(removed), 0});
        steps.append({RemovalStep::Prepare, from, to});
    }
    for (; removed < plan.removedIds.size(); ++removed)
        steps.append({RemovalStep::Prepare, plan.removedIds.at(removed), 0});
    steps.append(RemovalStep{RemovalStep::SyncFolder});
    steps.append(RemovalStep{RemovalStep::Commit});
    return steps + finishingSteps(plan);
}

QList<RemovalStep> finishingSteps(const RemovalPlan& plan)
{
    QList<RemovalStep> steps{{RemovalStep::WriteIndex}};
    for (const auto& [from, to] : plan.moves())
        steps.append({RemovalStep::Place, from, to});
    for (const qint16 id : plan.removedIds)
        steps.append({RemovalStep::Discard, id, 0});
    steps.append(RemovalStep{RemovalStep::SyncFolder});
    steps.append(RemovalStep{RemovalStep::RemovePlan});
    return steps;
}

QList<RemovalStep> undoingSteps(const RemovalPlan& plan)
{
    QList<RemovalStep> steps;
    for (const qint16 id : plan.removedIds)
        steps.append({RemovalStep::Undo, id, 0});
    for (const auto& [from, to] : plan.moves())
        steps.append({RemovalStep::Undo, from, to});
    steps.append(RemovalStep{RemovalStep::SyncFolder});
    steps.append(RemovalStep{RemovalStep::RemovePlan});
    return steps;
}

bool runRemovalStep(const QString& programFolder, const RemovalPlan& plan, const RemovalStep& step, QString* error,
                    bool* found)
{
    const auto staged = [&] {
        return step.newId ? movedMailPathIn(programFolder, step.newId) : removedMailPathIn(programFolder, step.id);
    };
    switch (step.kind) {
    case RemovalStep::WritePlan:
    case RemovalStep::Commit: {
        // On the disk, name and all, before any mail file is renamed after it.
        RemovalPlan written = plan;
        written.phase = step.kind == RemovalStep::Commit ? RemovalPlan::Committed : RemovalPlan::Prepared;
        return writeWholeFile(removalPlanPathIn(programFolder), encodeRemovalPlan(written), error);
    }
    case RemovalStep::Prepare:
        return moveFile(mailFilePathIn(programFolder, step.id), staged(), error, found);
    case RemovalStep::Undo:
        // While prepared nothing else takes a mail's own name: one that is there was never moved.
        if (present(mailFilePathIn(programFolder, step.id)))
            return true;
        return moveFile(staged(), mailFilePathIn(programFolder, step.id), error, found);
    case RemovalStep::WriteIndex:
        return writeWholeFile(indexFilePathIn(programFolder), plan.newIndex, error);
    case RemovalStep::Place:
        return moveFile(staged(), mailFilePathIn(programFolder, step.newId), error, found);
    case RemovalStep::Discard:
        return removeFile(staged(), error);
    case RemovalStep::SyncFolder:
        return syncFolder(mailsFolderIn(programFolder), error);
    case RemovalStep::RemovePlan:
        return removeFile(removalPlanPathIn(programFolder), error);
    }
    return false;
}

namespace {

// Why the plan is not this store's, empty when it is: the index on the disk is the one it was made from
// (by its digest; a plan of the version before names none), with its mail count and every removed mail
// in the plan's folder; or, once committed, the plan's own new index (its WriteIndex ran). One of the
// two holds at every moment a removal can be cut short. Nothing, with `error`, for an unreadable index.
std::optional<QString> strangerReason(const QString& programFolder, const RemovalPlan& plan, QString* error)
{
    const QString path = indexFilePathIn(programFolder);
    QByteArray bytes;
    switch (readWholeFile(path, MaxIndexFileBytes, bytes, error)) {
    case ReadOutcome::Failed:
        return std::nullopt;
    case ReadOutcome::Missing:
        return QStringLiteral("der Ordnerindex %1 fehlt").arg(quotedName(path));
    case ReadOutcome::Read:
        break;
    }
    if (plan.phase == RemovalPlan::Committed && bytes == plan.newIndex)
        return QString();
    if (!plan.oldIndexDigest.isEmpty() && indexDigest(bytes) != plan.oldIndexDigest)
        return QStringLiteral("er wurde aus einem anderen Ordnerindex erstellt");
    FolderIndexRecord index;
    if (!decodeFolderIndex(bytes, index, nullptr))
        return QStringLiteral("der Ordnerindex %1 ist beschädigt").arg(quotedName(path));
    if (index.mailCount != plan.oldMailCount)
        return QStringLiteral("er rechnet mit %1 E-Mails, der Ordnerindex zählt %2")
            .arg(plan.oldMailCount)
            .arg(index.mailCount);
    QList<bool> inFolder(plan.oldMailCount + 1, false); // marks: a full folder holds 32767
    const FolderArray& folder = plan.folder == SentFolder     ? index.sent
                                : plan.folder == FailedFolder ? index.failed
                                                              : index.deleted;
    for (const qint16 id : folder.entries()) {
        if (id >= 1 && id <= plan.oldMailCount)
            inFolder[id] = true;
    }
    for (const qint16 id : plan.removedIds) {
        if (!inFolder.at(id))
            return QStringLiteral("die E-Mail %1 steht nicht in „%2“").arg(id).arg(folderTitle(plan.folder));
    }
    return QString();
}

} // namespace

bool settleRemovalPlan(const QString& programFolder, QString* note, QString* error)
{
    const QString path = removalPlanPathIn(programFolder);
    QByteArray bytes;
    QString reason;
    switch (readWholeFile(path, MaxPlanBytes, bytes, &reason)) {
    case ReadOutcome::Missing:
        return true;
    case ReadOutcome::Failed:
        if (error)
            *error = reason;
        return false;
    case ReadOutcome::Read:
        break;
    }
    const std::optional<RemovalPlan> plan = decodeRemovalPlan(bytes);
    if (!plan) {
        // Which files it was moving cannot be told: nothing is touched until someone looks.
        if (error)
            *error = QStringLiteral("%1 ist beschädigt; das abgebrochene endgültige Entfernen lässt sich weder "
                                    "beenden noch zurücknehmen.")
                         .arg(quotedName(path));
        return false;
    }
    const std::optional<QString> stranger = strangerReason(programFolder, *plan, &reason);
    if (!stranger) {
        if (error)
            *error = QStringLiteral("Ob %1 zu diesen Daten gehört, lässt sich nicht prüfen: %2")
                         .arg(quotedName(path), reason);
        return false;
    }
    if (!stranger->isEmpty()) {
        // Nothing of it is carried out: no index, no rename, its ".neu" and ".weg" files stay as they are.
        const QString stray =
            QStringLiteral("Der Plan %1 zum endgültigen Entfernen gehört nicht zu diesen Daten (%2) und wurde nicht "
                           "ausgeführt; keine E-Mail wurde verändert.")
                .arg(quotedName(path), *stranger);
        if (!keepAsBad(path, &reason) || !removeFile(path, &reason)) {
            if (error)
                *error = stray + QLatin1Char(' ') + reason;
            return false;
        }
        if (note)
            *note =
                stray + QStringLiteral(" Er bleibt als %1 erhalten.").arg(quotedName(path + QStringLiteral(".bad")));
        return true;
    }
    const bool finish = plan->phase == RemovalPlan::Committed;
    for (const RemovalStep& step : finish ? finishingSteps(*plan) : undoingSteps(*plan)) {
        if (!runRemovalStep(programFolder, *plan, step, &reason)) {
            if (error)
                *error = QStringLiteral("Das abgebrochene endgültige Entfernen ließ sich nicht %1: %2")
                             .arg(finish ? QStringLiteral("beenden") : QStringLiteral("zurücknehmen"), reason);
            return false;
        }
    }
    if (note)
        *note = finish ? QStringLiteral("Das abgebrochene endgültige Entfernen von %1 E-Mails wurde beendet.")
                             .arg(plan->removedIds.size())
                       : QStringLiteral("Das abgebrochene endgültige Entfernen von %1 E-Mails wurde zurückgenommen; "
                                        "sie stehen weiter in „%2“.")
                             .arg(plan->removedIds.size())
                             .arg(folderTitle(plan->folder));
    return true;
}

} // namespace kadmel
