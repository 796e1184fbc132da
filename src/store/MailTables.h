#pragma once

#include "store/FolderArray.h"
#include "store/MailRecord.h"

#include <QList>
#include <optional>

namespace kadmel {

// The mail table and the three folders in memory. IDs run 1 … MailCount; element 0 holds no mail.
// No files are touched here (see Store).
class MailTables
{
public:
    MailTables();

    // The start-up reset: Sent and Failed arrays and Mails dimensioned 0 … 1, MailCount 0.
    // The Deleted folder is left as it is.
    void reset();

    qint16 MailCount() const;
    const MailRecord& mail(qint16 id) const;
    MailRecord& mail(qint16 id);

    const FolderArray& folder(int folderNumber) const; // 1, 2 or 3
    FolderArray& folder(int folderNumber);
    qint16 count(int folderNumber) const { return folder(folderNumber).count; }
    qint16 idAt(int folderNumber, qint16 pos) const { return folder(folderNumber).at(pos); }

    // MailCount + 1 and the record stored under the new ID, which is returned.
    // nullopt when the store already holds MaxMails mails: nothing wraps around.
    std::optional<qint16> createMail(const MailRecord& record);
    // Takes back the mail with the highest ID (a created mail whose job could not be deleted).
    void dropLastMail();

    // Deletes the mails with these IDs (ascending, distinct, 1 … MailCount) for good: every higher mail
    // moves down by the number of deleted IDs below it, and so does every folder entry. Folder positions
    // are left to the caller.
    void deleteMails(const QList<qint16>& ascendingIds);

    // Appends the ID at pos of fromFolder to toFolder; the caller then removes pos from fromFolder.
    bool MoveMail(qint16 pos, int fromFolder, int toFolder);

    // Loading: the index as read, and the mails array sized to MailCount + 1.
    void setIndex(qint16 mailCount, const FolderArray& sent, const FolderArray& failed, const FolderArray& deleted);
    void setMailCount(qint16 mailCount);

    friend bool operator==(const MailTables&, const MailTables&) = default;

private:
    QList<MailRecord> m_mails; // index = ID
    qint16 m_mailCount = 0;
    FolderArray m_folders[3];
};

} // namespace kadmel
