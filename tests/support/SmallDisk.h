#pragma once

#include <QDir>
#include <QString>

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

namespace kadmel::test {

// A tmpfs of its own on a folder: a disk that really fills up or is really read-only, also for root, who
// passes every permission check. Needs the right to mount; isMounted() tells whether it was given.
class SmallDisk
{
public:
    SmallDisk(const QString& folder, const char* options) : m_folder(QFile::encodeName(folder))
    {
        QDir().mkpath(folder);
#ifdef Q_OS_LINUX
        m_mounted = ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options) == 0;
#else
        Q_UNUSED(options);
#endif
    }
    ~SmallDisk()
    {
#ifdef Q_OS_LINUX
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
#endif
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const
    {
        return m_mounted;
    }
    bool makeReadOnly()
    {
#ifdef Q_OS_LINUX
        return m_mounted && ::mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
#else
        return false;
#endif
    }

private:
    QByteArray m_folder;
    bool m_mounted = false;
};

} // namespace kadmel::test
