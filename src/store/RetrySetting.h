#pragma once

#include <QString>

namespace kadmel {

// "AutomatischWiederholen" in the section [Zustellung] of "kadmel.ini": whether failed mails whose failure
// may pass by itself are sent again without anyone asking. On only for the value "true" in any letter
// case; anything else, a missing or an unreadable file is off.
bool loadRetrySetting(const QString& programFolder);

// Replaces [Zustellung]; the other sections stay. On failure the file is unchanged and the reason German.
bool saveRetrySetting(const QString& programFolder, bool on, QString* error = nullptr);

} // namespace kadmel
