#include "store/ArchiveFiles.h"

#include "store/Ansi.h"
#include "store/ArchiveIndex.h"
#include "store/ArchiveIndexing.h"
#include "store/FileAccess.h"
#include "store/FolderHandle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <functional>

namespace kadmel {
namespace {

const QString Suffix = QStringLiteral(".eml");
constexpr qint64 MaxCopyBytes = MaxArchiveCopyBytes;
constexpr qint64 HeaderBytes = 16 << 10; // a header of ten lines of at most 998 bytes each

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

// The copy and then its index line: only with both is it archived. A copy written again after a crash is found
// as it was, and a line it already has is not added twice.
std::optional<QString> intoArchive(const QString& root, const QString& stem, const QByteArray& message,
                                   const QString& headPath, QString* error)
{
    const std::optional<QString> folder = monthFolder(root, stem, error);
    const std::optional<QString> name = folder ? writeNewFile(*folder, stem, Suffix, message, error) : std::nullopt;
    if (!name || !indexCopy(root, monthOf(stem) + QLatin1Char('/') + *name, message, headPath, error))
        return std::nullopt;
    return name;
}

// writeNewFile's temporary files are the program's own, not waiting copies: passed over without a word.
bool isListed(const QByteArray& name)
{
    return !name.startsWith(".kadmel.");
}

bool isOwnCopy(const FolderHandle::Entry& entry, const QString& name)
{
    return entry.regular && QFile::encodeName(name) == entry.name && isWaitingCopyName(name);
}

QString folderNotice(const QString& pendingFolder, const FolderHandle& folder)
{
    const QString named = QStringLiteral("Der Ordner der wartenden Archivkopien „%1“ ").arg(pendingFolder);
    switch (folder.state()) {
    case FolderHandle::State::Open:
    case FolderHandle::State::Missing:
        return {};
    case FolderHandle::State::Link:
        return named + QStringLiteral("ist eine Verknüpfung und wird weder gelesen noch wird darin gelöscht. Bitte "
                                      "dort einen echten Ordner anlegen.");
    case FolderHandle::State::Unreadable:
        break;
    }
    return named + QStringLiteral("lässt sich nicht lesen: ") + systemReason(folder.error());
}

QString foreignNotice(const QString& pendingFolder, const QStringList& names)
{
    constexpr qsizetype Shown = 5;
    QStringList quoted;
    for (const QString& name : names.mid(0, Shown))
        quoted << QStringLiteral("„%1“").arg(name);
    if (names.size() > Shown)
        quoted << QStringLiteral("%1 weitere").arg(names.size() - Shown);
    return QStringLiteral("Im Ordner der wartenden Archivkopien „%1“ liegen Dateien, die nicht von ZUB stammen: %2. "
                          "Sie bleiben unberührt und werden nicht archiviert.")
        .arg(pendingFolder, quoted.join(QStringLiteral(", ")));
}

// The copy's bytes, or false with a German reason.
bool readCopy(FolderHandle& folder, const QByteArray& name, QByteArray& message, QString* reason)
{
    const FileRead read = folder.read(name, MaxCopyBytes, message);
    if (read == FileRead::Read)
        return true;
    const QString quoted = quotedName(QFile::decodeName(name));
    *reason = read == FileRead::TooLarge ? QStringLiteral("%1 ist zu groß.").arg(quoted)
                                         : QStringLiteral("%1 ließ sich nicht lesen.").arg(quoted);
    return false;
}

} // namespace

QString fileNameFromText(const QString& text)
{
    static const QString Refused = QStringLiteral("/\\:*?\"<>|");
    // Trimmed first: a subject written on a line of its own ends in CR LF, which would end the name in "__".
    QString name = text.trimmed().left(60); // with the date and a " (2)" within 255 bytes of UTF-8
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
                           const QByteArray& message, const QString& headPath)
{
    QString reason;
    if (intoArchive(root, stem, message, headPath, &reason))
        return {};
    QString kept;
    if (makeOwnFolder(pendingFolder, &kept) && writeNewFile(pendingFolder, stem, Suffix, message, &kept))
        return {reason + QStringLiteral(" Die Kopie wird nachgeholt, sobald das Archiv sie aufnehmen kann."), true};
    return {reason + QStringLiteral(" Auch die Kopie für später ließ sich nicht speichern: ") + kept +
                QStringLiteral(" Die E-Mail steht im Versandablauf."),
            false};
}

bool isWaitingCopyName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4}-\\d\\d-\\d\\d) (\\d\\d\\.\\d\\d\\.\\d\\d) (.+?)(?: \\((?:[2-9]|[1-9]\\d\\d?)\\))?\\.eml$"));
    const QRegularExpressionMatch match = pattern.match(name);
    const QString subject = match.captured(3);
    return match.hasMatch() && QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd")).isValid() &&
           QTime::fromString(match.captured(2), QStringLiteral("HH.mm.ss")).isValid() &&
           fileNameFromText(subject) == subject;
}

CatchUp archiveWaitingCopies(const QString& root, const QString& pendingFolder, const QString& headPath)
{
    CatchUp result;
    QString unlined;
    result.lined = indexMissedCopies(root, headPath, &unlined);
    if (!unlined.isEmpty())
        result.notice = QStringLiteral("Das Archivverzeichnis ließ sich nicht ergänzen: ") + unlined;
    FolderHandle folder(QFile::encodeName(pendingFolder));
    const QList<FolderHandle::Entry> entries = folder.list(isListed);
    if (folder.state() != FolderHandle::State::Open) {
        if (const QString notice = folderNotice(pendingFolder, folder); !notice.isEmpty())
            result.notice = notice;
        return result;
    }
    QStringList foreign;
    for (const FolderHandle::Entry& entry : entries) {
        const QString name = QFile::decodeName(entry.name);
        if (!isOwnCopy(entry, name)) {
            foreign << name;
            continue;
        }
        QByteArray message;
        QString reason;
        if (readCopy(folder, entry.name, message, &reason) &&
            intoArchive(root, name.chopped(Suffix.size()), message, headPath, &reason)) {
            // A name that stands for another file since the read keeps it: archived at the next catch-up.
            if (folder.remove(entry.name)) {
                ++result.archived;
                continue;
            }
            reason = QStringLiteral("%1 ließ sich nicht löschen.").arg(quotedName(name));
        }
        if (result.problem.isEmpty())
            result.problem = reason;
        ++result.waiting;
    }
    if (result.archived > 0)
        folder.sync(); // at worst a copy comes back and is found already archived
    if (!foreign.isEmpty())
        result.notice = foreignNotice(pendingFolder, foreign);
    return result;
}

bool holdsWaitingCopies(const QString& pendingFolder)
{
    FolderHandle folder(QFile::encodeName(pendingFolder));
    return folder.state() == FolderHandle::State::Open ? !folder.list(isListed).isEmpty()
                                                       : folder.state() != FolderHandle::State::Missing;
}

namespace {

// The copies named for `day` with their headers; `take` returns true to stop. Only through the archive's own
// folders, never a link: a copy that lies elsewhere does not count as archived.
void readArchivedHeaders(
    const QString& root, const QDate& day,
    const std::function<bool(FolderHandle& month, const QByteArray& name, const QByteArray& header)>& take)
{
    const QByteArray prefix = QFile::encodeName(day.toString(QStringLiteral("yyyy-MM-dd ")));
    const FolderHandle top = openArchive(root);
    const FolderHandle year(top, prefix.left(4));
    FolderHandle month(year, prefix.mid(5, 2));
    const auto named = [&prefix](const QByteArray& name) { return name.startsWith(prefix) && name.endsWith(".eml"); };
    for (const FolderHandle::Entry& entry : month.list(named)) {
        QFile file;
        FileRead why;
        if (!entry.regular || !month.open(entry.name, file, why))
            continue;
        // From the line break before the first field to the one after the last: every field is "\r\nName: …\r\n".
        const QByteArray head = file.read(HeaderBytes);
        const qsizetype end = head.indexOf("\r\n\r\n");
        if (take(month, entry.name, "\r\n" + (end < 0 ? head : head.left(end + 2))))
            return;
    }
}

const QByteArray MessageIdField = "\r\nMessage-ID: ";

} // namespace

std::optional<QByteArray> findArchivedCopy(const QString& root, const QDate& day, const QByteArray& messageId)
{
    const QByteArray line = MessageIdField + messageId + "\r\n";
    std::optional<QByteArray> found;
    for (const QDate& date : {day, day.addDays(1)}) {
        readArchivedHeaders(root, date, [&](FolderHandle& month, const QByteArray& name, const QByteArray& header) {
            QByteArray copy;
            if (header.contains(line) && month.read(name, MaxCopyBytes, copy) == FileRead::Read)
                found = copy;
            return found.has_value();
        });
        if (found)
            break;
    }
    return found;
}

QSet<QByteArray> archivedMessageIds(const QString& root, const QDate& day)
{
    QSet<QByteArray> ids;
    readArchivedHeaders(root, day, [&](FolderHandle&, const QByteArray&, const QByteArray& header) {
        if (const qsizetype at = header.indexOf(MessageIdField); at >= 0) {
            const qsizetype from = at + MessageIdField.size();
            ids.insert(header.mid(from, header.indexOf("\r\n", from) - from));
        }
        return false;
    });
    return ids;
}

} // namespace kadmel
