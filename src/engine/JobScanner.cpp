#include "engine/JobScanner.h"

namespace kadmel {
namespace {

// The file as listed now still has the size and time it was remembered with.
template <typename Remembered> bool unchanged(const Remembered& remembered, const JobEntry& listed)
{
    return remembered.size == listed.size && remembered.mtimeNs == listed.mtimeNs;
}

} // namespace

JobScanner::JobScanner(int minAgeMs) : m_minAgeMs(minAgeMs)
{
    m_clock.start();
}

QList<JobEntry> JobScanner::readyJobs(const QList<JobEntry>& listed, const QDateTime& now)
{
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

} // namespace kadmel
