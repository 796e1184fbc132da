#pragma once

#include "store/StorePaths.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

namespace kadmel {

// "kadmel.ini" holds the settings that the fixed layout of the settings file has no room for. Its text
// layer: lines, sections, entries, and the edit that changes some keys and keeps every other byte.
inline constexpr qint64 MaxIniFileBytes = 1 << 20;

using IniEntries = QList<std::pair<QByteArray, QByteArray>>;

// One section as read: keys and values without blanks around them, a value's surrounding double quotes
// taken off. Section and key names are compared in any letter case, as people edit the file by hand.
struct IniSection
{
    IniEntries entries;

    // Every value of the key, in file order; a hand-edited file may name a key twice.
    QByteArrayList values(const QByteArray& key) const;
    // The last value of the key.
    std::optional<QByteArray> value(const QByteArray& key) const;
};

// The lines of the text, a UTF-8 byte order mark skipped; CR LF, LF and a lone CR each end a line.
QByteArrayList iniLines(const QByteArray& bytes);
// The name of a section header line ("[name]", blanks around it taken off), nothing for any other line.
std::optional<QByteArray> iniSectionName(const QByteArray& line);
// A line starting with ";" or "#".
bool isIniComment(const QByteArray& line);
// Key and value of a "key=value" line as sections take them; nothing for any other line.
std::optional<std::pair<QByteArray, QByteArray>> iniEntry(const QByteArray& line);
// The section `name` of the lines (the empty name is the part before the first section).
IniSection iniSection(const QByteArrayList& lines, const QByteArray& name);

// One key the program owns: set to `value`, or taken out when it has none.
struct IniChange
{
    QByteArray section;
    QByteArray key;
    std::optional<QByteArray> value;
    bool alsoBeforeSections = false; // the key counts before the first section too
};

// The text with the changes made and everything else (other keys and sections, comments, order, the byte
// order mark, each line's end) as it stands. A key is set in its first place, later copies go; a key not
// there yet ends its section (the last block of it), a section not there yet ends the file, in the file's
// own line end. Lines that `dropLine` names go too (a comment never does); lines that `keepLine` names stay
// as they are, whatever key they hold. Nothing, with a German reason, when a key or value holds a line break
// or the text would be larger than MaxIniFileBytes.
using IniLineTest = std::function<bool(const QByteArray&)>;
std::optional<QByteArray> editIniText(const QByteArray& text, const QList<IniChange>& changes, QString* error,
                                      const IniLineTest& dropLine = {}, const IniLineTest& keepLine = {});

} // namespace kadmel
