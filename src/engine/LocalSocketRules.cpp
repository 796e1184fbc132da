#include "engine/LocalSocketRules.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kadmel {

bool isPrivateFolder(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat info = {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
#else
    return !path.isEmpty();
#endif
}

QString programFolderKey(const QString& programFolder)
{
    const QString canonical = QDir(programFolder).canonicalPath();
    const QByteArray path = (canonical.isEmpty() ? QDir(programFolder).absolutePath() : canonical).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(24));
}

std::optional<unsigned> peerUserId(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0)
        return credentials.uid;
#else
    Q_UNUSED(descriptor);
#endif
    return std::nullopt;
}

} // namespace kadmel
