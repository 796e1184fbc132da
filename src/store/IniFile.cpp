#include "store/IniFile.h"

#include "store/FileAccess.h"

#include <QFileInfo>

namespace kadmel {
namespace {

bool sameName(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray unquoted(QByteArray value)
{
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return value.trimmed();
}

// Editors on Windows put a byte order mark before the first section; reader and writer both look past it.
// CR LF, LF and a lone CR (old Mac editors) each end a line.
QByteArrayList lines(const QByteArray& bytes)
{
    QByteArray text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    return text.replace("\r\n", "\n").replace('\r', '\n').split('\n');
}

} // namespace

std::optional<QByteArray> iniSectionName(const QByteArray& line)
{
    const QByteArray trimmed = line.trimmed();
    if (!trimmed.startsWith('[') || !trimmed.endsWith(']'))
        return std::nullopt;
    return trimmed.mid(1, trimmed.size() - 2).trimmed();
}

bool isIniComment(const QByteArray& line)
{
    const QByteArray trimmed = line.trimmed();
    return trimmed.startsWith(';') || trimmed.startsWith('#');
}

std::optional<std::pair<QByteArray, QByteArray>> iniEntry(const QByteArray& line)
{
    const QByteArray trimmed = line.trimmed();
    const qsizetype equals = trimmed.indexOf('=');
    if (equals <= 0 || isIniComment(trimmed) || iniSectionName(trimmed))
        return std::nullopt;
    return std::pair{trimmed.left(equals).trimmed(), unquoted(trimmed.mid(equals + 1).trimmed())};
}

std::optional<QByteArrayList> readIniLines(const QString& path, QString* error, qint64 maxBytes)
{
    QByteArray bytes;
    switch (readWholeFile(path, maxBytes, bytes, error)) {
    case ReadOutcome::Missing:
        return QByteArrayList();
    case ReadOutcome::Failed:
        return std::nullopt;
    case ReadOutcome::Read:
        break;
    }
    return lines(bytes);
}

QByteArrayList IniSection::values(const QByteArray& key) const
{
    QByteArrayList found;
    for (const auto& [name, value] : entries) {
        if (sameName(name, key))
            found.append(value);
    }
    return found;
}

std::optional<QByteArray> IniSection::value(const QByteArray& key) const
{
    const QByteArrayList found = values(key);
    if (found.isEmpty())
        return std::nullopt;
    return found.last();
}

QString iniFilePathIn(const QString& programFolder)
{
    return programFolder + QStringLiteral("/kadmel.ini");
}

std::optional<IniSection> readIniSection(const QString& path, const QByteArray& name, QString* error, qint64 maxBytes)
{
    const std::optional<QByteArrayList> all = readIniLines(path, error, maxBytes);
    if (!all)
        return std::nullopt;
    IniSection section;
    bool inSection = name.isEmpty();
    for (const QByteArray& line : *all) {
        if (const std::optional<QByteArray> header = iniSectionName(line)) {
            inSection = sameName(*header, name) && !name.isEmpty();
            continue;
        }
        if (const auto entry = iniEntry(line); entry && inSection)
            section.entries.append(*entry);
    }
    return section;
}

bool writeIniSection(const QString& path, const QByteArray& name, const IniEntries& entries, QString* error,
                     qint64 maxBytes, const std::function<bool(const QByteArray&)>& dropLine)
{
    // A link in the file's place is replaced, and what it points to is neither read nor kept.
    QByteArray old;
    if (!QFileInfo(path).isSymLink() && readWholeFile(path, maxBytes, old, error) == ReadOutcome::Failed)
        return false;

    QByteArrayList kept;
    bool inSection = false;
    for (const QByteArray& line : lines(old)) {
        if (const std::optional<QByteArray> header = iniSectionName(line))
            inSection = sameName(*header, name);
        if (!inSection && !(dropLine && dropLine(line)))
            kept.append(line);
    }
    while (!kept.isEmpty() && kept.last().trimmed().isEmpty())
        kept.removeLast();
    QByteArray text = kept.join('\n');
    if (!text.isEmpty())
        text += "\n\n";
    text += '[' + name + "]\n";
    for (const auto& [key, value] : entries) {
        // A line break in a value would start a line of its own, perhaps a key of another section.
        if (key.contains('\n') || key.contains('\r') || value.contains('\n') || value.contains('\r')) {
            if (error)
                *error = QStringLiteral("%1 ließ sich nicht speichern: Ein Wert enthält einen Zeilenumbruch.")
                             .arg(quotedName(path));
            return false;
        }
        text += key + '=' + value + '\n';
    }
    if (text.size() > maxBytes) {
        if (error)
            *error = QStringLiteral("%1 ließ sich nicht speichern: Die Datei würde zu groß.").arg(quotedName(path));
        return false;
    }
    return writeWholeFile(path, text, error);
}

} // namespace kadmel
