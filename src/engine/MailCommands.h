#pragma once

#include "engine/MailChange.h"
#include "store/Store.h"

#include <QList>
#include <QString>

namespace kadmel {

// The folder commands over the store, for the window and the command line alike. Each is one step on disk and
// says what it changed, for Dispatcher::endCommand; the caller holds the dispatcher off meanwhile (beginCommand).
struct CommandOutcome
{
    int done = 0;  // mails moved or removed
    QString error; // German; empty when everything was done and saved
    CommandChanges changes = {};
};

// "1 E-Mail", "20 E-Mails".
QString mailsText(int count);

// The positions of these IDs in the folder, ascending; an ID not there is left out.
QList<qint16> positionsOf(const MailTables& tables, int folder, const QList<qint16>& ids);

// "Entfernen" in the sent or failed folder: the mails go to "Gelöschte Objekte" (Store::moveToDeleted).
CommandOutcome moveMailsToDeleted(Store& store, int folder, const QList<qint16>& ids);
// "Wiederherstellen": from "Gelöschte Objekte" back to the folder each came from, the failed one by default.
CommandOutcome restoreMails(Store& store, const QList<qint16>& ids);
// "Entfernen" in "Gelöschte Objekte", at once (PermanentRemoval in one go); the window runs it in steps.
CommandOutcome removeMailsForGood(Store& store, const QList<qint16>& ids);

} // namespace kadmel
