#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kadmel {

class MailTables;

// All files of one job together; larger ones would not fit the mail file once sent (Base64, 4/3).
inline constexpr qint64 MaxAttachmentBytes = qint64(16) << 20;

// A file's type from its first bytes: PDF, XML, ZIP, PNG, JPEG, else "application/octet-stream".
QByteArray attachmentType(const QByteArray& bytes);

// A new name for a copy in the store's "Anhaenge/" folder: 16 random hex digits.
QByteArray newAttachmentCopyName();
// Writes the copy atomically, owner-only and on the disk (the folder made where it is missing).
bool writeAttachmentCopy(const QString& programFolder, const QByteArray& copyName, const QByteArray& bytes,
                         QString* error);
void removeAttachmentCopies(const QString& programFolder, const QList<QByteArray>& copyNames);
// Deletes the copies no mail names (a job taken no further, a mail removed for good, an attachment dropped),
// only files of the copies' own names, through the folder opened without following a link.
void removeOrphanAttachments(const QString& programFolder, const MailTables& tables);

// One "@@AN" value of a record: the copy's name, a blank and the producer's path of the file (Windows-1252),
// whose last part is the name the recipient sees.
QByteArray attachmentValue(const QByteArray& copyName, const QByteArray& sourcePath);
QByteArray copyNameOf(const QByteArray& value);
QByteArray sourcePathOf(const QByteArray& value);
QByteArray shownNameOf(const QByteArray& value);

} // namespace kadmel
