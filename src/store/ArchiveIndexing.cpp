#include "store/ArchiveIndexing.h"

#include "store/ArchiveFiles.h"
#include "store/ArchiveIndex.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace kadmel {
namespace {

struct ChainEnd
{
    QByteArray line;   // the last complete line, empty for a chain not yet begun
    bool torn = false; // the index ends in a line cut short, which the next line must not continue
};

// The end of the year's index, read from its tail only.
std::optional<ChainEnd> endOf(FolderHandle& year)
{
    if (year.list([](const QByteArray& name) { return name == IndexFileName; }).isEmpty())
        return year.state() == FolderHandle::State::Open ? std::optional<ChainEnd>(ChainEnd{}) : std::nullopt;
    QFile file;
    FileRead why;
    if (!year.open(IndexFileName, file, why))
        return std::nullopt;
    const qint64 size = file.size();
    if (!file.seek(std::max<qint64>(0, size - 2 * MaxIndexLineBytes)))
        return std::nullopt;
    QByteArray tail = file.readAll();
    ChainEnd end;
    end.torn = !tail.isEmpty() && !tail.endsWith('\n');
    const qsizetype last = tail.lastIndexOf('\n');
    tail.truncate(std::max<qsizetype>(last, 0));
    end.line = tail.mid(tail.lastIndexOf('\n') + 1);
    return end;
}

// The line a first line of `year` chains to: the last of the latest year before that has one.
std::optional<ChainEnd> endBefore(FolderHandle& top, const QString& root, const QString& year)
{
    QStringList years = archiveYears(root);
    std::reverse(years.begin(), years.end());
    for (const QString& earlier : std::as_const(years)) {
        if (earlier >= year)
            continue;
        FolderHandle folder(top, QFile::encodeName(earlier));
        const std::optional<ChainEnd> end = endOf(folder);
        if (!end)
            return std::nullopt;
        if (!end->line.isEmpty())
            return end;
    }
    return ChainEnd{};
}

struct ChainCount
{
    qint64 lines = 0;
    QByteArray hashAt; // of the line asked for
};

ChainCount countChain(FolderHandle& top, const QString& root, qint64 at)
{
    ChainCount count;
    for (const QString& year : archiveYears(root)) {
        FolderHandle folder(top, QFile::encodeName(year));
        readIndexLines(folder, [&count, at](const QByteArray& line, bool) {
            if (++count.lines == at)
                count.hashAt = hashOf(line);
        });
    }
    return count;
}

// The head follows the new last line. A head left behind (its own write failed once) still names a line of the
// chain at its place; one that does not was left by a chain written anew, which stays said in the head.
bool moveHead(const QString& headPath, FolderHandle& top, const QString& root, const QByteArray& lastHash,
              const QByteArray& previousHash, QString* error)
{
    if (headPath.isEmpty())
        return true;
    const QString archive = canonicalArchive(root);
    std::optional<ChainHead> head = readChainHead(headPath);
    if (head && head->archive == archive && head->lastHash == lastHash)
        return true;
    if (head && head->archive == archive && head->lastHash == previousHash) {
        ++head->lines;
    } else {
        if (!head || head->archive != archive)
            head = ChainHead{archive, 0, {}, {}};
        const ChainCount count = countChain(top, root, head->lines);
        if (!head->lastHash.isEmpty() && count.hashAt != head->lastHash && head->rewritten.isEmpty())
            head->rewritten = QByteArray::number(head->lines) + ' ' + head->lastHash;
        head->lines = count.lines;
    }
    head->lastHash = lastHash;
    return writeChainHead(headPath, *head, error);
}

QString folderProblem(const QString& name, const FolderHandle& folder)
{
    if (folder.state() == FolderHandle::State::Link)
        return QStringLiteral("Der Archivordner „%1“ ist eine Verknüpfung; ZUB folgt ihr nicht.").arg(name);
    return QStringLiteral("Der Archivordner „%1“ ließ sich nicht öffnen: %2").arg(name, systemReason(folder.error()));
}

} // namespace

bool indexCopy(const QString& root, const QString& file, const QByteArray& message, const QString& headPath,
               QString* error)
{
    const QString yearName = file.left(4);
    FolderHandle top = openArchive(root);
    FolderHandle year(top, QFile::encodeName(yearName));
    if (year.state() != FolderHandle::State::Open) {
        *error = folderProblem(yearName, year);
        return false;
    }
    std::optional<ChainEnd> end = endOf(year);
    const bool torn = end && end->torn;
    const bool yearBegins = end && end->line.isEmpty();
    if (yearBegins)
        end = endBefore(top, root, yearName);
    if (!end) {
        *error = QStringLiteral("Das Archivverzeichnis „%1/%2“ ließ sich nicht lesen.")
                     .arg(yearName, QLatin1String(IndexFileName));
        return false;
    }
    const std::optional<IndexLine> last = parseLine(end->line);
    if (!yearBegins && last && last->file == file.toUtf8()) // its line came before the program ended
        return moveHead(headPath, top, root, hashOf(end->line), last->previousHash, error);
    IndexLine line = describeCopy(file, message);
    line.fileHash = hashOf(message);
    line.previousHash = end->line.isEmpty() ? chainStart() : hashOf(end->line);
    const QByteArray bytes = composeLine(line);
    if (!year.append(IndexFileName, (torn ? "\n" : "") + bytes + '\n', error))
        return false;
    return moveHead(headPath, top, root, hashOf(bytes), line.previousHash, error);
}

int indexMissedCopies(const QString& root, const QString& headPath, QString* error)
{
    FolderHandle top = openArchive(root);
    const QStringList years = archiveYears(root);
    // The year the chain ends in, and when its last line was written.
    qsizetype from = -1;
    qint64 lastLineNs = 0;
    for (qsizetype i = years.size() - 1; i >= 0 && from < 0; --i) {
        FolderHandle year(top, QFile::encodeName(years[i]));
        const QList<FolderHandle::Entry> index =
            year.list([](const QByteArray& name) { return name == IndexFileName; });
        if (!index.isEmpty() && index.first().size > 0) {
            from = i;
            lastLineNs = index.first().mtimeNs;
        }
    }
    if (from < 0)
        return 0;
    constexpr qint64 ClockSlackNs = 1000000000; // time stamps of a coarse file system
    FolderHandle endYear(top, QFile::encodeName(years[from]));
    const std::optional<ChainEnd> end = endOf(endYear);
    const std::optional<IndexLine> last = end ? parseLine(end->line) : std::nullopt;
    const QString lastFile = last ? QString::fromUtf8(last->file) : QString();
    struct Missed
    {
        qint64 mtimeNs;
        QString file;
        QByteArray month, name;
    };
    // A copy is named by the time it was sent, so none after the last line lies in an earlier month.
    QList<Missed> missed;
    for (const QString& yearName : years.mid(from)) {
        FolderHandle year(top, QFile::encodeName(yearName));
        for (const QString& month : archiveMonths(root + QLatin1Char('/') + yearName)) {
            if (yearName == years[from] && lastFile.startsWith(yearName) && month < lastFile.mid(5, 2))
                continue;
            FolderHandle folder(year, QFile::encodeName(month));
            for (const FolderHandle::Entry& entry : folder.list()) {
                const QString name = QFile::decodeName(entry.name);
                const QString file = yearName + QLatin1Char('/') + month + QLatin1Char('/') + name;
                if (entry.regular && QFile::encodeName(name) == entry.name && isWaitingCopyName(name) &&
                    entry.mtimeNs >= lastLineNs - ClockSlackNs && file != lastFile)
                    missed.append({entry.mtimeNs, file, QFile::encodeName(month), entry.name});
            }
        }
    }
    // Only then the whole index of a year that has candidates: the usual start finds none.
    QHash<QString, QSet<QByteArray>> lined;
    for (const Missed& copy : std::as_const(missed)) {
        const QString yearName = copy.file.left(4);
        if (lined.contains(yearName))
            continue;
        QSet<QByteArray>& names = lined[yearName];
        FolderHandle year(top, QFile::encodeName(yearName));
        readIndexLines(year, [&names](const QByteArray& line, bool) {
            if (const std::optional<IndexLine> parsed = parseLine(line))
                names.insert(parsed->file);
        });
    }
    missed.removeIf([&lined](const Missed& copy) { return lined[copy.file.left(4)].contains(copy.file.toUtf8()); });
    std::sort(missed.begin(), missed.end(), [](const Missed& a, const Missed& b) {
        return std::tie(a.mtimeNs, a.file) < std::tie(b.mtimeNs, b.file);
    });
    int done = 0;
    for (const Missed& copy : std::as_const(missed)) {
        FolderHandle year(top, QFile::encodeName(copy.file.left(4)));
        FolderHandle month(year, copy.month);
        QByteArray message;
        if (month.read(copy.name, MaxArchiveCopyBytes, message) != FileRead::Read) {
            *error = QStringLiteral("„%1“ ließ sich nicht lesen.").arg(copy.file);
            break;
        }
        if (!indexCopy(root, copy.file, message, headPath, error))
            break;
        ++done;
    }
    return done;
}

} // namespace kadmel
