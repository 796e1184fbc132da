#include "store/FolderHandle.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kadmel {
namespace {

qint64 mtimeNsOf(const struct stat& st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Closes a descriptor on every way out.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

FolderHandle::FolderHandle(const QByteArray& path)
{
    // A trailing slash would make the kernel follow a link in the folder's place.
    QByteArray folder = path;
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    opened(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), folder, AT_FDCWD);
}

FolderHandle::FolderHandle(const FolderHandle& parent, const QByteArray& name)
{
    if (parent.m_state != State::Open) {
        m_state = parent.m_state;
        m_error = parent.m_error;
        return;
    }
    opened(::openat(parent.m_fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), name, parent.m_fd);
}

void FolderHandle::opened(int fd, const QByteArray& name, int parentFd)
{
    m_fd = fd;
    if (m_fd >= 0) {
        m_state = State::Open;
        return;
    }
    m_error = errno;
    struct stat st;
    if (::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        m_state = State::Link;
    else if (m_error == ENOENT)
        m_state = State::Missing;
    else
        m_state = State::Unreadable;
}

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<FolderHandle::Entry> FolderHandle::describe(const QByteArray& name) const
{
    struct stat st;
    if (m_state != State::Open || ::fstatat(m_fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISDIR(st.st_mode))
        return std::nullopt;
    return Entry{name, qint64(st.st_size), mtimeNsOf(st), S_ISREG(st.st_mode)};
}

QList<FolderHandle::Entry> FolderHandle::list(const std::function<bool(const QByteArray& name)>& wanted)
{
    QList<Entry> listed;
    if (m_state != State::Open)
        return listed;
    const auto unreadable = [this](int error) {
        m_state = State::Unreadable;
        m_error = error;
        return QList<Entry>();
    };
    // The listing reads through a copy of the descriptor: closedir closes it, ours stays for the reads.
    const int copy = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    DIR* dirOpened = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dirOpened) {
        const int error = errno;
        if (copy >= 0)
            ::close(copy);
        return unreadable(error);
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(dirOpened, ::closedir);
    ::rewinddir(dir.get());
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir.get());
        if (!item) {
            if (errno != 0)
                return unreadable(errno);
            break;
        }
        const QByteArray name(item->d_name);
        if (item->d_type == DT_DIR || name == "." || name == ".." || (wanted && !wanted(name)))
            continue;
        struct stat st;
        if (::fstatat(m_fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == EACCES) // listed but not searchable: no file of it can be read
                return unreadable(errno);
            continue; // gone since the listing
        }
        if (!S_ISDIR(st.st_mode))
            listed.append({name, qint64(st.st_size), mtimeNsOf(st), S_ISREG(st.st_mode)});
    }
    std::sort(listed.begin(), listed.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return listed;
}

int FolderHandle::openRegular(const QByteArray& name, FileRead& why, struct stat& st) const
{
    why = FileRead::Unreadable;
    if (m_state != State::Open)
        return -1;
    Descriptor file{::openat(m_fd, name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC)};
    if (file.fd < 0) {
        why = errno == ELOOP ? FileRead::Link : FileRead::Unreadable;
        return -1;
    }
    if (::fstat(file.fd, &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) { // swapped in after the listing
        why = FileRead::NotAFile;
        return -1;
    }
    why = FileRead::Read;
    return std::exchange(file.fd, -1);
}

FileRead FolderHandle::read(const QByteArray& name, qint64 maxBytes, QByteArray& contents)
{
    m_readName.clear();
    FileRead why;
    struct stat st;
    const Descriptor file{openRegular(name, why, st)};
    if (file.fd < 0)
        return why;
    if (st.st_size > maxBytes)
        return FileRead::TooLarge;
    // One byte more than the file holds tells a file that grew while it was read.
    QByteArray bytes(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return FileRead::Unreadable;
        got += n;
    }
    if (got > st.st_size)
        return FileRead::Unreadable;
    bytes.truncate(got);
    contents = std::move(bytes);
    m_readName = name;
    m_readDevice = st.st_dev;
    m_readInode = st.st_ino;
    return FileRead::Read;
}

bool FolderHandle::copyTo(const QByteArray& name, const QString& target, FileSync sync, QString* error)
{
    FileRead why;
    struct stat st;
    const int fd = openRegular(name, why, st);
    QFile source;
    if (fd < 0 || !source.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = QStringLiteral("„%1“ ließ sich nicht lesen.").arg(QFile::decodeName(name));
        return false;
    }
    return writeWholeFile(target, source, error, sync);
}

bool FolderHandle::open(const QByteArray& name, QFile& file, FileRead& why) const
{
    struct stat st;
    const int fd = openRegular(name, why, st);
    if (fd < 0)
        return false;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    why = FileRead::Unreadable;
    return false;
}

bool FolderHandle::append(const QByteArray& name, const QByteArray& bytes, QString* error)
{
    const auto failed = [&](int code) {
        if (error)
            *error =
                QStringLiteral("An „%1“ ließ sich nichts anfügen: %2").arg(QFile::decodeName(name), systemReason(code));
        return false;
    };
    if (m_state != State::Open)
        return failed(m_error ? m_error : ENOENT);
    struct stat before;
    const bool existed = ::fstatat(m_fd, name.constData(), &before, AT_SYMLINK_NOFOLLOW) == 0;
    const Descriptor file{
        ::openat(m_fd, name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600)};
    if (file.fd < 0)
        return failed(errno);
    struct stat st;
    if (::fstat(file.fd, &st) != 0)
        return failed(errno);
    if (!S_ISREG(st.st_mode))
        return failed(EINVAL);
    // One write: a reader never sees half a line from another writer, and a short write is said.
    const ssize_t written = ::write(file.fd, bytes.constData(), size_t(bytes.size()));
    if (written != ssize_t(bytes.size()))
        return failed(written < 0 ? errno : ENOSPC);
    if (::fsync(file.fd) != 0)
        return failed(errno);
    if (!existed && ::fsync(m_fd) != 0)
        return failed(errno);
    return true;
}

bool FolderHandle::remove(const QByteArray& name)
{
    if (m_state != State::Open)
        return false;
    if (name == m_readName) {
        struct stat st;
        if (::fstatat(m_fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_dev != m_readDevice ||
            st.st_ino != m_readInode)
            return false;
    }
    return ::unlinkat(m_fd, name.constData(), 0) == 0;
}

bool FolderHandle::sync()
{
    return m_state == State::Open && ::fsync(m_fd) == 0;
}

} // namespace kadmel
