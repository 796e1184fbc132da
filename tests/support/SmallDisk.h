#pragma once

#include <QDir>
#include <sys/mount.h>

namespace kadmel::test {

// A tmpfs of its own on a folder: a disk that really fills up or is really read-only, also for root, who passes
// every permission check. isMounted() tells whether the right to mount was given.
class SmallDisk
{
public:
    SmallDisk(const QString& folder, const char* options) : m_folder(QFile::encodeName(folder))
    {
        QDir().mkpath(folder);
        m_mounted = ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options) == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    bool isMounted() const { return m_mounted; }
    bool makeReadOnly()
    {
        return ::mount(nullptr, m_folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    const QByteArray m_folder;
    bool m_mounted = false;
};

} // namespace kadmel::test
