#pragma once

#include <QString>

namespace kadmel {

// The one rule for a folder the user names in the settings (the archive, the receipts): a full path to a
// folder that exists and that the program can write in. `caption` begins the reason, e.g. "Der Archivordner".
// Empty when the folder serves, or when none is named (the feature is off); else the German reason.
QString folderSettingProblem(const QString& caption, const QString& folder);

} // namespace kadmel
