#pragma once

#include <QLockFile>
#include <QString>

namespace kadmel {

// Keeps a second instance off the same program folder: the lock file "kadmel.lock" there (0600) is held
// for the life of this object. A lock that names no live process of this host is stale and taken over:
// one that cannot be read, names another host, or names a process that has died.
class InstanceLock
{
public:
    explicit InstanceLock(const QString& programFolder);

    // False when another live instance holds the folder, or when the lock file cannot be written at all;
    // errorString() then tells which (empty: held by another instance).
    bool tryLock();
    bool isLocked() const { return m_lock.isLocked(); }
    // German, for the user: why the lock file could not be written.
    const QString& errorString() const { return m_error; }

private:
    bool ownerIsGone() const;
    bool failed();

    QString m_path;
    QLockFile m_lock;
    QString m_error;
};

} // namespace kadmel
