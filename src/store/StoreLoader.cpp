#include "store/StoreLoader.h"

#include "store/Ansi.h"
#include "store/FileAccess.h"
#include "store/IndexFile.h"
#include "store/MailFile.h"
#include "store/ResultCode.h"
#include "store/SettingsFile.h"
#include "store/StorePaths.h"

#include <QFile>

namespace kadmel {
namespace {

// Keeps a file that could not be used as "<name>.bad": then a save may replace it. Nothing when it
// cannot be kept, with the reason in `note`.
bool keep(const QString& path, QString& note)
{
    QString error;
    if (!keepAsBad(path, &error)) {
        note = QStringLiteral(" ") + error;
        return false;
    }
    note = QStringLiteral(" Die Datei bleibt als %1 erhalten.").arg(quotedName(path + QStringLiteral(".bad")));
    return true;
}

QString keptNote(const QString& path)
{
    QString note;
    keep(path, note);
    return note;
}

// A settings or index file that was neither read nor kept: the store is not used, so nothing replaces it.
void refuse(LoadedStore& into, const QString& reason, const QString& note)
{
    into.refusal = reason + note +
                   QStringLiteral(" ZUB überschreibt keine Datei, die es nicht lesen konnte. Bitte die Datei lesbar "
                                  "machen (Eigentümer und Zugriffsrechte) oder sie entfernen.");
}

void loadSettings(const QString& programFolder, LoadedStore& into)
{
    const QString path = settingsFilePathIn(programFolder);
    QByteArray bytes;
    QString reason;
    switch (readWholeFile(path, MaxSettingsFileBytes, bytes, &reason)) {
    case ReadOutcome::Missing:
        return; // the first start: nothing was ever set
    case ReadOutcome::Read:
        if (decodeSettings(bytes, into.settings, &reason)) {
            if (into.settings.UseSpa == 0)
                into.settings.UseSpa = 2;
            if (into.settings.SmtpPort == 0)
                into.settings.SmtpPort = 25;
            return;
        }
        reason = QStringLiteral("%1 ist beschädigt: %2").arg(quotedName(path), reason);
        break;
    case ReadOutcome::Failed:
        break;
    }
    if (QString note; keep(path, note))
        into.problems << reason + QStringLiteral(" Es gelten die Grundeinstellungen.") + note;
    else
        refuse(into, reason, note);
}

// One mail into its place; a missing or damaged file leaves that record empty. One that can be neither
// read nor kept leaves its record marked, and its file is not written in this run.
void loadMail(const QString& programFolder, qint16 id, LoadedStore& into)
{
    const QString path = mailFilePathIn(programFolder, id);
    QByteArray bytes;
    QString reason;
    switch (readWholeFile(path, MaxMailFileBytes, bytes, &reason)) {
    case ReadOutcome::Missing:
        into.problems
            << QStringLiteral("Die Mail-Datei %1 fehlt; die Mail %2 bleibt leer.").arg(quotedName(path)).arg(id);
        return;
    case ReadOutcome::Read: {
        MailRecord& record = into.tables.mail(id);
        if (decodeMailRecord(bytes, record, &reason)) {
            // Only bytes that a save would write again count as known; anything else is rewritten.
            if (encodeMailRecord(record) == bytes)
                into.files.remember(id, record);
            return;
        }
        reason = QStringLiteral("%1 ist beschädigt: %2").arg(quotedName(path), reason);
        break;
    }
    case ReadOutcome::Failed:
        break;
    }
    MailRecord& record = into.tables.mail(id);
    record = MailRecord();
    QString note;
    if (keep(path, note)) {
        into.problems << reason + QStringLiteral(" Die Mail %1 bleibt leer.").arg(id) + note;
        return;
    }
    // Shown in its list; "unclear" keeps automatic and "send all" resends away from an empty record.
    record.Subject = "(Mail-Datei " + toAnsi(quotedName(path)) + " nicht lesbar)";
    record.Status = codeBytes(ResultCode::DeliveryUnclear);
    into.files.markUnreadable(id, record);
    into.problems
        << reason + note +
               QStringLiteral(" Die Mail %1 wird als unlesbar gezeigt; ihre Datei bleibt unverändert.").arg(id);
}

void fileMailsInHand(const QString& programFolder, const QList<qint16>& inHand, LoadedStore& into);

// The mail files Mail(1) … Mail(n) that exist in unbroken order, each filed by its status; one without
// any was in hand when the program ended.
void rebuildIndex(const QString& programFolder, LoadedStore& into)
{
    qint16 mailCount = 0;
    while (mailCount < MaxMails && QFile::exists(mailFilePathIn(programFolder, static_cast<qint16>(mailCount + 1))))
        ++mailCount;
    into.tables.setMailCount(mailCount);
    FolderArray sent{0, {0}};
    FolderArray failed{0, {0}};
    QList<qint16> inHand;
    for (int id = 1; id <= mailCount; ++id) {
        loadMail(programFolder, id, into);
        const QByteArray& status = into.tables.mail(id).Status;
        if (status.isEmpty())
            inHand.append(qint16(id));
        else
            (isResult(status, ResultCode::Sent) ? sent : failed).append(id);
    }
    if (mailCount > 0)
        into.tables.setIndex(mailCount, sent, failed, FolderArray());
    fileMailsInHand(programFolder, inHand, into);
    into.problems << QStringLiteral("Der Ordnerindex wurde aus %1 Mail-Dateien neu aufgebaut.").arg(mailCount);
}

// Drops entries outside 1 … MailCount and second entries of an ID, and returns how many: only those are
// damage. A mail in no folder was in hand when the program ended; it goes to `inHand`.
// A folder that needs no change keeps its bytes.
int repairFolders(MailTables& tables, QList<qint16>& inHand)
{
    const qint16 mailCount = tables.MailCount();
    QList<bool> filed(mailCount + 1, false);
    int changes = 0;
    for (const int number : {SentFolder, FailedFolder, DeletedFolder}) {
        FolderArray& folder = tables.folder(number);
        FolderArray kept{0, {0}};
        for (const qint16 id : folder.entries()) {
            if (id >= 1 && id <= mailCount && !filed.at(id)) {
                filed[id] = true;
                kept.append(id);
            }
        }
        if (kept.count != folder.count) {
            changes += folder.count - kept.count;
            folder = kept;
        }
    }
    for (int id = 1; id <= mailCount; ++id) {
        if (!filed.at(id))
            inHand.append(static_cast<qint16>(id));
    }
    return changes;
}

// A mail in hand when the program ended is filed by the outcome its file holds. Without one, its message
// may have reached the server: DeliveryUnclear, written at once so that a second crash keeps the mark.
void fileMailsInHand(const QString& programFolder, const QList<qint16>& inHand, LoadedStore& into)
{
    for (const qint16 id : inHand) {
        MailRecord& record = into.tables.mail(id);
        into.tables.folder(isResult(record.Status, ResultCode::Sent) ? SentFolder : FailedFolder).append(id);
        if (!record.Status.isEmpty())
            continue;
        record.Status = codeBytes(ResultCode::DeliveryUnclear);
        into.foundInHand.append(id);
        QString error;
        if (writeWholeFile(mailFilePathIn(programFolder, id), encodeMailRecord(record), &error))
            into.files.remember(id, record);
        else
            into.problems << QStringLiteral("Die Mail %1 war beim letzten Ende in Bearbeitung und gilt als "
                                            "möglicherweise zugestellt; das ließ sich nicht speichern: %2")
                                 .arg(id)
                                 .arg(error);
    }
}

} // namespace

void LoadStore(const QString& programFolder, LoadedStore& into)
{
    loadSettings(programFolder, into);
    if (!into.refusal.isEmpty())
        return;

    const QString indexPath = indexFilePathIn(programFolder);
    QByteArray bytes;
    QString reason;
    FolderIndexRecord index;
    const ReadOutcome outcome = readWholeFile(indexPath, MaxIndexFileBytes, bytes, &reason);
    if (outcome == ReadOutcome::Read && decodeFolderIndex(bytes, index, &reason)) {
        into.tables.setIndex(index.mailCount, index.sent, index.failed, index.deleted);
        QList<qint16> inHand;
        if (const int changes = repairFolders(into.tables, inHand); changes > 0)
            into.problems << QStringLiteral("Im Ordnerindex %1 wurden %2 Einträge berichtigt.")
                                     .arg(quotedName(indexPath))
                                     .arg(changes) +
                                 keptNote(indexPath);
        for (int id = 1; id <= into.tables.MailCount(); ++id)
            loadMail(programFolder, id, into);
        fileMailsInHand(programFolder, inHand, into);
        return;
    }
    if (outcome == ReadOutcome::Missing) {
        if (!QFile::exists(mailFilePathIn(programFolder, 1)))
            return; // the first start
        into.problems << QStringLiteral("Der Ordnerindex %1 fehlt.").arg(quotedName(indexPath));
    } else {
        if (outcome == ReadOutcome::Read)
            reason = QStringLiteral("%1 ist beschädigt: %2").arg(quotedName(indexPath), reason);
        QString note;
        if (!keep(indexPath, note))
            return refuse(into, reason, note);
        into.problems << reason + note;
    }
    rebuildIndex(programFolder, into);
}

} // namespace kadmel
