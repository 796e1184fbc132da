#include "store/FolderSetting.h"

#include <QFileInfo>
#include <QTemporaryFile>

namespace kadmel {

QString folderSettingProblem(const QString& caption, const QString& folder)
{
    if (folder.isEmpty())
        return {};
    const QString named = QStringLiteral("%1 „%2“ ").arg(caption, folder);
    // The producer and the program look in one place: a relative name would follow wherever it was started.
    const QFileInfo info(folder);
    if (!info.isAbsolute())
        return named + QStringLiteral("ist kein vollständiger Pfad.");
    if (!info.exists())
        return named + QStringLiteral("ist nicht vorhanden.");
    if (!info.isDir())
        return named + QStringLiteral("ist kein Ordner.");
    // Permission bits do not tell (a read-only mount, an immutable folder, root): a file written there does.
    QTemporaryFile probe(folder + QStringLiteral("/.kadmel-probe-XXXXXX"));
    if (!probe.open())
        return named + QStringLiteral("ist nicht beschreibbar.");
    return {};
}

} // namespace kadmel
