#pragma once

#include "store/MailRecord.h"
#include "store/StorePaths.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace kadmel {

// What a removal for good is about to do, written to "kadmel.removal" before any mail file changes, so
// that a removal cut short (a crash, a kill, a failed rename) is undone or finished at the next start.
//
// Prepared (phase 1): each file of a removed mail is renamed to "Mail(<id>).weg", each file that moves
// down to "Mail(<new id>).neu"; nothing is lost, and undoing renames them back. Committed (phase 2, the
// plan rewritten): the new index is written from the plan, the ".neu" files get their final names and
// the ".weg" files are deleted. Every step can be run again with the same result.
//
// A plan acts only on the store it was made from (a backup or a copied folder can bring another's): it
// names that index by its digest, and settling checks the index on the disk against it first.
struct RemovalPlan
{
    enum Phase
    {
        Prepared = 1,
        Committed = 2
    };
    int phase = Prepared;
    qint16 oldMailCount = 0;
    QList<qint16> removedIds; // ascending, 1 … oldMailCount
    QByteArray newIndex;      // the folder index file after the removal, byte for byte
    // SHA-256 of the index file it was made from, as the disk held it; empty in a plan of the version
    // before, which named no index (and is written in that form).
    QByteArray oldIndexDigest;
    // The folder the removed mails stand in: the deleted one for "endgültig löschen", the sent one for the
    // retention of sent mail. Written only when not the deleted folder, so that plan reads as before.
    int folder = DeletedFolder;

    // The mails that move down: (old ID, new ID), ascending.
    QList<std::pair<qint16, qint16>> moves() const;

    friend bool operator==(const RemovalPlan&, const RemovalPlan&) = default;
};

QByteArray indexDigest(const QByteArray& indexBytes);

QByteArray encodeRemovalPlan(const RemovalPlan& plan);
std::optional<RemovalPlan> decodeRemovalPlan(const QByteArray& bytes);

// One step of a plan; each can be repeated after a crash.
struct RemovalStep
{
    enum Kind
    {
        WritePlan,  // the plan, prepared
        Prepare,    // Mail(id) → Mail(id).weg (newId 0) or Mail(newId).neu
        Undo,       // the reverse of Prepare
        WriteIndex, // the plan's index
        Place,      // Mail(newId).neu → Mail(newId)
        Discard,    // Mail(id).weg deleted
        SyncFolder, // the renames so far on the disk before the plan goes on
        Commit,     // the plan, committed: from here on it is finished, never undone
        RemovePlan
    };
    Kind kind;
    qint16 id = 0;
    qint16 newId = 0;
};

// The steps from the plan's start to its end, the commit included; those that finish a committed plan;
// those that undo a prepared one.
QList<RemovalStep> removalSteps(const RemovalPlan& plan);
QList<RemovalStep> finishingSteps(const RemovalPlan& plan);
QList<RemovalStep> undoingSteps(const RemovalPlan& plan);

// Carries out one step; a missing source counts as done (`found` tells which). False with a German reason.
bool runRemovalStep(const QString& programFolder, const RemovalPlan& plan, const RemovalStep& step, QString* error,
                    bool* found = nullptr);

// At a start, or before a save after a removal stopped: finishes a committed plan or undoes a prepared
// one. True when no plan is left (`note` then says what was done, if anything); false with the reason.
// A plan made from another index (or, without a digest, whose mail count or removed mails the index does
// not bear out) is kept as "kadmel.removal.bad" and carried out in no part, its ".neu" and ".weg" files
// left alone; `note` says so.
bool settleRemovalPlan(const QString& programFolder, QString* note, QString* error);

} // namespace kadmel
