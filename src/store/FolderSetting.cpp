#include "store/FolderSetting.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace kadmel {

FolderSetting FolderSetting::typed(const QString& text)
{
    return FolderSetting(QFile::encodeName(text.trimmed()));
}

QString FolderSetting::path() const
{
    return QFile::decodeName(m_bytes);
}

QString FolderSetting::problem(const QString& caption) const
{
    if (isEmpty())
        return {};
    const QString folder = path();
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
