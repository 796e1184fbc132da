#include "store/InstanceLock.h"

namespace kadmel {

InstanceLock::InstanceLock(const QString& programFolder) : m_lock(programFolder + QStringLiteral("/kadmel.lock"))
{
    // An instance may run for months: only a dead owner makes the lock stale, never its age.
    m_lock.setStaleLockTime(0);
}

bool InstanceLock::tryLock()
{
    return m_lock.tryLock(0);
}

} // namespace kadmel
