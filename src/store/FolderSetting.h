#pragma once

#include <QByteArray>
#include <QString>

namespace kadmel {

// A folder the user names in the settings (the archive, the receipts), as kadmel.ini keeps it: the file
// system's bytes, blanks around them taken off. Empty: none is named, the feature is off.
class FolderSetting
{
public:
    FolderSetting() = default;
    // As stored under "Ordner".
    explicit FolderSetting(const QByteArray& bytes) : m_bytes(bytes.trimmed()) {}
    // As the user typed or picked it.
    static FolderSetting typed(const QString& text);

    bool isEmpty() const { return m_bytes.isEmpty(); }
    const QByteArray& bytes() const { return m_bytes; }
    QString path() const;

    // The one rule for such a folder: a full path to a folder that exists and that the program can write in.
    // Empty when the folder serves, or when none is named; else the German reason, which `caption` begins
    // (e.g. "Der Archivordner").
    QString problem(const QString& caption) const;

    friend bool operator==(const FolderSetting&, const FolderSetting&) = default;

private:
    QByteArray m_bytes;
};

} // namespace kadmel
