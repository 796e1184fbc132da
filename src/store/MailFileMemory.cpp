#include "store/MailFileMemory.h"

namespace kadmel {
namespace {

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    // Unchanged texts still share their data: equal pointers settle most comparisons at once.
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

bool sameArray(const QList<QByteArray>& a, const QList<QByteArray>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!sameBytes(a.at(i), b.at(i)))
            return false;
    }
    return true;
}

bool sameRecord(const MailRecord& a, const MailRecord& b)
{
    return sameArray(a.Log.Sent, b.Log.Sent) && sameArray(a.Log.Received, b.Log.Received) &&
           sameBytes(a.Reserved, b.Reserved) && sameBytes(a.From, b.From) && sameBytes(a.To, b.To) &&
           sameBytes(a.Subject, b.Subject) && sameBytes(a.Body, b.Body) && sameBytes(a.Date, b.Date) &&
           sameBytes(a.Size, b.Size) && sameBytes(a.Status, b.Status);
}

} // namespace

bool MailFileMemory::holds(qint16 id, const MailRecord& record) const
{
    if (id < 0 || id >= m_files.size() || !m_files.at(id))
        return false;
    return sameRecord(*m_files.at(id), record);
}

void MailFileMemory::remember(qint16 id, const MailRecord& record)
{
    if (id < 0)
        return;
    if (id >= m_files.size())
        m_files.resize(id + 1);
    m_files[id] = record;
}

void MailFileMemory::forget(qint16 id)
{
    if (id >= 0 && id < m_files.size())
        m_files[id].reset();
}

void MailFileMemory::markUnreadable(qint16 id, const MailRecord& shown)
{
    remember(id, shown);
    m_unreadable.insert(id);
}

bool MailFileMemory::unreadable(qint16 id) const
{
    return m_unreadable.contains(id);
}

void MailFileMemory::renumber(const QList<qint16>& survivors)
{
    QList<std::optional<MailRecord>> files(survivors.size());
    QSet<qint16> unreadable;
    for (qsizetype newId = 1; newId < survivors.size(); ++newId) {
        const qint16 oldId = survivors.at(newId);
        if (oldId > 0 && oldId < m_files.size())
            files[newId] = m_files.at(oldId);
        if (m_unreadable.contains(oldId))
            unreadable.insert(qint16(newId));
    }
    m_files = files;
    m_unreadable = unreadable;
}

} // namespace kadmel
