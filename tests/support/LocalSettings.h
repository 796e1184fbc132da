#pragma once

#include "store/Ansi.h"
#include "store/Settings.h"

namespace kadmel::test {

// Settings that send through a server on 127.0.0.1 without authentication, jobs below watchFolder.
inline Settings localSettings(const QString& watchFolder, quint16 port)
{
    Settings settings;
    settings.WatchFolder = toAnsi(watchFolder);
    settings.SmtpServer = "127.0.0.1";
    settings.SmtpPort = static_cast<qint16>(port);
    settings.SmtpUser = "user";
    settings.SmtpPassword = "secret";
    settings.UseSpa = 1;
    settings.AutoStart = 2;
    return settings;
}

} // namespace kadmel::test
