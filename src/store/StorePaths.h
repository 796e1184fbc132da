#pragma once

#include <QString>

namespace kadmel {

// The names of the store files below a program folder (paths with "/").
QString settingsFilePathIn(const QString& programFolder);
QString indexFilePathIn(const QString& programFolder);
QString mailsFolderIn(const QString& programFolder);
QString mailFilePathIn(const QString& programFolder, qint16 id);

} // namespace kadmel
