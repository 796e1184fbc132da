#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace kadmel {

// Picks the next job file of the job folder. Names are taken in name order, starting after the one
// picked last, so a job that keeps failing never blocks the ones behind it.
class JobScanner
{
public:
    explicit JobScanner(int minAgeMs = 2000);

    // The bare name of the next job ("*.zub" in any letter case, an ordinary file, last changed at
    // least minAgeMs before `now`), or empty when there is none. A folder that cannot be listed is empty.
    QString nextJob(const QString& jobFolder, const QDateTime& now);

private:
    int m_minAgeMs;
    QString m_lastPicked;
};

// The whole file, at most `maxBytes`; false when it cannot be read or is larger.
bool ReadWholeFile(const QString& path, QByteArray& contents, qint64 maxBytes);

} // namespace kadmel
