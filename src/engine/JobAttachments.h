#pragma once

#include "smtp/Message.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kadmel {

// The files a job names with "@@AN" (code page 858 paths), read whole for the intake's copies: each a
// regular file, no link, not changed within the last minAgeMs (still being written, as a young job is), all
// together at most MaxAttachmentBytes. Empty when all were read, else why not, naming the file (Windows-1252,
// to follow "Auftrag „…“ ").
struct JobAttachment
{
    QByteArray sourcePath; // Windows-1252
    MailAttachment file;
};
QByteArray readJobAttachments(const QList<QByteArray>& oemPaths, int minAgeMs, QList<JobAttachment>& read);

// The producer's file of a sent mail's attachment, deleted while it still holds the bytes that were sent.
bool removeSourceFile(const QByteArray& sourcePath, const QByteArray& sentBytes);
// The same for each attachment of the mail ("[Anhaenge] NachVersandLoeschen=true", once it is filed as sent).
void removeSentSources(const QString& programFolder, const MailRecord& mail);

} // namespace kadmel
