#pragma once

#include "store/MailTables.h"

#include <QByteArray>
#include <QList>

namespace kadmel {

// One change of the folders made by the engine, made once and then told as it is: the window's lists and
// the retry schedule learn it from this message, not each from a matching push of its own.
struct MailChange
{
    enum class Kind
    {
        Filed,        // a new mail at the end of `folder`
        Moved,        // from `pos` of `fromFolder` to the end of `folder`
        StatusChanged // the mail at `pos` of `folder` stays; its Status cell shows `statusText`
    };
    Kind kind = Kind::Filed;
    qint16 id = 0;
    int folder = 0;
    int fromFolder = 0;
    qint16 pos = 0;
    QByteArray statusText = {};
};

// What a folder command changed, told as it ends: the retry schedule follows it instead of searching.
struct CommandChanges
{
    QList<MailChange> moves = {}; // mails moved to the deleted folder
    QList<qint16> newIds = {};    // after a removal for good: the new ID of each old ID (0: removed); empty: none
    qint16 edited = 0;            // the mail whose addresses or subject the editor changed

    // The ID the mail `id` has after the command: its own when nothing was renumbered, 0 when removed for good.
    qint16 newIdOf(qint16 id) const
    {
        if (newIds.isEmpty())
            return id;
        return id > 0 && id < newIds.size() ? newIds.at(id) : qint16(0);
    }
};

// Makes the change in the tables (a status change is already in the record).
inline void applyMailChange(MailTables& tables, const MailChange& change)
{
    if (change.kind == MailChange::Kind::Filed) {
        tables.folder(change.folder).append(change.id);
    } else if (change.kind == MailChange::Kind::Moved) {
        tables.MoveMail(change.pos, change.fromFolder, change.folder);
        tables.folder(change.fromFolder).removeAt(change.pos);
    }
}

} // namespace kadmel
