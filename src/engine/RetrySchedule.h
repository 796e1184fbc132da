#pragma once

#include "engine/MailChange.h"
#include "store/MailTables.h"
#include "store/RetryFile.h"

#include <QDateTime>
#include <QMap>
#include <QSet>
#include <optional>

namespace kadmel {

// Whether a failure may pass by itself: its result is of temporary nature (no connection, a connection
// that ended or ran out of time before the message went out whole, or a 4xx reply).
bool mayRetry(const MailRecord& mail);

// " – nächster Versuch um HH:MM" (Windows-1252) for the local time of the next attempt.
QByteArray retrySuffix(const QDateTime& localTime);

// When failed mails are tried again: 1, 2, 4, 8, 16, 32 and 60 minutes after each failed attempt, then
// every 60 minutes, until 24 hours after the first failure. A mail the server throttled waits for its pause
// instead (the time given, else the same steps, at most a day), whatever the retry choice: until its end no
// other mail is due, then it goes first. Times are milliseconds of a monotonic clock.
class RetrySchedule
{
public:
    explicit RetrySchedule(qint64 minuteMs = 60000) : m_minuteMs(minuteMs) {}

    // The mail's attempt failed at `now`; `anew` starts its schedule over (a new mail, a manual send).
    void failed(qint16 id, const MailRecord& mail, qint64 now, bool anew);
    // The server throttled the mail's attempt at `now`: it waits `pauseMs`, or without one the next step of
    // the throttles it met in a row.
    void throttled(qint16 id, const MailRecord& mail, qint64 now, std::optional<qint64> pauseMs);
    // True when the mail had a schedule.
    bool forget(qint16 id);
    // Retries switched off: every entry but the throttled ones goes. True when any went.
    bool dropRetries();
    bool isEmpty() const { return m_entries.isEmpty(); }

    struct Pause
    {
        qint16 id;  // the throttled mail that goes first
        qint64 end; // nothing starts before
    };
    std::optional<Pause> pause() const;

    // The mail due longest at `now` that still stands in the failed folder as it was scheduled and may be
    // retried. Due entries found otherwise are dropped, and `changed` is set.
    std::optional<qint16> due(const MailTables& tables, qint64 now, bool& changed);
    // The engine's change of the folders: a mail that left the failed folder waits no more. True when it waited.
    bool follow(const MailChange& change);
    // A folder command's changes: a mail moved away or edited waits no more, a renumbered one keeps its
    // entry under its new ID. True when anything changed.
    bool follow(const CommandChanges& changes);
    // After a restart, when the entries come from the file: each finds its mail by ID or, should the store
    // have changed meanwhile, by its MailKey, or is dropped. True when anything changed.
    bool reconcile(const MailTables& tables);

    // ID and time of the next attempt of every waiting mail.
    QMap<qint16, qint64> nextAttempts() const;

    RetryFileContent toFile(qint64 now, qint64 wallNow) const;
    void fromFile(const RetryFileContent& content, qint64 now, qint64 wallNow);

private:
    struct Entry
    {
        qint16 id;
        MailKey key; // an edit changes it, and so does another mail that comes to stand under the ID
        qint64 first;
        qint64 next;
        qint32 failures;
        bool throttled = false;
    };
    qint64 delayAfter(qint32 failures) const;
    qint64 window() const { return 24 * 60 * m_minuteMs; }
    bool stillWaiting(const MailTables& tables, const QSet<qint16>& failed, const Entry& entry) const;

    qint64 m_minuteMs;
    QList<Entry> m_entries;
};

} // namespace kadmel
