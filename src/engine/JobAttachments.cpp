#include "engine/JobAttachments.h"

#include "engine/ByteText.h"
#include "store/Ansi.h"
#include "store/AttachmentCopies.h"
#include "store/FolderHandle.h"
#include "store/MailAttachments.h"
#include "store/MailExtras.h"

#include <QDateTime>
#include <QFile>

namespace kadmel {
namespace {

struct SplitPath
{
    QByteArray folder, name; // the file system's bytes
};

SplitPath splitPath(const QByteArray& sourcePath)
{
    const QByteArray path = QFile::encodeName(fromAnsi(sourcePath));
    const qsizetype slash = path.lastIndexOf('/');
    return {slash == 0 ? QByteArray("/") : path.left(slash), path.mid(slash + 1)};
}

} // namespace

QByteArray readJobAttachments(const QList<QByteArray>& oemPaths, int minAgeMs, QList<JobAttachment>& read)
{
    qint64 total = 0;
    for (const QByteArray& oem : oemPaths) {
        const QByteArray path = OemToAnsi(oem);
        const QByteArray named = "wird nicht gesendet: Sein Anhang \x84" + path + "\x93 ";
        const SplitPath split = splitPath(path);
        if (!path.startsWith('/') || split.name.isEmpty())
            return named + "ist kein vollst\xE4ndiger Pfad zu einer Datei.";
        FolderHandle folder(split.folder);
        const QList<FolderHandle::Entry> entries =
            folder.list([&split](const QByteArray& name) { return name == split.name; });
        if (folder.state() != FolderHandle::State::Open)
            return named + (folder.state() == FolderHandle::State::Link
                                ? "liegt in einem Ordner, der eine Verkn\xFCpfung ist."
                                : "fehlt oder l\xE4sst sich nicht lesen.");
        if (entries.isEmpty())
            return named + "fehlt.";
        const FolderHandle::Entry& entry = entries.first();
        const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1000000;
        if (entry.regular && (entry.mtimeNs > nowNs || (nowNs - entry.mtimeNs) / 1000000 < minAgeMs))
            return named + "wird noch geschrieben.";
        JobAttachment attachment{path, {split.name.isEmpty() ? path : toAnsi(QFile::decodeName(split.name)), {}}};
        switch (folder.read(split.name, MaxAttachmentBytes - total, attachment.file.bytes)) {
        case FileRead::Read:
            break;
        case FileRead::Link:
            return named + "ist eine Verkn\xFCpfung und wird nicht gelesen.";
        case FileRead::NotAFile:
            return named + "ist keine gew\xF6hnliche Datei.";
        case FileRead::TooLarge:
            return named +
                   "macht die Anh\xE4nge gr\xF6\xDF"
                   "er als erlaubt (" +
                   FormatByteSize(MaxAttachmentBytes) + ").";
        case FileRead::Unreadable:
            return named + "l\xE4sst sich nicht lesen.";
        }
        if (attachment.file.bytes.size() != entry.size)
            return named + "wird noch geschrieben.";
        total += attachment.file.bytes.size();
        read.append(std::move(attachment));
    }
    return {};
}

bool removeSourceFile(const QByteArray& sourcePath, const QByteArray& sentBytes)
{
    const SplitPath split = splitPath(sourcePath);
    FolderHandle folder(split.folder);
    QByteArray bytes;
    if (folder.read(split.name, MaxAttachmentBytes, bytes) != FileRead::Read || bytes != sentBytes)
        return false;
    return folder.remove(split.name) && folder.sync();
}

} // namespace kadmel

namespace kadmel {

void removeSentSources(const QString& programFolder, const MailRecord& mail)
{
    const QList<QByteArray> values = extrasOf(mail).attachments;
    for (int i = 0; i < values.size(); ++i) {
        QByteArray sent;
        if (readAttachment(programFolder, mail, i, sent, nullptr))
            removeSourceFile(sourcePathOf(values[i]), sent);
    }
}

} // namespace kadmel
