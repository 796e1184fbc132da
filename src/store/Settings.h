#pragma once

#include <QByteArray>

namespace kadmel {

// The settings record; texts are Windows-1252 bytes. Zero means "never set" for the three integers.
struct Settings
{
    QByteArray WatchFolder;
    QByteArray SmtpServer;
    qint16 SmtpPort = 0;
    QByteArray SmtpUser;
    QByteArray SmtpPassword;
    qint16 UseSpa = 0;    // 1 off, 2 on; 0 (never set) sends with authentication
    qint16 AutoStart = 0; // 1 off, 2 on

    friend bool operator==(const Settings&, const Settings&) = default;
};

// WatchFolder followed by "/KDMEML/".
QByteArray jobFolderOf(const QByteArray& watchFolder);

// The user's home folder followed by "/KADMEL", absolute; used when WatchFolder is empty.
QByteArray defaultWatchFolder();

// Authentication is used unless the box was explicitly unticked.
inline bool authRequested(const Settings& s) { return s.UseSpa != 1; }

enum class StartCheck {
    Ok,
    IncompleteSmtp, // "Überprüfen Sie Ihre Einstellungen !..." then the settings dialog
    NoWatchFolder,  // "KADMEL-Ordner nicht gewählt."
    UnusableEncryption, // "kadmel.ini" no regular file, unreadable, or naming no known encryption
};

// Empty or spaces only. A tab or line break is a character the user typed, not a blank.
bool blankAfterTrim(const QByteArray& text);

// The check that runs before the service starts.
StartCheck checkStartSettings(const Settings& settings);

} // namespace kadmel
