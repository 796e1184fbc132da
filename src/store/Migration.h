#pragma once

#include <QString>
#include <QStringList>

namespace kadmel {

// Takes over the store files of data versions 2.3 … 2.9 in the program folder: the settings and index
// files of those versions are copied to the "3.0" names (the 2.9 settings file, of another layout, is
// converted) and the old files deleted; a store file name without a version in parentheses is deleted.
// Returns one German line per file operation that failed; such a slot is left as it was.
QStringList MigrateOldFiles(const QString& programFolder);

} // namespace kadmel
