#include "store/InstanceLock.h"

#include "store/FileAccess.h"
#include "store/StorePaths.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

namespace kadmel {

InstanceLock::InstanceLock(const QString& programFolder) : m_path(lockFilePathIn(programFolder)), m_lock(m_path)
{
    // An instance may run for months: only a dead owner makes the lock stale, never its age.
    m_lock.setStaleLockTime(0);
}

qint64 InstanceLock::namedProcess() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!m_lock.getLockInfo(&pid, &host, &application) || (!host.isEmpty() && host != QSysInfo::machineHostName()))
        return 0;
    return pid;
}

bool InstanceLock::heldByService() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    return m_lock.getLockInfo(&pid, &host, &application) && application == QLatin1String(ServiceProgram);
}

QString InstanceLock::holderText() const
{
    const qint64 pid = namedProcess();
    const QString program = heldByService() ? QLatin1String(ServiceProgram) : QStringLiteral("kadmel");
    return pid > 0 ? QStringLiteral("(%1, Prozess %2)").arg(program).arg(pid) : QStringLiteral("(%1)").arg(program);
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
        // A running instance holds the file's native lock (flock and fcntl) for its whole run, and
        // removeStaleLockFile() takes that lock before removing the file. So whatever the file names (garbage,
        // another host, a dead process, or a live one whose lock was copied along with another folder), it is
        // taken over exactly when no process holds it.
        if (m_lock.error() != QLockFile::LockFailedError || !m_lock.removeStaleLockFile() || !m_lock.tryLock(0))
            return failed();
    }
    QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

void InstanceLock::unlock()
{
    m_lock.unlock();
}

} // namespace kadmel
