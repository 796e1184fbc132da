#include "engine/ProgramFolder.h"

#include <QDir>
#include <QTemporaryFile>

namespace kadmel {
namespace {

bool isSystemFolder(const QString& folder)
{
    const QString path = QDir::cleanPath(folder) + QLatin1Char('/');
    for (const char* prefix : {"/usr/", "/opt/", "/bin/", "/sbin/", "/lib/", "/snap/"}) {
        if (path.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

bool canWriteIn(const QString& folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.kadmel-probe-XXXXXX"));
    return probe.open();
}

} // namespace

QString chooseProgramFolder(const QString& executableFolder, const QString& perUserFolder)
{
    if (!isSystemFolder(executableFolder) && canWriteIn(executableFolder))
        return executableFolder;
    QDir().mkpath(perUserFolder);
    return perUserFolder;
}

} // namespace kadmel
