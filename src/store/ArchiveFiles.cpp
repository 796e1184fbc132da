#include "store/ArchiveFiles.h"

#include "store/Ansi.h"
#include "store/FileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kadmel {
namespace {

const QString Suffix = QStringLiteral(".eml");
constexpr qint64 MaxCopyBytes = qint64(128) << 20; // a mail at the store's limit, as Base64
constexpr qint64 HeaderBytes = 16 << 10;           // a header of ten lines of at most 998 bytes each

// "2026/12" for a stem that begins with "2026-12-".
QString monthOf(const QString& stem)
{
    return stem.left(4) + QLatin1Char('/') + stem.mid(5, 2);
}

// The month folder below the root, made where missing; nothing with a German reason.
std::optional<QString> monthFolder(const QString& root, const QString& stem, QString* error)
{
    if (!QFileInfo(root).isDir()) {
        *error = QStringLiteral("Der Archivordner %1 ist nicht da oder kein Ordner.").arg(quotedName(root));
        return std::nullopt;
    }
    const QString year = root + QLatin1Char('/') + stem.left(4);
    const QString month = root + QLatin1Char('/') + monthOf(stem);
    if (!makeOwnFolder(year, error) || !makeOwnFolder(month, error))
        return std::nullopt;
    return month;
}

std::optional<QString> intoArchive(const QString& root, const QString& stem, const QByteArray& message, QString* error)
{
    const std::optional<QString> folder = monthFolder(root, stem, error);
    return folder ? writeNewFile(*folder, stem, Suffix, message, error) : std::nullopt;
}

QStringList waitingNames(const QString& pendingFolder)
{
    return QDir(pendingFolder).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
}

} // namespace

QString fileNameFromText(const QString& text)
{
    static const QString Refused = QStringLiteral("/\\:*?\"<>|");
    QString name = text.left(60); // with the date and a " (2)" within 255 bytes of UTF-8
    for (QChar& c : name) {
        if (c.unicode() < 32 || c.unicode() == 127 || Refused.contains(c))
            c = QLatin1Char('_');
    }
    while (!name.isEmpty() && (name.front() == QLatin1Char(' ') || name.front() == QLatin1Char('.')))
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == QLatin1Char(' ') || name.back() == QLatin1Char('.')))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("E-Mail") : name;
}

QString archiveStem(const QDateTime& sentAt, const QByteArray& subject)
{
    return sentAt.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss ")) + fileNameFromText(fromAnsi(subject));
}

ArchiveOutcome archiveCopy(const QString& root, const QString& pendingFolder, const QString& stem,
                           const QByteArray& message)
{
    QString reason;
    if (intoArchive(root, stem, message, &reason))
        return {};
    QString kept;
    if (makeOwnFolder(pendingFolder, &kept) && writeNewFile(pendingFolder, stem, Suffix, message, &kept))
        return {reason + QStringLiteral(" Die Kopie wird nachgeholt, sobald das Archiv sie aufnehmen kann."), true};
    return {reason + QStringLiteral(" Auch die Kopie für später ließ sich nicht speichern: ") + kept +
                QStringLiteral(" Die E-Mail steht im Versandablauf."),
            false};
}

CatchUp archiveWaitingCopies(const QString& root, const QString& pendingFolder)
{
    CatchUp result;
    const QStringList names = waitingNames(pendingFolder);
    for (const QString& name : names) {
        const QString path = pendingFolder + QLatin1Char('/') + name;
        QByteArray message;
        QString reason;
        if (readWholeFile(path, MaxCopyBytes, message, &reason) == ReadOutcome::Read &&
            intoArchive(root, name.chopped(Suffix.size()), message, &reason) && removeFile(path, &reason)) {
            ++result.archived;
            continue;
        }
        if (result.problem.isEmpty())
            result.problem = reason;
        ++result.waiting;
    }
    if (result.archived > 0)
        syncFolder(pendingFolder, nullptr); // at worst a copy comes back and is found already archived
    return result;
}

std::optional<QByteArray> findArchivedCopy(const QString& root, const QDate& day, const QByteArray& messageId)
{
    const QByteArray line = "\r\nMessage-ID: " + messageId + "\r\n";
    for (const QDate& date : {day, day.addDays(1)}) {
        const QString prefix = date.toString(QStringLiteral("yyyy-MM-dd "));
        const QDir folder(root + QLatin1Char('/') + monthOf(prefix));
        for (const QString& name : folder.entryList({prefix + QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray head = file.read(HeaderBytes);
            if (!head.left(head.indexOf("\r\n\r\n")).contains(line))
                continue;
            QByteArray copy;
            if (readWholeFile(file.fileName(), MaxCopyBytes, copy, nullptr) == ReadOutcome::Read)
                return copy;
        }
    }
    return std::nullopt;
}

} // namespace kadmel
