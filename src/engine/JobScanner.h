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

// Finds the job files of the job folder ("*.zub" in any letter case, not hidden, no folder), in name
// order. Names are bytes: one that is no valid UTF-8 is a job like any other.
class JobScanner
{
public:
    explicit JobScanner(int minAgeMs = 2000);

    // The jobs to try now. A file is ready when it was last changed at least minAgeMs before `now`
    // (it may still be being written), or, with a time in the future, once this scanner has seen it
    // unchanged for minAgeMs. Files set aside and unchanged since are left out. A folder that cannot
    // be listed holds none.
    QList<JobEntry> readyJobs(const QByteArray& jobFolder, const QDateTime& now);

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

enum class JobRead
{
    Read,
    Unreadable,
    Link,
    NotAFile, // a pipe, a device or a folder
    TooLarge,
};

// Reads a job whole without following a link or waiting on a pipe or device: only a regular file of
// at most maxBytes is read.
JobRead readJobFile(const QByteArray& path, qint64 maxBytes, QByteArray& contents);

} // namespace kadmel
