#pragma once

#include "store/StorePaths.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

#include <QSet>

#include <optional>

namespace kadmel {

// The archive of sent mail: every message a server accepted, as it went out, one ".eml" file each in
// "<Ordner>/<year>/<month>/", named by the time of sending. Copies the archive could not take wait in a
// folder beside the store (pendingArchiveFolderIn) until it can.

// A text as part of a file name: characters that file systems refuse and control characters become "_",
// blanks and dots at the ends go, at most 60 characters are kept; "E-Mail" when nothing is left.
QString fileNameFromText(const QString& text);

// "2026-12-07 09.10.32 Betreff": a name that begins with the time of sending sorts by it.
QString archiveStem(const QDateTime& sentAt, const QByteArray& subject);

// Whether the program itself makes this name of a copy: "<archiveStem>.eml" or "<archiveStem> (n).eml".
bool isWaitingCopyName(const QString& name);

struct ArchiveOutcome
{
    QString problem;      // German; empty when the copy is in the archive
    bool waiting = false; // the copy waits beside the store
};

// Writes the message into the archive's month folder (made owner-only below `root`, which must exist) with its
// index line, moving the chain's head kept at `headPath` (none when empty), or, failing that, into the folder of
// waiting copies.
ArchiveOutcome archiveCopy(const QString& root, const QString& pendingFolder, const QString& stem,
                           const QByteArray& message, const QString& headPath = {});

struct CatchUp
{
    int archived = 0;
    int waiting = 0;
    int lined = 0;   // copies already in the archive that got their missing index line
    QString problem; // why the first copy that still waits could not go
    QString notice;  // German: the folder is a link or unreadable, or holds files the program never made
};

// Gives the copies that missed their index line theirs, then moves the waiting copies into the archive, oldest
// first. The folder is opened once without following a link, and only files of the program's own names are read
// and deleted; anything else stays where it is.
CatchUp archiveWaitingCopies(const QString& root, const QString& pendingFolder, const QString& headPath = {});

// Whether anything lies in the folder of waiting copies, or something else stands in its place.
bool holdsWaitingCopies(const QString& pendingFolder);

// The archive copy of the message with this Message-ID sent on `day` or the day after; nothing when none is found.
std::optional<QByteArray> findArchivedCopy(const QString& root, const QDate& day, const QByteArray& messageId);
// The Message-IDs of the copies the archive holds from `day`, read from their headers.
QSet<QByteArray> archivedMessageIds(const QString& root, const QDate& day);

} // namespace kadmel
