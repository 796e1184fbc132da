#include "store/MailTables.h"

#include <algorithm>

namespace kadmel {

MailTables::MailTables()
{
    reset();
}

void MailTables::reset()
{
    m_mails = QList<MailRecord>(2);
    m_mailCount = 0;
    folder(SentFolder) = FolderArray{0, {0, 0}};
    folder(FailedFolder) = FolderArray{0, {0, 0}};
}

qint16 MailTables::MailCount() const
{
    return m_mailCount;
}

const MailRecord& MailTables::mail(qint16 id) const
{
    return m_mails.at(id);
}

MailRecord& MailTables::mail(qint16 id)
{
    return m_mails[id];
}

const FolderArray& MailTables::folder(int folderNumber) const
{
    return m_folders[folderNumber - 1];
}

FolderArray& MailTables::folder(int folderNumber)
{
    return m_folders[folderNumber - 1];
}

std::optional<qint16> MailTables::createMail(const MailRecord& record)
{
    if (m_mailCount >= MaxMails)
        return std::nullopt;
    ++m_mailCount;
    m_mails.resize(m_mailCount + 1);
    m_mails[m_mailCount] = record;
    return m_mailCount;
}

void MailTables::dropLastMail()
{
    if (m_mailCount <= 0)
        return;
    --m_mailCount;
    m_mails.resize(m_mailCount + 1);
}

void MailTables::deleteMails(const QList<qint16>& ascendingIds)
{
    // One pass that closes up the records: removing them one by one shifts a full table thousands of times.
    qsizetype kept = 1;
    qsizetype next = 0;
    for (qsizetype id = 1; id <= m_mailCount; ++id) {
        if (next < ascendingIds.size() && ascendingIds.at(next) == id) {
            ++next;
            continue;
        }
        if (kept != id)
            m_mails[kept] = std::move(m_mails[id]);
        ++kept;
    }
    m_mailCount = static_cast<qint16>(kept - 1);
    m_mails.resize(m_mailCount + 1);
    for (FolderArray& f : m_folders) {
        for (int pos = 1; pos <= f.count && pos < f.ids.size(); ++pos) {
            const qint16 id = f.ids.at(pos);
            const auto below = std::lower_bound(ascendingIds.cbegin(), ascendingIds.cend(), id) - ascendingIds.cbegin();
            f.ids[pos] = static_cast<qint16>(id - below);
        }
    }
}

bool MailTables::MoveMail(qint16 pos, int fromFolder, int toFolder)
{
    const FolderArray& from = folder(fromFolder);
    if (pos < 1 || pos > from.count || pos >= from.ids.size())
        return false;
    return folder(toFolder).append(from.at(pos));
}

void MailTables::setIndex(qint16 mailCount, const FolderArray& sent, const FolderArray& failed,
                          const FolderArray& deleted)
{
    folder(SentFolder) = sent;
    folder(FailedFolder) = failed;
    folder(DeletedFolder) = deleted;
    setMailCount(mailCount);
}

void MailTables::setMailCount(qint16 mailCount)
{
    m_mailCount = qMax<qint16>(mailCount, 0);
    m_mails.resize(m_mailCount + 1);
}

} // namespace kadmel
