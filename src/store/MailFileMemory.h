#pragma once

#include "store/MailRecord.h"

#include <QList>
#include <QSet>
#include <optional>

namespace kadmel {

// What each mail file on disk holds, as far as this run knows: the record last written to it or read
// from it. Records share their texts, so this costs next to nothing until a record changes.
// Forgetting an entry is always safe (the file is written again); a wrong entry would lose a change.
class MailFileMemory
{
public:
    bool holds(qint16 id, const MailRecord& record) const;
    void remember(qint16 id, const MailRecord& record);
    void forget(qint16 id);

    // A mail file that could be neither read nor kept as "<name>.bad": no save may write over it in this
    // run. `shown` stands in its place; while the record is unchanged nothing is owed to the file.
    void markUnreadable(qint16 id, const MailRecord& shown);
    bool unreadable(qint16 id) const;

    // Files were deleted and renamed for good: `survivors[newId]` is the old ID whose file now bears
    // newId (entries 1 … new MailCount), or 0 when that file is not known. An unreadable file keeps its
    // mark under its new name.
    void renumber(const QList<qint16>& survivors);

private:
    QList<std::optional<MailRecord>> m_files; // index = ID
    QSet<qint16> m_unreadable;
};

} // namespace kadmel
