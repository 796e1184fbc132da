#include "engine/JobScanner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kadmel {

JobScanner::JobScanner(int minAgeMs) : m_minAgeMs(minAgeMs) {}

QString JobScanner::nextJob(const QString& jobFolder, const QDateTime& now)
{
    const QDir dir(jobFolder);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    QString first;
    QString afterLast;
    for (const QFileInfo& entry : entries) {
        if (entry.suffix().compare(QStringLiteral("zub"), Qt::CaseInsensitive) != 0 || !entry.isFile())
            continue;
        if (entry.lastModified().msecsTo(now) < m_minAgeMs)
            continue; // possibly still being written
        const QString name = entry.fileName();
        if (first.isEmpty())
            first = name;
        if (afterLast.isEmpty() && name > m_lastPicked) {
            afterLast = name;
            break;
        }
    }
    const QString picked = afterLast.isEmpty() ? first : afterLast;
    if (!picked.isEmpty())
        m_lastPicked = picked;
    return picked;
}

bool ReadWholeFile(const QString& path, QByteArray& contents, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxBytes)
        return false;
    contents = file.read(maxBytes + 1);
    return contents.size() <= maxBytes && file.error() == QFileDevice::NoError;
}

} // namespace kadmel
