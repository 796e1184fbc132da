#pragma once

#include "store/IniFile.h"

#include <QString>

namespace kadmel {

// "AutomatischWiederholen" in the section [Zustellung] of "kadmel.ini": whether failed mails whose failure
// may pass by itself are sent again without anyone asking. On only for the value "true" in any letter case.
bool readRetrySetting(const IniSection& section);
IniChange retryIniChange(bool on);

} // namespace kadmel
