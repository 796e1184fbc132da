#include "store/StorePaths.h"

namespace kadmel {

QString settingsFilePathIn(const QString& programFolder)
{
    return programFolder + QStringLiteral("/ZUBData1(3.0).zub");
}

QString indexFilePathIn(const QString& programFolder)
{
    return programFolder + QStringLiteral("/ZUBData2(3.0).zub");
}

QString mailsFolderIn(const QString& programFolder)
{
    return programFolder + QStringLiteral("/Mails");
}

QString mailFilePathIn(const QString& programFolder, qint16 id)
{
    return programFolder + QStringLiteral("/Mails/Mail(%1).zub").arg(id);
}

} // namespace kadmel
