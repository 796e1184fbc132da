#pragma once

#include "store/AuthSetting.h"

#include <QByteArray>
#include <QString>

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
inline bool authRequested(const Settings& s)
{
    return s.UseSpa != 1;
}

enum class StartCheck
{
    Ok,
    IncompleteSmtp,       // "Überprüfen Sie Ihre Einstellungen !..." with the missing field, then the dialog
    NoWatchFolder,        // "KADMEL-Ordner nicht gewählt."
    UnusableEncryption,   // "kadmel.ini" no regular file, unreadable, or naming no known encryption
    UnusableSignIn,       // "kadmel.ini" names an unknown sign-in method
    OAuthNeedsEncryption, // "OAuth 2.0 erfordert eine verschlüsselte Verbindung."
};

// Empty or spaces only. A tab or line break is a character the user typed, not a blank.
bool blankAfterTrim(const QByteArray& text);

// The field the start check finds missing, as the settings dialog labels it ("SMTP Server", "Benutzername",
// "Passwort", "Token-Adresse", …), empty when none is: a password sign-in needs user and password, none
// neither of them, OAuth 2.0 user, token address, client ID and the secret (service account) or the refresh
// token (a person's sign-in).
QString missingStartField(const Settings& settings, const AuthSetting& auth);

// The check that runs before the service starts: a missing field, then the watched folder.
StartCheck checkStartSettings(const Settings& settings, const AuthSetting& auth);

// Whether the fields an OAuth 2.0 sign-in needs are there (server and user included).
bool oauthSettingsComplete(const Settings& settings, const AuthSetting& auth);

} // namespace kadmel
