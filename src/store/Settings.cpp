#include "store/Settings.h"

#include "store/Ansi.h"

#include <QDir>

namespace kadmel {

bool blankAfterTrim(const QByteArray& text)
{
    for (const char c : text) {
        if (c != ' ')
            return false;
    }
    return true;
}

QByteArray jobFolderOf(const QByteArray& watchFolder)
{
    return watchFolder + QByteArrayLiteral("/KDMEML/");
}

QByteArray defaultWatchFolder()
{
    return toAnsi(QDir::homePath() + QStringLiteral("/KADMEL"));
}

QString missingStartField(const Settings& settings, const AuthSetting& auth)
{
    // In the dialog's order, under its labels' names.
    if (blankAfterTrim(settings.SmtpServer))
        return QStringLiteral("SMTP Server");
    // Without a sign-in the server is asked for neither a user nor a password.
    if (!auth.usesOAuth() && !authRequested(settings))
        return {};
    if (blankAfterTrim(settings.SmtpUser))
        return QStringLiteral("Benutzername");
    if (!auth.usesOAuth())
        return blankAfterTrim(settings.SmtpPassword) ? QStringLiteral("Passwort") : QString();
    if (auth.tokenUrl.trimmed().isEmpty())
        return QStringLiteral("Token-Adresse");
    if (auth.clientId.trimmed().isEmpty())
        return QStringLiteral("Client-ID");
    if (auth.method == AuthMethod::OAuth2Dienst)
        return auth.hasClientSecret() ? QString() : QStringLiteral("Client-Geheimnis");
    if (auth.hasRefreshToken())
        return {};
    return auth.method == AuthMethod::OAuth2Device ? QStringLiteral("Anmeldung mit Code")
                                                   : QStringLiteral("Anmeldung im Browser");
}

bool oauthSettingsComplete(const Settings& settings, const AuthSetting& auth)
{
    return auth.usesOAuth() && missingStartField(settings, auth).isEmpty();
}

StartCheck checkStartSettings(const Settings& settings, const AuthSetting& auth)
{
    if (!missingStartField(settings, auth).isEmpty())
        return StartCheck::IncompleteSmtp;
    if (settings.WatchFolder.size() < 3)
        return StartCheck::NoWatchFolder;
    return StartCheck::Ok;
}

} // namespace kadmel
