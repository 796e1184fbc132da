#pragma once

#include "engine/JobScanner.h"

#include <QByteArray>
#include <QList>

#include <sys/types.h>

namespace kadmel {

enum class JobRead
{
    Read,
    Unreadable,
    Link,
    NotAFile, // a pipe, a device or a folder
    TooLarge,
};

// The job folder, opened once per scan without following a link. Listing, reading and deleting all go
// through that one descriptor: a folder renamed or replaced by a link meanwhile is never read or
// deleted in, and a job folder that is itself a link (to the store, to someone's files) is not opened.
class JobDirectory
{
public:
    enum class State
    {
        Open,
        Missing, // no job folder (yet): nothing to do, nothing to say
        Link,
        Unreadable,
    };

    explicit JobDirectory(const QByteArray& path);
    ~JobDirectory();
    JobDirectory(const JobDirectory&) = delete;
    JobDirectory& operator=(const JobDirectory&) = delete;

    State state() const { return m_state; }
    // The system's error number of an unreadable folder.
    int error() const { return m_error; }

    // The job files ("*.zub" in any letter case, not hidden, no folder), in name order. Names are bytes:
    // one that is no valid UTF-8 is a job like any other. A link is described, not followed. A listing
    // that fails leaves the folder unreadable.
    QList<JobEntry> list();

    // Reads a job whole without following a link or waiting on a pipe or device: only a regular file of
    // at most maxBytes is read.
    JobRead read(const QByteArray& name, qint64 maxBytes, QByteArray& contents);

    // Deletes a job. After a read of that name, only while the name still stands for the file read: a
    // job written anew in its place meanwhile stays for the next scan.
    bool remove(const QByteArray& name);

private:
    int m_fd = -1;
    State m_state = State::Missing;
    int m_error = 0;
    QByteArray m_readName;
    dev_t m_readDevice = 0;
    ino_t m_readInode = 0;
};

} // namespace kadmel
