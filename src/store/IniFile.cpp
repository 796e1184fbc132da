#include "store/IniFile.h"

namespace kadmel {
namespace {

const QByteArray Bom = "\xEF\xBB\xBF";

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

// A line with the end it had in the file (empty for the last line without one).
struct Line
{
    QByteArray text;
    QByteArray end;
};

QList<Line> splitKeepingEnds(const QByteArray& text)
{
    QList<Line> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r')
            continue;
        const qsizetype endSize = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
        lines.append({text.mid(start, i - start), text.mid(i, endSize)});
        i += endSize - 1;
        start = i + 1;
    }
    if (start < text.size())
        lines.append({text.mid(start), {}});
    return lines;
}

} // namespace

// Editors on Windows put a byte order mark before the first section; reader and writer both look past it.
// CR LF, LF and a lone CR (old Mac editors) each end a line.
QByteArrayList iniLines(const QByteArray& bytes)
{
    QByteArray text = bytes.startsWith(Bom) ? bytes.mid(3) : bytes;
    return text.replace("\r\n", "\n").replace('\r', '\n').split('\n');
}

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

IniSection iniSection(const QByteArrayList& lines, const QByteArray& name)
{
    IniSection section;
    bool inSection = name.isEmpty();
    for (const QByteArray& line : lines) {
        if (const std::optional<QByteArray> header = iniSectionName(line)) {
            inSection = sameName(*header, name) && !name.isEmpty();
            continue;
        }
        if (const auto entry = iniEntry(line); entry && inSection)
            section.entries.append(*entry);
    }
    return section;
}

std::optional<QByteArray> editIniText(const QByteArray& text, const QList<IniChange>& changes, QString* error,
                                      const IniLineTest& dropLine, const IniLineTest& keepLine)
{
    const auto refuse = [error](const QString& reason) -> std::optional<QByteArray> {
        if (error)
            *error = QStringLiteral("„kadmel.ini“ ließ sich nicht speichern: ") + reason;
        return std::nullopt;
    };
    for (const IniChange& change : changes) {
        // A line break in a value would start a line of its own, perhaps a key of another section.
        for (const QByteArray& part : {change.key, change.value.value_or(QByteArray())}) {
            if (part.contains('\n') || part.contains('\r'))
                return refuse(QStringLiteral("Ein Wert enthält einen Zeilenumbruch."));
        }
    }
    const bool bom = text.startsWith(Bom);
    QList<Line> lines = splitKeepingEnds(bom ? text.mid(3) : text);
    QByteArray newLine = "\n";
    for (const Line& line : std::as_const(lines)) {
        if (!line.end.isEmpty()) {
            newLine = line.end;
            break;
        }
    }
    // A value in double quotes of its own keeps them only inside another pair, as the reader takes one off.
    const auto entryLine = [](const IniChange& change) {
        const QByteArray& value = *change.value;
        const bool quoted = value.size() >= 2 && value.startsWith('"') && value.endsWith('"');
        return change.key + '=' + (quoted ? '"' + value + '"' : value);
    };

    // Owned keys in their place; copies and contradicting lines out.
    QList<bool> placed(changes.size(), false);
    QList<Line> kept;
    QByteArray section;
    bool beforeSections = true;
    for (const Line& line : std::as_const(lines)) {
        if (const std::optional<QByteArray> header = iniSectionName(line.text)) {
            section = *header;
            beforeSections = false;
            kept.append(line);
            continue;
        }
        bool owned = false;
        if (keepLine && keepLine(line.text)) {
            kept.append(line);
            continue;
        }
        if (const auto entry = iniEntry(line.text)) {
            for (qsizetype i = 0; i < changes.size(); ++i) {
                const IniChange& change = changes[i];
                const bool here = beforeSections ? change.alsoBeforeSections : sameName(section, change.section);
                if (!here || !sameName(entry->first, change.key))
                    continue;
                owned = true;
                if (change.value && !placed[i])
                    kept.append({entryLine(change), line.end});
                placed[i] = true;
                break;
            }
        }
        if (!owned && !(dropLine && !isIniComment(line.text) && dropLine(line.text)))
            kept.append(line);
    }

    // Keys not there yet: at the end of the last block of their section, or a new section at the end.
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const IniChange& change = changes[i];
        if (placed[i] || !change.value)
            continue;
        qsizetype at = -1;
        bool inSection = false;
        for (qsizetype n = 0; n < kept.size(); ++n) {
            if (const std::optional<QByteArray> header = iniSectionName(kept[n].text))
                inSection = sameName(*header, change.section);
            if (inSection && (!kept[n].text.trimmed().isEmpty() || iniSectionName(kept[n].text)))
                at = n + 1;
        }
        if (at < 0) {
            if (!kept.isEmpty() && kept.last().end.isEmpty())
                kept.last().end = newLine;
            if (!kept.isEmpty() && !kept.last().text.trimmed().isEmpty())
                kept.append({{}, newLine});
            kept.append({'[' + change.section + ']', newLine});
            at = kept.size();
        }
        if (at > 0 && kept[at - 1].end.isEmpty())
            kept[at - 1].end = newLine;
        kept.insert(at, {entryLine(change), newLine});
        // The other new keys of this section follow in their order.
        for (qsizetype j = i + 1; j < changes.size(); ++j) {
            if (!placed[j] && changes[j].value && sameName(changes[j].section, change.section)) {
                kept.insert(++at, {entryLine(changes[j]), newLine});
                placed[j] = true;
            }
        }
        placed[i] = true;
    }

    QByteArray result = bom ? Bom : QByteArray();
    for (const Line& line : std::as_const(kept))
        result += line.text + line.end;
    if (result.size() > MaxIniFileBytes)
        return refuse(QStringLiteral("Die Datei würde zu groß."));
    return result;
}

} // namespace kadmel
