#include "store/RemovalPlan.h"

#include "store/FileAccess.h"
#include "store/IndexFile.h"
#include "store/MailRecord.h"
#include "store/StorePaths.h"

#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace kadmel {
namespace {

constexpr char Header[] = "KadmelEntfernen 1";
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

QString removalPlanPathIn(const QString& programFolder)
{
    return programFolder + QStringLiteral("/kadmel.removal");
}

QString movedMailPathIn(const QString& programFolder, qint16 newId)
{
    return mailsFolderIn(programFolder) + QStringLiteral("/Mail(%1).neu").arg(newId);
}

QString removedMailPathIn(const QString& programFolder, qint16 oldId)
{
    return mailsFolderIn(programFolder) + QStringLiteral("/Mail(%1).weg").arg(oldId);
}

QByteArray encodeRemovalPlan(const RemovalPlan& plan)
{
    QByteArray text =
        QByteArray(Header) + ' ' + QByteArray::number(plan.phase) + ' ' + QByteArray::number(plan.oldMailCount) + '\n';
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
    if (head.size() != 4 || head.at(0) + ' ' + head.at(1) != Header)
        return std::nullopt;
    RemovalPlan plan;
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
                                        "sie stehen weiter in „Gelöschte Objekte“.")
                             .arg(plan->removedIds.size());
    return true;
}

} // namespace kadmel
