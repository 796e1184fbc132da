#pragma once

#include "store/IniFile.h"

#include <QString>

namespace kadmel {

// "AutomatischWiederholen" in the section [Zustellung] of "kadmel.ini": whether failed mails whose failure
// may pass by itself are sent again without anyone asking. On only for the value "true" in any letter case.
bool readRetrySetting(const IniSection& section);
IniChange retryIniChange(bool on);

// The choice in the program folder's "kadmel.ini" (off when the file cannot be read) and its save there,
// through KadmelIniFile; the other keys stay. On failure the file is unchanged and the reason German.
bool loadRetrySetting(const QString& programFolder);
bool saveRetrySetting(const QString& programFolder, bool on, QString* error = nullptr);

} // namespace kadmel
