#pragma once

#include "store/PaceSetting.h"

#include <QList>

#include <optional>

namespace kadmel {

// The sliding windows of paced sending: at most perMinute mails in any 60 seconds, evenly spread, and perDay in any
// 24 hours, counted at the moments mails were handed to the server. Pure: every call is given the wall clock `now`
// (milliseconds since 1970, UTC). A limit of 0 or none holds nothing back.
class SendPace
{
public:
    static constexpr qint64 MinuteMs = 60 * 1000;
    static constexpr qint64 DayMs = 24 * 60 * MinuteMs;

    explicit SendPace(const PaceLimits& limits = {});

    const PaceLimits& limits() const { return m_limits; }
    void setLimits(const PaceLimits& limits);

    // The earliest moment the nth mail from now on may go (1: the next one), the ones before it going as early as
    // they may: `now` itself while the windows have room.
    qint64 slot(qint64 now, int nth = 1);
    // Milliseconds until the next mail may go; 0 now.
    qint64 waitMs(qint64 now) { return slot(now) - now; }
    // A mail was handed over at `now`.
    void count(qint64 now);

    // The moments that still count, oldest first: as many as the larger limit, within its window.
    const QList<qint64>& times() const { return m_times; }
    // Takes up times counted before (a file read at a start), oldest first.
    void restore(const QList<qint64>& times, qint64 now);
    void clear()
    {
        m_times.clear();
        m_lastSlot.reset();
    }

private:
    // Drops what no longer counts. A time ahead of `now` (the clock was set back) counts as now: it holds the
    // window for a day at most, never until the clock catches up.
    void trim(qint64 now);

    // Milliseconds between two mails of a minute's limit; 0 without one.
    qint64 spacing() const;

    PaceLimits m_limits;
    QList<qint64> m_times;
    // The moment the last mail was due by the even spread: the next is due a spacing later, so that the work
    // between a mail's slot and its count does not slow the run down (its lag made up by at most a spacing).
    std::optional<qint64> m_lastSlot;
};

} // namespace kadmel
