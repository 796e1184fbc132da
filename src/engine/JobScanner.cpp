#include "engine/JobScanner.h"

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

// The file as listed now still has the size and time it was remembered with.
template <typename Remembered> bool unchanged(const Remembered& remembered, const JobEntry& listed)
{
    return remembered.size == listed.size && remembered.mtimeNs == listed.mtimeNs;
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

JobScanner::JobScanner(int minAgeMs) : m_minAgeMs(minAgeMs)
{
    m_clock.start();
}

QList<JobEntry> JobScanner::readyJobs(const QByteArray& jobFolder, const QDateTime& now)
{
    QList<JobEntry> listed;
    if (const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(jobFolder.constData()), ::closedir); dir) {
        while (const dirent* item = ::readdir(dir.get())) {
            const QByteArray name(item->d_name);
            struct stat st;
            if (item->d_type == DT_DIR || !isJobName(name) ||
                ::fstatat(::dirfd(dir.get()), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
                continue;
            listed.append({name, qint64(st.st_size), mtimeNsOf(st)});
        }
    }
    std::sort(listed.begin(), listed.end(), [](const JobEntry& a, const JobEntry& b) { return a.name < b.name; });

    // Only what is still listed is remembered, so the memory stays as small as the folder.
    const qint64 nowNs = now.toMSecsSinceEpoch() * 1000000;
    const qint64 clockMs = m_clock.elapsed();
    QHash<QByteArray, Sighting> futureSeen;
    QHash<QByteArray, JobEntry> setAside;
    QList<JobEntry> ready;
    for (const JobEntry& entry : listed) {
        if (const auto aside = m_setAside.constFind(entry.name);
            aside != m_setAside.cend() && unchanged(*aside, entry)) {
            setAside.insert(entry.name, entry);
            continue;
        }
        if (entry.mtimeNs > nowNs) {
            Sighting seen{entry.size, entry.mtimeNs, clockMs};
            if (const auto earlier = m_futureSeen.constFind(entry.name);
                earlier != m_futureSeen.cend() && unchanged(*earlier, entry))
                seen = *earlier;
            futureSeen.insert(entry.name, seen);
            if (clockMs - seen.firstSeenMs >= m_minAgeMs)
                ready.append(entry);
        } else if ((nowNs - entry.mtimeNs) / 1000000 >= m_minAgeMs) {
            ready.append(entry);
        }
    }
    m_futureSeen = futureSeen;
    m_setAside = setAside;
    return ready;
}

void JobScanner::setAside(const JobEntry& entry)
{
    m_setAside.insert(entry.name, entry);
}

JobRead readJobFile(const QByteArray& path, qint64 maxBytes, QByteArray& contents)
{
    const Descriptor file{::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
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
    return JobRead::Read;
}

} // namespace kadmel
