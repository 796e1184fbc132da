#pragma once

#include "engine/JobScanner.h"
#include "store/FolderHandle.h"

#include <QByteArray>
#include <QList>

namespace kadmel {

using JobRead = FileRead;

// The job folder, opened once per scan without following a link (FolderHandle): a job folder that is itself
// a link (to the store, to someone's files) is not opened, and one renamed or swapped meanwhile is never
// read or deleted in.
class JobDirectory
{
public:
    using State = FolderHandle::State;

    explicit JobDirectory(const QByteArray& path) : m_folder(path) {}

    State state() const { return m_folder.state(); }
    // The system's error number of an unreadable folder.
    int error() const { return m_folder.error(); }

    // The job files ("*.zub" in any letter case, not hidden, no folder), in name order. Names are bytes:
    // one that is no valid UTF-8 is a job like any other. A link is described, not followed. A listing
    // that fails leaves the folder unreadable.
    QList<JobEntry> list();

    // The job stands as it was listed: same size and time.
    bool unchanged(const JobEntry& job) const
    {
        const std::optional<FolderHandle::Entry> now = m_folder.describe(job.name);
        return now && now->size == job.size && now->mtimeNs == job.mtimeNs;
    }

    // Reads a job whole; only a regular file of at most maxBytes is read.
    JobRead read(const QByteArray& name, qint64 maxBytes, QByteArray& contents)
    {
        return m_folder.read(name, maxBytes, contents);
    }

    // Deletes a job. After a read of that name, only while the name still stands for the file read: a
    // job written anew in its place meanwhile stays for the next scan.
    bool remove(const QByteArray& name) { return m_folder.remove(name); }

private:
    FolderHandle m_folder;
};

} // namespace kadmel
