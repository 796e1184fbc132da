#include "store/InstanceLock.h"

#include "store/FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace kadmel {
namespace {

bool processRunning(qint64 pid)
{
#ifdef Q_OS_UNIX
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
#else
    return pid > 0; // without a way to ask, a named process counts as alive
#endif
}

} // namespace

InstanceLock::InstanceLock(const QString& programFolder)
    : m_path(programFolder + QStringLiteral("/kadmel.lock")), m_lock(m_path)
{
    // An instance may run for months: only a dead owner makes the lock stale, never its age.
    m_lock.setStaleLockTime(0);
}

bool InstanceLock::ownerIsGone() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!m_lock.getLockInfo(&pid, &host, &application))
        return true; // garbage (or gone meanwhile): no instance wrote it
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return true; // a lock carried over from another machine
    return !processRunning(pid);
}

bool InstanceLock::failed()
{
    switch (m_lock.error()) {
    case QLockFile::NoError:
    case QLockFile::LockFailedError:
        return false;
    case QLockFile::PermissionError:
        m_error =
            QStringLiteral("Die Sperrdatei %1 lässt sich in „%2“ nicht anlegen: Der Ordner ist nicht beschreibbar.")
                .arg(quotedName(m_path), QFileInfo(m_path).absolutePath());
        return false;
    case QLockFile::UnknownError:
        break;
    }
    m_error = QStringLiteral("Die Sperrdatei %1 in „%2“ ließ sich nicht schreiben. Ist der Datenträger voll?")
                  .arg(quotedName(m_path), QFileInfo(m_path).absolutePath());
    return false;
}

bool InstanceLock::tryLock()
{
    m_error.clear();
    if (!m_lock.tryLock(0)) {
        // QLockFile only takes over a lock of a dead process of this host; removeStaleLockFile() still
        // refuses while a live owner holds the file.
        if (m_lock.error() != QLockFile::LockFailedError || !ownerIsGone() || !m_lock.removeStaleLockFile() ||
            !m_lock.tryLock(0))
            return failed();
    }
    QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

} // namespace kadmel
