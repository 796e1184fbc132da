#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

namespace kadmel {

// "kadmel.ini" holds the settings that the fixed layout of the settings file has no room for. Each part of
// the program keeps one section of it and leaves every other line as it stands.
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

// "kadmel.ini" in the program folder.
QString iniFilePathIn(const QString& programFolder);

// The lines of the file, a UTF-8 byte order mark skipped; CR LF, LF and a lone CR each end a line. A missing
// file has none. Nothing, with a German reason, when the file is no regular file, cannot be read or is larger
// than maxBytes.
std::optional<QByteArrayList> readIniLines(const QString& path, QString* error = nullptr,
                                           qint64 maxBytes = MaxIniFileBytes);
// The name of a section header line ("[name]", blanks around it taken off), nothing for any other line.
std::optional<QByteArray> iniSectionName(const QByteArray& line);
// A line starting with ";" or "#".
bool isIniComment(const QByteArray& line);
// Key and value of a "key=value" line as readIniSection() takes them; nothing for any other line.
std::optional<std::pair<QByteArray, QByteArray>> iniEntry(const QByteArray& line);

// The section `name` (without brackets; the empty name is the part before the first section). A missing
// file reads as an empty section. Nothing, with a German reason, when the file is no regular file, cannot
// be read or is larger than maxBytes.
std::optional<IniSection> readIniSection(const QString& path, const QByteArray& name, QString* error = nullptr,
                                         qint64 maxBytes = MaxIniFileBytes);

// Replaces the section `name` (every spelling of it) by `entries` at the end of the file and keeps all other
// lines in their order, but for those `dropLine` names, which would contradict the new values. The file is replaced
// atomically and stays readable by its owner only; on failure it is unchanged and the reason is German.
bool writeIniSection(const QString& path, const QByteArray& name, const IniEntries& entries, QString* error = nullptr,
                     qint64 maxBytes = MaxIniFileBytes, const std::function<bool(const QByteArray&)>& dropLine = {});

} // namespace kadmel
