#include "engine/RetrySchedule.h"

#include "store/ResultCode.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>

namespace kadmel {
namespace {

constexpr std::array<qint64, 7> StepMinutes = {1, 2, 4, 8, 16, 32, 60};

} // namespace

bool mayRetry(const MailRecord& mail)
{
    return resultNature(mail) == ResultNature::Temporary;
}

QByteArray retrySuffix(const QDateTime& localTime)
{
    return " \x96 n\xE4"
           "chster Versuch um " +
           localTime.toString(QStringLiteral("HH:mm")).toLatin1();
}

qint64 RetrySchedule::delayAfter(qint32 failures) const
{
    const auto step = std::clamp<qint64>(failures, 1, StepMinutes.size()) - 1;
    return StepMinutes.at(step) * m_minuteMs;
}

void RetrySchedule::failed(qint16 id, const MailRecord& mail, qint64 now, bool anew)
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(), [id](const Entry& e) { return e.id == id; });
    if (it == m_entries.end() || anew || it->throttled) {
        forget(id);
        m_entries.append({id, MailKey::of(mail), now, now + delayAfter(1), 1});
        return;
    }
    it->key = MailKey::of(mail);
    it->failures = std::min(it->failures, qint32(1 << 20)) + 1; // a count read from a file may be anything
    it->next = now + delayAfter(it->failures);
    if (it->next > it->first + window())
        m_entries.erase(it); // a day is up: the mail waits for the user like any failed one
}

void RetrySchedule::throttled(qint16 id, const MailRecord& mail, qint64 now, std::optional<qint64> pauseMs)
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(), [id](const Entry& e) { return e.id == id; });
    const qint32 inRow = it != m_entries.end() && it->throttled ? std::min(it->failures, qint32(1 << 20)) + 1 : 1;
    forget(id);
    m_entries.append(
        {id, MailKey::of(mail), now, now + std::min(pauseMs.value_or(delayAfter(inRow)), window()), inRow, true});
}

bool RetrySchedule::dropRetries()
{
    return m_entries.removeIf([](const Entry& e) { return !e.throttled; }) > 0;
}

std::optional<RetrySchedule::Pause> RetrySchedule::pause() const
{
    std::optional<Pause> first;
    for (const Entry& e : m_entries) {
        if (e.throttled && (!first || e.next < first->end))
            first = Pause{e.id, e.next};
    }
    return first;
}

bool RetrySchedule::follow(const MailChange& change)
{
    return change.kind == MailChange::Kind::Moved && change.fromFolder == FailedFolder && forget(change.id);
}

bool RetrySchedule::follow(const CommandChanges& changes)
{
    bool changed = false;
    for (const MailChange& move : changes.moves)
        changed = follow(move) || changed;
    if (changes.edited)
        changed = forget(changes.edited) || changed;
    if (changes.newIds.isEmpty())
        return changed;
    for (Entry& e : m_entries) {
        const qint16 id = changes.newIdOf(e.id);
        changed = changed || id != e.id;
        e.id = id;
    }
    m_entries.removeIf([](const Entry& e) { return e.id == 0; });
    return changed;
}

bool RetrySchedule::forget(qint16 id)
{
    return m_entries.removeIf([id](const Entry& e) { return e.id == id; }) > 0;
}

bool RetrySchedule::stillWaiting(const MailTables& tables, const QSet<qint16>& failed, const Entry& entry) const
{
    if (entry.id < 1 || entry.id > tables.MailCount() || !failed.contains(entry.id))
        return false;
    const MailRecord& mail = tables.mail(entry.id);
    return mayRetry(mail) && entry.key.matches(mail);
}

namespace {

QSet<qint16> failedIds(const MailTables& tables)
{
    const QList<qint16> ids = tables.folder(FailedFolder).entries();
    return QSet<qint16>(ids.cbegin(), ids.cend());
}

} // namespace

std::optional<qint16> RetrySchedule::due(const MailTables& tables, qint64 now, bool& changed)
{
    std::optional<QSet<qint16>> failed; // only once a mail is due
    while (true) {
        // A throttled mail before any retry: until its pause is over, nothing is due.
        const auto it = std::min_element(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
            return a.throttled != b.throttled ? a.throttled : a.next < b.next;
        });
        if (it == m_entries.end() || it->next > now)
            return std::nullopt;
        if (!failed)
            failed = failedIds(tables);
        if (stillWaiting(tables, *failed, *it))
            return it->id;
        m_entries.erase(it);
        changed = true;
    }
}

bool RetrySchedule::reconcile(const MailTables& tables)
{
    const QSet<qint16> failed = failedIds(tables);
    QSet<qint16> kept;
    QList<qsizetype> lost;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (stillWaiting(tables, failed, m_entries.at(i)))
            kept.insert(m_entries.at(i).id);
        else
            lost.append(i);
    }
    if (lost.isEmpty())
        return false;
    // Keys of the failed mails nobody waits for, only when an entry lost its mail; a mail found under one of
    // its keys is taken under the other too.
    QHash<MailKey, QList<qint16>> byKey;
    for (const qint16 id : tables.folder(FailedFolder).entries()) {
        if (!kept.contains(id) && id >= 1 && id <= tables.MailCount() && mayRetry(tables.mail(id))) {
            for (const MailKey& key : MailKey::keysOf(tables.mail(id)))
                byKey[key].append(id);
        }
    }
    for (const qsizetype i : std::as_const(lost)) {
        QList<qint16>& candidates = byKey[m_entries.at(i).key];
        while (!candidates.isEmpty() && kept.contains(candidates.first()))
            candidates.removeFirst();
        m_entries[i].id = candidates.isEmpty() ? 0 : candidates.takeFirst();
        if (m_entries.at(i).id)
            kept.insert(m_entries.at(i).id);
    }
    m_entries.removeIf([](const Entry& e) { return e.id == 0; });
    return true;
}

QMap<qint16, qint64> RetrySchedule::nextAttempts() const
{
    QMap<qint16, qint64> times;
    for (const Entry& e : m_entries)
        times.insert(e.id, e.next);
    return times;
}

RetryFileContent RetrySchedule::toFile(qint64 now, qint64 wallNow) const
{
    RetryFileContent content{wallNow, {}};
    for (const Entry& e : m_entries)
        content.entries.append(
            {e.id, e.key, wallNow + (e.first - now), wallNow + (e.next - now), e.failures, e.throttled});
    return content;
}

void RetrySchedule::fromFile(const RetryFileContent& content, qint64 now, qint64 wallNow)
{
    m_entries.clear();
    // Wall clocks jump: one set back counts as no time passed and no wait outlasts its step (a mail is put
    // off by one interval at most); one set forward reads as time switched off, overdue mails go one per tick.
    const qint64 wall = std::max(wallNow, content.savedAt);
    for (const RetryFileEntry& e : content.entries) {
        // A pause has no day's window, and a day is its longest.
        if (e.firstFailure < wall - window() && !e.throttled)
            continue;
        const qint64 age = std::clamp<qint64>(wall - e.firstFailure, 0, window());
        const qint64 wait =
            e.nextAttempt <= wall ? 0 : std::min(e.nextAttempt - wall, e.throttled ? window() : delayAfter(e.failures));
        if (now - age + window() >= now + wait || e.throttled)
            m_entries.append({e.id, e.key, now - age, now + wait, e.failures, e.throttled});
    }
}

} // namespace kadmel
