#include "engine/JobDirectory.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kadmel {
namespace {

bool isJobName(const QByteArray& name)
{
    return name.size() > 4 && !name.startsWith('.') && name.right(4).toLower() == ".zub";
}

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

JobDirectory::JobDirectory(const QByteArray& path)
{
    // A trailing slash would make the kernel follow a link in the folder's place.
    QByteArray folder = path;
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    m_fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd >= 0) {
        m_state = State::Open;
        return;
    }
    m_error = errno;
    struct stat st;
    if (::lstat(folder.constData(), &st) == 0 && S_ISLNK(st.st_mode))
        m_state = State::Link;
    else if (m_error == ENOENT)
        m_state = State::Missing;
    else
        m_state = State::Unreadable;
}

JobDirectory::~JobDirectory()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QList<JobEntry> JobDirectory::list()
{
    QList<JobEntry> listed;
    if (m_state != State::Open)
        return listed;
    const auto unreadable = [this](int error) {
        m_state = State::Unreadable;
        m_error = error;
        return QList<JobEntry>();
    };
    // The listing reads through a copy of the descriptor: closedir closes it, ours stays for the reads.
    const int copy = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    DIR* opened = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!opened) {
        const int error = errno;
        if (copy >= 0)
            ::close(copy);
        return unreadable(error);
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opened, ::closedir);
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
        if (item->d_type == DT_DIR || !isJobName(name))
            continue;
        struct stat st;
        if (::fstatat(m_fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == EACCES) // listed but not searchable: no job of it can be read
                return unreadable(errno);
            continue; // gone since the listing
        }
        if (!S_ISDIR(st.st_mode))
            listed.append({name, qint64(st.st_size), mtimeNsOf(st)});
    }
    std::sort(listed.begin(), listed.end(), [](const JobEntry& a, const JobEntry& b) { return a.name < b.name; });
    return listed;
}

JobRead JobDirectory::read(const QByteArray& name, qint64 maxBytes, QByteArray& contents)
{
    m_readName.clear();
    if (m_state != State::Open)
        return JobRead::Unreadable;
    const Descriptor file{::openat(m_fd, name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC)};
    if (file.fd < 0)
        return errno == ELOOP ? JobRead::Link : JobRead::Unreadable;
    struct stat st;
    if (::fstat(file.fd, &st) != 0)
        return JobRead::Unreadable;
    if (!S_ISREG(st.st_mode)) // swapped in after the listing
        return JobRead::NotAFile;
    if (st.st_size > maxBytes)
        return JobRead::TooLarge;
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
            return JobRead::Unreadable;
        got += n;
    }
    if (got > st.st_size)
        return JobRead::Unreadable;
    bytes.truncate(got);
    contents = std::move(bytes);
    m_readName = name;
    m_readDevice = st.st_dev;
    m_readInode = st.st_ino;
    return JobRead::Read;
}

bool JobDirectory::remove(const QByteArray& name)
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

} // namespace kadmel
