#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

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

// The section `name` (without brackets; the empty name is the part before the first section). A missing
// file reads as an empty section. Nothing, with a German reason, when the file is no regular file, cannot
// be read or is larger than maxBytes.
std::optional<IniSection> readIniSection(const QString& path, const QByteArray& name, QString* error = nullptr,
                                         qint64 maxBytes = MaxIniFileBytes);

// Replaces the section `name` (every spelling of it) by `entries` at the end of the file and keeps all other
// lines in their order, but for the keys `dropFromHead` before the first section, which would contradict
// the new values. The file is replaced atomically and stays readable by its owner only; on failure it is
// unchanged and the reason is German.
bool writeIniSection(const QString& path, const QByteArray& name, const IniEntries& entries, QString* error = nullptr,
                     qint64 maxBytes = MaxIniFileBytes, const QByteArrayList& dropFromHead = {});

} // namespace kadmel
