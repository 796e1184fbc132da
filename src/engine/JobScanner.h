#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>

namespace kadmel {

// One job file as the folder lists it; a link is described, not followed.
struct JobEntry
{
    QByteArray name; // the bare name, bytes as the file system holds them
    qint64 size = 0;
    qint64 mtimeNs = 0; // last change, since the epoch
};

// Picks from the job folder's listing (JobDirectory) the jobs to try now.
class JobScanner
{
public:
    explicit JobScanner(int minAgeMs = 2000);

    // The jobs of `listed` to try now, in its order. A file is ready when it was last changed at least
    // minAgeMs before `now` (it may still be being written), or, with a time in the future, once this
    // scanner has seen it unchanged for minAgeMs. Files set aside and unchanged since are left out.
    QList<JobEntry> readyJobs(const QList<JobEntry>& listed, const QDateTime& now);

    // The job cannot be taken as it is: it is left out until its size or time changes.
    void setAside(const JobEntry& entry);

private:
    struct Sighting
    {
        qint64 size;
        qint64 mtimeNs;
        qint64 firstSeenMs;
    };
    int m_minAgeMs;
    QElapsedTimer m_clock;
    QHash<QByteArray, Sighting> m_futureSeen; // files whose time lies ahead of the clock
    QHash<QByteArray, JobEntry> m_setAside;
};

} // namespace kadmel
