#pragma once

#include "store/FileAccess.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

#include <sys/stat.h>
#include <sys/types.h>

namespace kadmel {

enum class FileRead
{
    Read,
    Unreadable,
    Link,
    NotAFile, // a pipe, a device or a folder
    TooLarge,
};

// A folder opened once without following a link. Listing, reading and deleting all go through that one
// descriptor: a folder renamed or replaced by a link meanwhile is never read or deleted in, and a folder
// that is itself a link (to the store, to someone's files) is not opened. Links above it are followed.
class FolderHandle
{
public:
    enum class State
    {
        Open,
        Missing, // nothing of that name: nothing to do, nothing to say
        Link,
        Unreadable,
    };
    struct Entry
    {
        QByteArray name; // bytes as the file system holds them, which need not be UTF-8
        qint64 size = 0;
        qint64 mtimeNs = 0;   // last change, since the epoch
        bool regular = false; // a regular file: no link, pipe or device
    };

    explicit FolderHandle(const QByteArray& path);
    // The folder `name` inside an open one, opened through it.
    FolderHandle(const FolderHandle& parent, const QByteArray& name);
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    State state() const { return m_state; }
    // The system's error number of an unreadable folder.
    int error() const { return m_error; }

    // The entries other than folders whose names `wanted` takes (all without it), in name order; a link is
    // described, not followed. A listing that fails leaves the folder unreadable.
    QList<Entry> list(const std::function<bool(const QByteArray& name)>& wanted = {});
    // The entry `name` as a listing would describe it now; nothing when it is gone or a folder.
    std::optional<Entry> describe(const QByteArray& name) const;

    // Reads a file whole without following a link or waiting on a pipe or device: only a regular file of
    // at most maxBytes is read.
    FileRead read(const QByteArray& name, qint64 maxBytes, QByteArray& contents);

    // Copies a regular file to `target` as writeWholeFile writes it: owner-only from its first byte, never
    // through a link at either end.
    bool copyTo(const QByteArray& name, const QString& target, FileSync sync, QString* error);

    // Opens a regular file for a read a piece at a time, as read() would; false with the reason in `why`.
    bool open(const QByteArray& name, QFile& file, FileRead& why) const;

    // Adds the bytes at the end of the file `name` (made owner-only where missing, never through a link) in one
    // write, then puts them and a new name on the disk. False with a German reason.
    bool append(const QByteArray& name, const QByteArray& bytes, QString* error);

    // Deletes a file. After a read of that name, only while the name still stands for the file read: a
    // file written anew in its place meanwhile stays.
    bool remove(const QByteArray& name);

    // Puts the folder's new and removed names on the disk.
    bool sync();

private:
    void opened(int fd, const QByteArray& name, int parentFd);
    // The regular file `name`, opened; -1 with the reason in `why`.
    int openRegular(const QByteArray& name, FileRead& why, struct ::stat& st) const;

    int m_fd = -1;
    State m_state = State::Missing;
    int m_error = 0;
    QByteArray m_readName;
    dev_t m_readDevice = 0;
    ino_t m_readInode = 0;
};

} // namespace kadmel
