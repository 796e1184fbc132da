#pragma once

#include <QString>

namespace kadmel {

// The XDG autostart entry that starts the program with the user's session,
// <config home>/autostart/com.example.Kadmel.desktop. The entry's existence is the setting itself.
class AutostartEntry
{
public:
    // executable: the program the session is to start.
    explicit AutostartEntry(QString executable);

    static QString filePath();
    bool exists() const;
    // Writes the entry (on) or removes it (off). On failure the reason is German, for the user.
    bool set(bool on, QString* error = nullptr) const;

private:
    QString m_executable;
};

} // namespace kadmel
