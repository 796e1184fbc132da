#pragma once

#include <QLockFile>
#include <QString>

namespace kadmel {

// Keeps a second instance off the same program folder: the lock file "kadmel.lock" there is held for
// the life of this object. A lock left by a process that has died is taken over.
class InstanceLock
{
public:
    explicit InstanceLock(const QString& programFolder);

    // False when another live instance holds the folder (or the lock file cannot be made).
    bool tryLock();
    bool isLocked() const { return m_lock.isLocked(); }

private:
    QLockFile m_lock;
};

} // namespace kadmel
