#include "store/ArchiveCheck.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace kadmel {
namespace {

QString shown(const QByteArray& file)
{
    return QStringLiteral("„%1“").arg(QString::fromUtf8(file));
}

struct YearCheck
{
    ArchiveCheck& result;
    QByteArray& previous; // the hash the next line must name
    QHash<QByteArray, QByteArray> lined;

    void readIndex(FolderHandle& year, const QString& name)
    {
        qint64 number = 0;
        const QString index = name + QLatin1Char('/') + QLatin1String(IndexFileName);
        const IndexRead read = readIndexLines(year, [&](const QByteArray& bytes, bool complete) {
            ++number;
            ++result.lines;
            const QString where = QStringLiteral("%1, Zeile %2: ").arg(index).arg(number);
            const std::optional<IndexLine> line = complete ? parseLine(bytes) : std::nullopt;
            if (!line) {
                result.findings << where + QStringLiteral("nicht lesbar (abgeschnitten oder verändert).");
            } else {
                if (line->previousHash != previous)
                    result.findings << where + QStringLiteral("Die Kette ist unterbrochen: Eine Zeile davor fehlt "
                                                              "oder wurde verändert.");
                if (!line->file.startsWith(name.toUtf8() + '/'))
                    result.findings
                        << where + QStringLiteral("nennt %1 außerhalb des Jahresordners.").arg(shown(line->file));
                const auto known = lined.constFind(line->file);
                if (known != lined.cend() && *known != line->fileHash)
                    result.findings << where + QStringLiteral("nennt %1 ein zweites Mal mit anderem Inhalt.")
                                                   .arg(shown(line->file));
                lined.insert(line->file, line->fileHash);
            }
            previous = hashOf(bytes);
        });
        if (read == IndexRead::Unreadable)
            result.findings << QStringLiteral("Das Verzeichnis „%1“ ließ sich nicht lesen.").arg(index);
    }

    void checkFile(FolderHandle& folder, const FolderHandle::Entry& entry, const QByteArray& file)
    {
        ++result.files;
        const auto line = lined.constFind(file);
        if (line == lined.cend()) {
            result.findings << QStringLiteral("Hinzugefügt: %1 steht nicht im Verzeichnis.").arg(shown(file));
            return;
        }
        QFile copy;
        FileRead why;
        const QByteArray hash = entry.regular && folder.open(entry.name, copy, why) ? hashOf(copy) : QByteArray();
        if (hash.isEmpty())
            result.findings << QStringLiteral("Unlesbar: %1 ist keine lesbare Datei.").arg(shown(file));
        else if (hash != *line)
            result.findings
                << QStringLiteral("Verändert: %1 stimmt nicht mit seinem Fingerabdruck überein.").arg(shown(file));
        lined.remove(file);
    }

    void checkFolder(FolderHandle& folder, const QByteArray& prefix, bool yearFolder)
    {
        for (const FolderHandle::Entry& entry : folder.list()) {
            // The program's own temporary names are no copies; nothing can stand in them once renamed.
            if (entry.name.startsWith(".kadmel.") || (yearFolder && entry.name == IndexFileName))
                continue;
            checkFile(folder, entry, prefix + entry.name);
        }
        if (folder.state() != FolderHandle::State::Open)
            result.findings << QStringLiteral("Der Ordner %1 ließ sich nicht lesen.").arg(shown(prefix));
    }
};

QString folderFinding(const QString& name, const FolderHandle& folder)
{
    return folder.state() == FolderHandle::State::Link
               ? QStringLiteral("Der Ordner „%1“ ist eine Verknüpfung und wird nicht geprüft.").arg(name)
               : QStringLiteral("Der Ordner „%1“ ließ sich nicht öffnen: %2").arg(name, systemReason(folder.error()));
}

} // namespace

QString ArchiveCheck::summary() const
{
    const QString counted = QStringLiteral("%1 Zeile(n) im Verzeichnis, %2 Datei(en) geprüft").arg(lines).arg(files);
    return findings.isEmpty() ? counted + QStringLiteral(": Das Archiv ist unverändert.")
                              : counted + QStringLiteral(": %1 Abweichung(en).").arg(findings.size());
}

ArchiveCheck checkArchive(const QString& root, const std::optional<ChainHead>& head)
{
    ArchiveCheck result;
    FolderHandle top = openArchive(root);
    if (top.state() != FolderHandle::State::Open) {
        result.findings
            << QStringLiteral("Der Archivordner „%1“ ließ sich nicht öffnen: %2").arg(root, systemReason(top.error()));
        return result;
    }
    QByteArray previous = chainStart();
    for (const QString& name : archiveYears(root)) {
        FolderHandle year(top, QFile::encodeName(name));
        if (year.state() != FolderHandle::State::Open) {
            result.findings << folderFinding(name, year);
            continue;
        }
        YearCheck check{result, previous, {}};
        check.readIndex(year, name);
        check.checkFolder(year, QFile::encodeName(name) + '/', true);
        for (const QString& monthName : archiveMonths(root + QLatin1Char('/') + name)) {
            FolderHandle month(year, QFile::encodeName(monthName));
            if (month.state() != FolderHandle::State::Open)
                result.findings << folderFinding(name + QLatin1Char('/') + monthName, month);
            else
                check.checkFolder(month, QFile::encodeName(name + QLatin1Char('/') + monthName) + '/', false);
        }
        QByteArrayList missing = check.lined.keys();
        std::sort(missing.begin(), missing.end());
        for (const QByteArray& file : std::as_const(missing))
            result.findings
                << QStringLiteral("Fehlt: %1 steht im Verzeichnis, die Datei ist nicht da.").arg(shown(file));
    }
    if (head && head->archive == canonicalArchive(root)) {
        if (head->lines != result.lines || head->lastHash != previous)
            result.findings << QStringLiteral("Das Verzeichnis endet nicht, wo ZUB es zuletzt verließ (%1 Zeile(n), "
                                              "jetzt %2): Es wurde umgeschrieben oder gekürzt.")
                                   .arg(head->lines)
                                   .arg(result.lines);
        if (!head->rewritten.isEmpty())
            result.findings << QStringLiteral(
                                   "Das Verzeichnis wurde vor einer späteren Archivierung umgeschrieben: Nach "
                                   "%1 Zeile(n) endete es nicht, wo ZUB es verlassen hatte.")
                                   .arg(QString::fromLatin1(head->rewritten.left(head->rewritten.indexOf(' '))));
    }
    return result;
}

} // namespace kadmel
