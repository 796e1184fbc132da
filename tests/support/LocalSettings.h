#pragma once

#include "store/Ansi.h"
#include "store/KadmelIni.h"
#include "store/Settings.h"

namespace kadmel::test {

// Settings that send through a server on 127.0.0.1 without authentication (user and password stored but the box
// unticked), autostart on, jobs below watchFolder.
inline Settings localSettings(const QString& watchFolder, quint16 port)
{
    return Settings{toAnsi(watchFolder), "127.0.0.1", static_cast<qint16>(port), "user", "secret", 1, 2};
}

// Writes these parts of the program folder's "kadmel.ini" as the settings dialog saves them; the rest stays.
inline bool saveIni(const QString& programFolder, const KadmelIniChanges& changes)
{
    QString error;
    return KadmelIniFile(programFolder).write(changes, &error);
}

// The program folder's "kadmel.ini" as a start reads it.
inline KadmelIni loadIni(const QString& programFolder)
{
    return KadmelIniFile(programFolder).read();
}

} // namespace kadmel::test
