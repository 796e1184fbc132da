#pragma once

#include "store/MailFileMemory.h"
#include "store/MailTables.h"
#include "store/Settings.h"

#include <QStringList>

namespace kadmel {

// What loading fills: the settings, the tables (already reset), what each mail file holds, one German
// line per missing or damaged file, and why the store cannot be used at all.
struct LoadedStore
{
    Settings& settings;
    MailTables& tables;
    MailFileMemory& files;
    QStringList problems;
    QString refusal;
    // New mails found in no folder and without an outcome, now marked DeliveryUnclear: in hand at the end,
    // their send begun or not.
    QList<qint16> foundInHand = {};
};

// Reads the settings, the folder index and every mail file of the program folder, each on its own.
// Damaged files are kept as "<name>.bad"; a missing or damaged index is rebuilt from the mail files;
// a file neither read nor kept is never written over: a settings or index file refuses the store, a
// mail file shows its mail as unreadable and is left alone;
// index entries outside 1 … MailCount and second entries of an ID are dropped; a mail in no folder (in
// hand when the program ended) is filed by its outcome, and without one as DeliveryUnclear.
void LoadStore(const QString& programFolder, LoadedStore& into);

} // namespace kadmel
