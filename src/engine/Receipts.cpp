#include "engine/Receipts.h"

#include "engine/Receipt.h"
#include "store/Ansi.h"
#include "store/FileAccess.h"
#include "store/JobNameFile.h"
#include "store/KadmelIni.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>

namespace kadmel {
namespace {

// The producer and its group read the receipts; nobody else needs to.
constexpr int ReceiptMode = 0640;

bool samePromise(const std::optional<QDateTime>& a, const std::optional<QDateTime>& b)
{
    // The schedule's wall times move by milliseconds as they are worked out again.
    return a.has_value() == b.has_value() && (!a || std::llabs(a->msecsTo(*b)) < 2000);
}

std::optional<QDateTime> promised(const QMap<qint16, QDateTime>& times, qint16 id)
{
    const auto it = times.constFind(id);
    return it == times.cend() ? std::nullopt : std::optional(*it);
}

} // namespace

Receipts::Receipts(Store& store, DispatcherView& view) : m_store(store), m_view(view) {}

QByteArray Receipts::folder()
{
    return m_store.kadmelIni().read().receiptFolder.bytes();
}

void Receipts::load()
{
    if (const std::optional<QList<GoneJob>> gone = loadGoneJobs(m_store.programFolder(), &m_loadProblem))
        m_gone = *gone;
    const std::optional<QList<JobNameEntry>> saved = loadJobNameFile(m_store.programFolder(), &m_loadProblem);
    if (!saved)
        return;
    const MailTables& tables = m_store.tables();
    QHash<MailKey, qint16> byKey; // only once an entry lost its mail
    bool indexed = false;
    QHash<QByteArray, qint16> owners; // an older file may give one name to several mails: the newest keeps it
    bool changed = false;
    for (const JobNameEntry& e : *saved) {
        qint16 id = e.id;
        // A mail without a Message-ID of its own (an edit took it) stands by its ID, as does an entry without a key.
        const bool stands =
            id <= tables.MailCount() &&
            (e.key.isNull() || !MailKey::of(tables.mail(id)).isMessageId() || e.key.matches(tables.mail(id)));
        if (!stands) { // the store changed behind the file (a removal settled at this start)
            for (int k = 1; !indexed && k <= tables.MailCount(); ++k) {
                for (const MailKey& key : MailKey::keysOf(tables.mail(qint16(k))))
                    byKey.insert(key, qint16(k));
            }
            indexed = true;
            id = byKey.value(e.key);
            changed = true;
        }
        if (id < 1 || m_jobs.contains(id))
            continue;
        if (const qint16 other = owners.value(e.jobName); other > 0) {
            changed = true;
            if (other > id)
                continue;
            m_jobs.remove(other);
            m_owed.remove(other);
        }
        owners.insert(e.jobName, id);
        m_jobs.insert(id, {e.key, e.jobName});
        if (e.owed)
            m_owed.insert(id);
    }
    m_owedSaved = m_owed;
    if (changed)
        saveNames();
}

QString Receipts::takeLoadProblem()
{
    return std::exchange(m_loadProblem, QString());
}

void Receipts::remember(qint16 id, const QByteArray& name)
{
    // Also without receipts: switched on again, they must not speak for an older job of the name.
    const bool dropped = dropName(name);
    if (folder().isEmpty()) {
        if (dropped)
            saveNames();
        return;
    }
    m_jobs.insert(id, {MailKey::of(m_store.tables().mail(id)), name});
    m_owed.insert(id);
    m_promised.remove(id);
    saveNames();
}

void Receipts::owe(qint16 id, bool kept)
{
    const auto job = m_jobs.find(id);
    if (job == m_jobs.end() || folder().isEmpty())
        return;
    const bool known = m_owed.contains(id);
    m_owed.insert(id);
    if (!kept)
        return;
    // A resend may have given the mail a new Message-ID: the old one would not find it after a kill.
    const MailKey key = MailKey::of(m_store.tables().mail(id));
    if (std::exchange(job->key, key) != key || !known)
        saveNames();
}

void Receipts::refused(const QByteArray& name, const QByteArray& reason, const MailRecord& job)
{
    if (dropName(name))
        saveNames();
    if (!folder().isEmpty())
        m_ready.insert(name, refusalReceipt(reason, job, QDateTime::currentDateTime()));
}

void Receipts::removing(const QList<qint16>& ids)
{
    m_removing.clear();
    if (folder().isEmpty())
        return;
    for (const qint16 id : ids) {
        if (const auto it = m_jobs.constFind(id); it != m_jobs.cend())
            m_removing.insert(id, {it->name, mailReceipt(0, m_store.tables().mail(id), std::nullopt)});
    }
}

void Receipts::follow(const CommandChanges& changes)
{
    const auto removing = std::exchange(m_removing, {});
    if (changes.newIds.isEmpty())
        return; // nothing renumbered, and a removal that was undone removed nothing
    QHash<qint16, Job> jobs;
    QSet<qint16> owed;
    QMap<qint16, QDateTime> promised;
    for (auto it = m_jobs.cbegin(); it != m_jobs.cend(); ++it) {
        const qint16 id = changes.newIdOf(it.key());
        if (id > 0) {
            jobs.insert(id, *it);
            if (m_owed.contains(it.key()))
                owed.insert(id);
            if (m_promised.contains(it.key()))
                promised.insert(id, m_promised.value(it.key()));
        } else if (const auto gone = removing.constFind(it.key()); gone != removing.cend()) {
            m_ready.insert(gone->first, gone->second);
            if (it->key.isMessageId()) // a delivery report may still name it
                m_gone.append({it->key, gone->first, gone->second});
        }
    }
    if (m_gone.size() > MaxGoneJobs)
        m_gone.remove(0, m_gone.size() - MaxGoneJobs);
    if (!removing.isEmpty())
        saveGone();
    m_jobs = std::move(jobs);
    m_owed = std::move(owed);
    m_promised = std::move(promised);
    saveNames();
}

void Receipts::write(const QMap<qint16, QDateTime>& nextAttempts)
{
    const QByteArray target = folder();
    if (target.isEmpty()) {
        m_owed.clear();
        m_ready.clear();
        return;
    }
    // Only mails that waited or wait for an attempt can have a changed promise.
    for (const qint16 id : m_promised.keys() + nextAttempts.keys()) {
        if (m_jobs.contains(id) && !samePromise(promised(m_promised, id), promised(nextAttempts, id)))
            m_owed.insert(id);
    }
    // One receipt that cannot be written (a name too long, another user's file in the way) holds back no other.
    QString problem;
    for (auto it = m_ready.begin(); it != m_ready.end();)
        it = put(target, it.key(), it.value(), &problem) ? m_ready.erase(it) : std::next(it);
    bool renamed = false; // a mail whose key changed since its job was remembered
    bool paid = false;    // a debt kadmel.jobs holds, which a start would otherwise pay again
    const MailTables& tables = m_store.tables();
    for (const qint16 id : QList<qint16>(m_owed.cbegin(), m_owed.cend())) {
        const auto job = m_jobs.find(id);
        if (job == m_jobs.end() || id > tables.MailCount()) {
            m_owed.remove(id);
            continue;
        }
        const MailRecord& mail = tables.mail(id);
        const std::optional<QDateTime> next = promised(nextAttempts, id);
        if (!put(target, job->name, mailReceipt(id, mail, next), &problem))
            continue;
        m_owed.remove(id);
        paid = paid || m_owedSaved.contains(id);
        if (next)
            m_promised.insert(id, *next);
        else
            m_promised.remove(id);
        const MailKey key = MailKey::of(mail);
        renamed = std::exchange(job->key, key) != key || renamed;
    }
    if (renamed || paid)
        saveNames();
    if (!problem.isEmpty())
        return failed(problem);
    m_said = false;
}

bool Receipts::reportedGone(const std::function<bool(const QByteArray&)>& names, const QByteArray& answer)
{
    for (GoneJob& job : m_gone) {
        if (!names(QByteArray::fromPercentEncoding(job.key.text())))
            continue;
        job.receipt = undeliverableReceipt(job.receipt, answer);
        m_ready.insert(job.jobName, job.receipt);
        saveGone();
        return true;
    }
    return false;
}

bool Receipts::put(const QByteArray& folder, const QByteArray& jobName, const QByteArray& receipt, QString* problem)
{
    const QByteArray name = jobName + ".txt";
    if (name.size() > NAME_MAX) { // never writable: said once and given up, not tried at every tick
        m_view.setMessage("Quittung konnte nicht geschrieben werden: Der Name \x84" + toAnsi(QFile::decodeName(name)) +
                          "\x93 ist l\xE4nger als 255 Bytes.");
        return true;
    }
    QString error;
    if (writeNamedFile(folder, name, receipt, ReceiptMode, &error))
        return true;
    if (problem->isEmpty())
        *problem = error;
    return false;
}

bool Receipts::dropName(const QByteArray& name)
{
    m_ready.remove(name); // a refusal or removal not yet written is older too
    if (m_gone.removeIf([&](const GoneJob& job) { return job.jobName == name; }) > 0)
        saveGone();
    bool dropped = false;
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if (it->name != name) {
            ++it;
            continue;
        }
        m_owed.remove(it.key());
        m_promised.remove(it.key());
        it = m_jobs.erase(it);
        dropped = true;
    }
    return dropped;
}

void Receipts::saveNames()
{
    QList<JobNameEntry> entries;
    entries.reserve(m_jobs.size());
    for (auto it = m_jobs.cbegin(); it != m_jobs.cend(); ++it)
        entries.append({it.key(), m_owed.contains(it.key()), it->key, it->name});
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    QString error;
    if (saveJobNameFile(m_store.programFolder(), entries, &error))
        m_owedSaved = m_owed;
    else
        failed(error);
}

void Receipts::saveGone()
{
    QString error;
    if (!saveGoneJobs(m_store.programFolder(), m_gone, &error))
        failed(error);
}

void Receipts::failed(const QString& reason)
{
    if (std::exchange(m_said, true))
        return;
    m_view.setMessage("Quittung konnte nicht geschrieben werden: " + toAnsi(reason));
}

} // namespace kadmel
