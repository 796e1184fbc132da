#include "store/MailAttachments.h"

#include "store/Ansi.h"
#include "store/AttachmentCopies.h"
#include "store/FileAccess.h"
#include "store/FolderHandle.h"
#include "store/MailExtras.h"
#include "store/MailTables.h"
#include "store/StorePaths.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>

namespace kadmel {
namespace {

constexpr qsizetype CopyNameLength = 16;

QString copyPath(const QString& programFolder, const QByteArray& copyName)
{
    return attachmentsFolderIn(programFolder) + QLatin1Char('/') + QString::fromLatin1(copyName);
}

} // namespace

QByteArray attachmentType(const QByteArray& bytes)
{
    const QByteArray start = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    if (bytes.startsWith("%PDF-"))
        return "application/pdf";
    if (start.startsWith("<?xml"))
        return "application/xml";
    if (bytes.startsWith("PK\x03\x04"))
        return "application/zip";
    if (bytes.startsWith("\x89PNG\r\n\x1A\n"))
        return "image/png";
    if (bytes.startsWith("\xFF\xD8\xFF"))
        return "image/jpeg";
    return "application/octet-stream";
}

QByteArray newAttachmentCopyName()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(CopyNameLength, '0');
}

bool writeAttachmentCopy(const QString& programFolder, const QByteArray& copyName, const QByteArray& bytes,
                         QString* error)
{
    return makeOwnFolder(attachmentsFolderIn(programFolder), error) &&
           writeWholeFile(copyPath(programFolder, copyName), bytes, error);
}

void removeAttachmentCopies(const QString& programFolder, const QList<QByteArray>& copyNames)
{
    FolderHandle folder(QFile::encodeName(attachmentsFolderIn(programFolder)));
    for (const QByteArray& name : copyNames)
        if (isAttachmentCopyName(QString::fromLatin1(name)))
            folder.remove(name);
    folder.sync();
}

void removeOrphanAttachments(const QString& programFolder, const MailTables& tables)
{
    FolderHandle folder(QFile::encodeName(attachmentsFolderIn(programFolder)));
    if (folder.state() != FolderHandle::State::Open)
        return;
    QSet<QByteArray> named;
    for (qint16 id = 1; id <= tables.MailCount(); ++id)
        for (const QByteArray& value : extrasOf(tables.mail(id)).attachments)
            named.insert(copyNameOf(value));
    bool removed = false;
    const auto own = [](const QByteArray& name) { return isAttachmentCopyName(QString::fromLatin1(name)); };
    for (const FolderHandle::Entry& entry : folder.list(own))
        if (entry.regular && !named.contains(entry.name))
            removed = folder.remove(entry.name) || removed;
    if (removed)
        folder.sync();
}

QByteArray attachmentValue(const QByteArray& copyName, const QByteArray& sourcePath)
{
    return copyName + ' ' + sourcePath;
}

QByteArray copyNameOf(const QByteArray& value)
{
    return value.left(CopyNameLength);
}

QByteArray sourcePathOf(const QByteArray& value)
{
    return value.mid(CopyNameLength + 1);
}

QByteArray shownNameOf(const QByteArray& value)
{
    const QByteArray path = sourcePathOf(value);
    return path.mid(path.lastIndexOf('/') + 1);
}

QList<AttachmentInfo> attachmentsOf(const QString& programFolder, const MailRecord& mail)
{
    QList<AttachmentInfo> infos;
    const QList<QByteArray> values = extrasOf(mail).attachments;
    for (int i = 0; i < values.size(); ++i) {
        QByteArray bytes;
        readAttachment(programFolder, mail, i, bytes, nullptr);
        infos.append({shownNameOf(values[i]), attachmentType(bytes), bytes.size()});
    }
    return infos;
}

bool readAttachment(const QString& programFolder, const MailRecord& mail, int index, QByteArray& bytes, QString* error)
{
    const QByteArray value = extrasOf(mail).attachments.value(index);
    if (!isAttachmentCopyName(QString::fromLatin1(copyNameOf(value)))) {
        if (error)
            *error = QStringLiteral("Die E-Mail hat keinen solchen Anhang.");
        return false;
    }
    const ReadOutcome read =
        readWholeFile(copyPath(programFolder, copyNameOf(value)), MaxAttachmentBytes, bytes, error);
    if (read == ReadOutcome::Missing && error)
        *error = QStringLiteral("Die Kopie des Anhangs \u201E%1\u201C fehlt im Ordner \u201EAnhaenge\u201C.")
                     .arg(fromAnsi(shownNameOf(value)));
    return read == ReadOutcome::Read;
}

void forgetAttachment(MailRecord& mail, int index)
{
    MailExtras extras = extrasOf(mail);
    if (index < 0 || index >= extras.attachments.size())
        return;
    extras.attachments.removeAt(index);
    setExtras(mail, extras);
}

} // namespace kadmel
