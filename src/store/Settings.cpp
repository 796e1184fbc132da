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

} // namespace kadmel
