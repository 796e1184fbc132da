#pragma once

#include "store/FileAccess.h"
#include "store/MailTables.h"
#include "store/Settings.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace kadmel {

class KadmelIniFile;
class MailFileMemory;

// One mail file's save, cut in two so that the encoding and writing can run beside the window's thread:
// write() touches nothing but the file and the copy of the record it holds.
struct MailSave
{
    qint16 id = 0;
    QString path;
    MailRecord record;
    FileSync sync = FileSync::Durable;
    bool write(QString* error) const;
};

// The store of one program folder: the settings, the tables, and their files "ZUBData1(3.0).zub",
// "ZUBData2(3.0).zub" and "Mails/Mail(<id>).zub"; the other store files are named in StorePaths.h.
// Every save is atomic, leaves the file 0600 (never written through a link), and reports a German
// reason on failure.
class Store
{
public:
    explicit Store(const QString& programFolder, FileSync sync = FileSync::Durable);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const QString& programFolder() const;
    QString settingsFilePath() const;
    QString indexFilePath() const;
    QString mailFilePath(qint16 id) const;
    QString mailsFolder() const;

    Settings& settings();
    const Settings& settings() const;
    MailTables& tables();
    const MailTables& tables() const;
    // "kadmel.ini" of the program folder, the one reader and writer every part shares.
    KadmelIniFile& kadmelIni();

    // Settings, index, then every mail 1 … MailCount. A mail file whose bytes are already on disk
    // is not written again, however its record was reached. A mail file that could not be read at the
    // start is never written: SaveMail refuses it with the reason, SaveAll only once its record changed.
    // While a removal for good renames the mail files, the records do not yet match the file names:
    // SaveAll, SaveFolders, saveMails and SaveMail refuse then. After a removal that stopped they first
    // settle its plan, and refuse while that fails.
    bool SaveAll(QString* error = nullptr);
    bool SaveSettings(QString* error = nullptr);
    bool SaveFolders(QString* error = nullptr);
    bool SaveMail(qint16 id, QString* error = nullptr);
    // SaveMail in two halves: the checks of SaveMail and the job (nothing and the reason when it refuses),
    // then, once MailSave::write() ran, its outcome. Nothing else may save that mail in between.
    std::optional<MailSave> prepareMailSave(qint16 id, QString* error = nullptr);
    void mailSaved(const MailSave& save, bool written);
    // Every mail 1 … MailCount whose file does not already hold it: SaveAll without settings and index.
    bool saveMails(QString* error = nullptr);
    bool removalRunning() const;
    // Why mail files cannot be written now ("Mails" is a link), empty when they can.
    QString mailsFolderProblem() const;

    // Moves the mails at these positions of the sent or failed folder (others and repeats ignored) to the end
    // of the deleted folder in folder order, as far as it has room. Mails from the sent folder are first named
    // in kadmel.herkunft (OriginFile.h), then the index is written once: a crash at any moment leaves every mail
    // in one folder, and one from the sent folder known as such. A herkunft file that cannot be written moves
    // nothing. Returns the IDs moved; `error` says why not all, or that the index was not written.
    QList<qint16> moveToDeleted(int folder, const QList<qint16>& positions, QString* error = nullptr);
    // `count` mails from `pos` on, as one block.
    qint16 moveToDeleted(int folder, qint16 pos, qint16 count, QString* error = nullptr);
    // Puts the mails at these positions of the deleted folder back at the end of the folder each came from
    // (the failed one unless kadmel.herkunft names it), in folder order: the index written once, then the
    // herkunft file without them. Returns each mail's ID and the folder it went to; `error` as above.
    QList<std::pair<qint16, int>> restoreFromDeleted(const QList<qint16>& positions, QString* error = nullptr);

    // Closes up pos in the folder and writes the index. With permanent (deleted folder only) the mail
    // is deleted for good first: its file removed, every higher mail and file one ID lower, all
    // folders renumbered.
    bool RemoveMail(qint16 pos, int folder, bool permanent, QString* error = nullptr);

    // Deletes for good the mails at the given positions of the deleted folder, as one operation:
    // the end state of removing them one by one, each surviving file renamed at most once,
    // the index written once at the end.
    bool removeForGood(const QList<qint16>& deletedPositions, QString* error = nullptr);

    // Start-up: take-over of older files, the Mails folder (0700), a removal for good cut short undone or
    // finished, reset, loading, first-start SaveAll.
    // Each file is read on its own; damaged ones are kept as "<name>.bad" and reported in `problems`.
    // A settings or index file that can be neither read nor kept, or a "Mails" that is a link, gives a
    // `refusal`: the store is not used and nothing is written, not even at the end.
    struct LoadReport
    {
        bool storeExisted = false;
        QStringList problems; // German, one line per damaged or missing file
        QString refusal;      // German: why the program cannot work on this store
    };
    LoadReport loadAtStartup();
    // The new mails the last load found in hand without an outcome (marked DeliveryUnclear, IDs as loaded).
    QList<qint16> mailsFoundInHand() const;

private:
    friend class PermanentRemoval;
    MailFileMemory& mailFileMemory();
    bool refused(QString* error) const;
    bool saveMail(qint16 id, QString* error, FileSync sync);
    std::optional<MailSave> prepareMailSave(qint16 id, QString* error, FileSync sync);
    void setRemovalRunning(bool running);
    void setRemovalUnsettled();
    bool mailFilesWritable(QString* error);
    // kadmel.herkunft with the keys of the deleted folder's mails from the sent folder, and of these mails.
    bool saveOrigins(const QList<qint16>& fromSent, QString* error);
    // The positions of the folder, valid and distinct, ascending; the folder without them.
    QList<qint16> takePositions(int folder, const QList<qint16>& positions);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
