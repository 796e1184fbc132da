#include "engine/SendPace.h"

#include <algorithm>
#include <array>
#include <utility>

namespace kadmel {
namespace {

// The limits that hold something back, with their windows.
std::array<std::pair<qint64, qint64>, 2> windowsOf(const PaceLimits& limits)
{
    return {std::pair{qint64(limits.perMinute.value_or(0)), SendPace::MinuteMs},
            std::pair{qint64(limits.perDay.value_or(0)), SendPace::DayMs}};
}

} // namespace

SendPace::SendPace(const PaceLimits& limits) : m_limits(limits) {}

void SendPace::setLimits(const PaceLimits& limits)
{
    m_limits = limits;
}

qint64 SendPace::spacing() const
{
    const qint32 perMinute = m_limits.perMinute.value_or(0);
    return perMinute > 0 ? MinuteMs / perMinute : 0;
}

void SendPace::trim(qint64 now)
{
    qint64 kept = 0, widest = 0;
    for (const auto& [limit, window] : windowsOf(m_limits)) {
        if (limit > 0) {
            kept = std::max(kept, limit);
            widest = std::max(widest, window);
        }
    }
    if (m_lastSlot && *m_lastSlot > now)
        m_lastSlot = now;
    // Sorted, so the times ahead of now are the last ones.
    for (auto it = m_times.rbegin(); it != m_times.rend() && *it > now; ++it)
        *it = now;
    const auto gone = std::find_if(m_times.cbegin(), m_times.cend(), [&](qint64 t) { return t > now - widest; });
    qsizetype drop = gone - m_times.cbegin();
    drop = std::max(drop, m_times.size() - kept);
    m_times.remove(0, std::min(drop, m_times.size()));
}

qint64 SendPace::slot(qint64 now, int nth)
{
    trim(now);
    // The mails before the nth go as early as they may: each waits until, in every window, the mail `limit`
    // places before it has left, and a minute's limit spreads them evenly (30 a minute: one every 2 s), so that
    // a provider that also counts shorter spans never sees a burst.
    QList<qint64> planned;
    planned.reserve(std::max(nth, 0));
    const qsizetype past = m_times.size();
    const auto at = [&](qsizetype i) { return i < past ? m_times.at(i) : planned.at(i - past); };
    qint64 moment = now;
    for (int k = 0; k < nth; ++k) {
        const qsizetype index = past + planned.size();
        const std::optional<qint64> before = planned.isEmpty() ? m_lastSlot : std::optional(planned.constLast());
        if (before && spacing() > 0)
            moment = std::max(moment, *before + spacing());
        for (const auto& [limit, window] : windowsOf(m_limits)) {
            if (limit > 0 && index >= limit)
                moment = std::max(moment, at(index - limit) + window);
        }
        planned.append(moment);
    }
    return moment;
}

void SendPace::count(qint64 now)
{
    m_lastSlot = std::clamp(m_lastSlot ? *m_lastSlot + spacing() : now, now - spacing(), now);
    trim(now);
    m_times.append(now);
    trim(now);
}

void SendPace::restore(const QList<qint64>& times, qint64 now)
{
    m_times = times;
    m_lastSlot.reset();
    std::sort(m_times.begin(), m_times.end());
    trim(now);
}

} // namespace kadmel
