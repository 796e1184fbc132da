#include "store/IniFile.h"

#include "store/FileAccess.h"

#include <QFileInfo>

#include <algorithm>

namespace kadmel {
namespace {

// The name of a section header line, or nothing for any other line.
std::optional<QByteArray> sectionName(const QByteArray& line)
{
    const QByteArray trimmed = line.trimmed();
    if (!trimmed.startsWith('[') || !trimmed.endsWith(']'))
        return std::nullopt;
    return trimmed.mid(1, trimmed.size() - 2).trimmed();
}

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
QByteArrayList lines(const QByteArray& bytes)
{
    return (bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes).split('\n');
}

bool isComment(const QByteArray& line)
{
    return line.startsWith(';') || line.startsWith('#');
}

} // namespace

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
    QByteArray bytes;
    switch (readWholeFile(path, maxBytes, bytes, error)) {
    case ReadOutcome::Missing:
        return IniSection{};
    case ReadOutcome::Failed:
        return std::nullopt;
    case ReadOutcome::Read:
        break;
    }
    IniSection section;
    bool inSection = name.isEmpty();
    for (const QByteArray& raw : lines(bytes)) {
        const QByteArray line = raw.trimmed();
        if (const std::optional<QByteArray> header = sectionName(line)) {
            inSection = sameName(*header, name) && !name.isEmpty();
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inSection || equals <= 0 || isComment(line))
            continue;
        section.entries.append({line.left(equals).trimmed(), unquoted(line.mid(equals + 1).trimmed())});
    }
    return section;
}

bool writeIniSection(const QString& path, const QByteArray& name, const IniEntries& entries, QString* error,
                     qint64 maxBytes, const QByteArrayList& dropFromHead)
{
    // A link in the file's place is replaced, and what it points to is neither read nor kept.
    QByteArray old;
    if (!QFileInfo(path).isSymLink() && readWholeFile(path, maxBytes, old, error) == ReadOutcome::Failed)
        return false;

    QByteArrayList kept;
    bool inSection = false;
    bool inHead = true;
    for (const QByteArray& line : lines(old)) {
        if (const std::optional<QByteArray> header = sectionName(line)) {
            inSection = sameName(*header, name);
            inHead = false;
        }
        const QByteArray key = line.left(line.indexOf('=')).trimmed();
        const bool dropped = inHead && line.contains('=') &&
                             std::any_of(dropFromHead.cbegin(), dropFromHead.cend(),
                                         [&key](const QByteArray& k) { return sameName(k, key); });
        if (!inSection && !dropped)
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
