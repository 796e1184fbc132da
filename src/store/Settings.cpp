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

StartCheck checkStartSettings(const Settings& settings)
{
    if (blankAfterTrim(settings.SmtpUser) || blankAfterTrim(settings.SmtpPassword) ||
        blankAfterTrim(settings.SmtpServer))
        return StartCheck::IncompleteSmtp;
    if (settings.WatchFolder.size() < 3)
        return StartCheck::NoWatchFolder;
    return StartCheck::Ok;
}

bool oauthSettingsComplete(const Settings& settings, const AuthSetting& auth)
{
    if (blankAfterTrim(settings.SmtpServer) || blankAfterTrim(settings.SmtpUser) || auth.tokenUrl.trimmed().isEmpty() ||
        auth.clientId.trimmed().isEmpty())
        return false;
    if (auth.method == AuthMethod::OAuth2Dienst)
        return auth.hasClientSecret();
    return auth.hasRefreshToken();
}

StartCheck checkStartSettings(const Settings& settings, const AuthSetting& auth)
{
    if (!auth.usesOAuth())
        return checkStartSettings(settings);
    if (!oauthSettingsComplete(settings, auth))
        return StartCheck::IncompleteSmtp;
    if (settings.WatchFolder.size() < 3)
        return StartCheck::NoWatchFolder;
    return StartCheck::Ok;
}

} // namespace kadmel
