#include "store/Store.h"

#include "store/AttachmentCopies.h"

#include "store/IndexFile.h"
#include "store/KadmelIni.h"
#include "store/MailFile.h"
#include "store/MailFileMemory.h"
#include "store/Migration.h"
#include "store/OriginFile.h"
#include "store/PermanentRemoval.h"
#include "store/RemovalPlan.h"
#include "store/SettingsFile.h"
#include "store/StoreLoader.h"
#include "store/StorePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace kadmel {
namespace {

// The loader refuses a bigger file as damaged: such a file is never written, and the old one stays.
bool writeWithin(const QString& path, const QByteArray& bytes, qint64 maxBytes, QString* error, FileSync sync)
{
    if (bytes.size() > maxBytes) {
        if (error)
            *error = QStringLiteral("%1 wäre mit %2 Bytes zu groß (höchstens %3 Bytes).")
                         .arg(quotedName(path))
                         .arg(bytes.size())
                         .arg(maxBytes);
        return false;
    }
    return writeWholeFile(path, bytes, error, sync);
}

} // namespace

struct Store::Private
{
    QString programFolder;
    FileSync sync = FileSync::Durable;
    bool removalRunning = false;
    QString refusal;               // the store could not be loaded safely: nothing is written
    bool removalUnsettled = false; // a removal stopped; its plan is settled before the next save
    QString savesBlocked;          // a plan that could not be settled at the start
    Settings settings;
    MailTables tables;
    MailFileMemory files;
    QSet<MailKey> fromSent; // kadmel.herkunft as read or last written
    std::optional<KadmelIniFile> kadmelIni;
    QList<qint16> foundInHand;
};

Store::Store(const QString& programFolder, FileSync sync) : d(std::make_unique<Private>())
{
    d->programFolder = programFolder;
    d->kadmelIni.emplace(programFolder);
    d->sync = sync;
}

Store::~Store() = default;

const QString& Store::programFolder() const
{
    return d->programFolder;
}

KadmelIniFile& Store::kadmelIni()
{
    return *d->kadmelIni;
}

QString Store::settingsFilePath() const
{
    return settingsFilePathIn(d->programFolder);
}

QString Store::indexFilePath() const
{
    return indexFilePathIn(d->programFolder);
}

QString Store::mailFilePath(qint16 id) const
{
    return mailFilePathIn(d->programFolder, id);
}

QString Store::mailsFolder() const
{
    return mailsFolderIn(d->programFolder);
}

Settings& Store::settings()
{
    return d->settings;
}

const Settings& Store::settings() const
{
    return d->settings;
}

MailTables& Store::tables()
{
    return d->tables;
}

const MailTables& Store::tables() const
{
    return d->tables;
}

MailFileMemory& Store::mailFileMemory()
{
    return d->files;
}

namespace {

bool refuse(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

QString Store::mailsFolderProblem() const
{
    // The mail files are written through this name: a link would put them (and their chmod) elsewhere.
    if (!QFileInfo(mailsFolder()).isSymLink())
        return {};
    return QStringLiteral("Der Ordner %1 im Programmordner ist eine Verknüpfung. ZUB folgt ihr nicht und "
                          "speichert dort keine Mails; bitte die Verknüpfung durch einen echten Ordner ersetzen.")
        .arg(quotedName(mailsFolder()));
}

bool Store::mailFilesWritable(QString* error)
{
    if (refused(error))
        return false;
    if (d->removalRunning)
        return refuse(error,
                      QStringLiteral("Es werden gerade Mails endgültig entfernt. Bitte danach erneut speichern."));
    if (!d->savesBlocked.isEmpty())
        return refuse(error, d->savesBlocked);
    if (d->removalUnsettled && !settleRemovalPlan(d->programFolder, nullptr, error))
        return false;
    d->removalUnsettled = false;
    return true;
}

void Store::setRemovalUnsettled()
{
    d->removalUnsettled = true;
}

bool Store::removalRunning() const
{
    return d->removalRunning;
}

void Store::setRemovalRunning(bool running)
{
    d->removalRunning = running;
}

bool Store::SaveAll(QString* error)
{
    if (!mailFilesWritable(error))
        return false;
    return SaveSettings(error) && SaveFolders(error) && saveMails(error);
}

bool Store::saveMails(QString* error)
{
    if (!mailFilesWritable(error))
        return false;
    const qint16 mailCount = d->tables.MailCount();
    // Many files: each is synced, their folder once at the end, before the save counts as done.
    const FileSync sync = d->sync == FileSync::Durable ? FileSync::FileOnly : d->sync;
    bool written = false;
    QString unwritten;
    for (int id = 1; id <= mailCount; ++id) {
        // An exit with thousands of unchanged mails must not rewrite thousands of files. An unreadable
        // file counts as holding its unchanged stand-in: only a change to that record fails the save,
        // and the mails after it are still written.
        if (d->files.holds(id, d->tables.mail(id)))
            continue;
        if (d->files.unreadable(id)) {
            if (unwritten.isEmpty())
                SaveMail(id, &unwritten); // refused, with the reason
            continue;
        }
        if (!saveMail(id, error, sync))
            return false;
        written = true;
    }
    if (written && sync == FileSync::FileOnly && !syncFolder(mailsFolder(), error))
        return false;
    if (unwritten.isEmpty())
        return true;
    if (error)
        *error = unwritten;
    return false;
}

bool Store::refused(QString* error) const
{
    if (d->refusal.isEmpty())
        return false;
    if (error)
        *error = d->refusal;
    return true;
}

bool Store::SaveSettings(QString* error)
{
    if (refused(error))
        return false;
    return writeWithin(settingsFilePath(), encodeSettings(d->settings), MaxSettingsFileBytes, error, d->sync);
}

bool Store::SaveFolders(QString* error)
{
    if (!mailFilesWritable(error))
        return false;
    const MailTables& t = d->tables;
    const FolderIndexRecord index{t.MailCount(), t.folder(SentFolder), t.folder(FailedFolder), t.folder(DeletedFolder)};
    return writeWithin(indexFilePath(), encodeFolderIndex(index), MaxIndexFileBytes, error, d->sync);
}

bool Store::SaveMail(qint16 id, QString* error)
{
    return saveMail(id, error, d->sync);
}

bool Store::saveMail(qint16 id, QString* error, FileSync sync)
{
    const std::optional<MailSave> save = prepareMailSave(id, error, sync);
    if (!save)
        return false;
    const bool written = save->write(error);
    mailSaved(*save, written);
    return written;
}

std::optional<MailSave> Store::prepareMailSave(qint16 id, QString* error, FileSync sync)
{
    // The file of this ID may already hold the next mail's record.
    if (!mailFilesWritable(error))
        return std::nullopt;
    if (id < 1 || id > d->tables.MailCount()) {
        if (error)
            *error = QStringLiteral("Die Mail %1 gibt es nicht.").arg(id);
        return std::nullopt;
    }
    if (d->files.unreadable(id)) {
        if (error)
            *error = QStringLiteral("%1 ließ sich beim Start nicht lesen und wird nicht überschrieben.")
                         .arg(quotedName(mailFilePath(id)));
        return std::nullopt;
    }
    if (const QString problem = mailsFolderProblem(); !problem.isEmpty()) {
        if (error)
            *error = problem;
        return std::nullopt;
    }
    // A failed write may have left nothing of the old file or nothing new: know nothing about it.
    d->files.forget(id);
    return MailSave{id, mailFilePath(id), d->tables.mail(id), sync};
}

bool MailSave::write(QString* error) const
{
    return writeWithin(path, encodeMailRecord(record), MaxMailFileBytes, error, sync);
}

void Store::mailSaved(const MailSave& save, bool written)
{
    if (written)
        d->files.remember(save.id, save.record);
}

std::optional<MailSave> Store::prepareMailSave(qint16 id, QString* error)
{
    return prepareMailSave(id, error, d->sync);
}

bool Store::saveOrigins(const QList<qint16>& fromSent, QString* error)
{
    // The file names only the deleted folder's mails: keys left by mails gone from it drop out here.
    const MailTables& t = d->tables;
    const auto keyOf = [&t](qint16 id) { return id >= 1 && id <= t.MailCount() ? MailKey::of(t.mail(id)) : MailKey(); };
    QSet<MailKey> keys;
    for (const qint16 id : t.folder(DeletedFolder).entries()) {
        if (const MailKey key = keyOf(id); d->fromSent.contains(key))
            keys.insert(key);
    }
    for (const qint16 id : fromSent)
        keys.insert(keyOf(id));
    keys.remove(MailKey());
    if (keys == d->fromSent)
        return true;
    if (refused(error) || !saveOriginFile(d->programFolder, keys, error))
        return false;
    d->fromSent = keys;
    return true;
}

QList<qint16> Store::takePositions(int folder, const QList<qint16>& positions)
{
    // Marks, not searches: "Alle Entfernen" of a full folder gives 32767 positions.
    FolderArray& from = d->tables.folder(folder);
    QList<bool> taken(from.count + 1, false);
    for (const qint16 pos : positions) {
        if (pos >= 1 && pos <= from.count && pos < from.ids.size())
            taken[pos] = true;
    }
    QList<qint16> ids;
    FolderArray rest{0, {from.ids.value(0)}};
    for (int pos = 1; pos <= from.count && pos < from.ids.size(); ++pos) {
        if (taken.at(pos))
            ids.append(from.ids.at(pos));
        else
            rest.append(from.ids.at(pos));
    }
    if (!ids.isEmpty())
        from = rest;
    return ids;
}

QList<qint16> Store::moveToDeleted(int folder, const QList<qint16>& positions, QString* error)
{
    QString reason;
    QList<qint16> chosen;
    if (folder == SentFolder || folder == FailedFolder) {
        const FolderArray& from = d->tables.folder(folder);
        for (const qint16 pos : positions)
            if (pos >= 1 && pos <= from.count && pos < from.ids.size())
                chosen.append(pos);
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        if (const qsizetype room = MaxMails - d->tables.count(DeletedFolder); chosen.size() > room) {
            chosen.resize(room);
            reason = QStringLiteral("Der Ordner „Gelöschte Objekte“ ist voll.");
        }
    }
    // The herkunft file first: a crash before the index leaves the mails where they were, named in a file
    // that is read only for the deleted folder.
    QList<qint16> fromSent;
    if (folder == SentFolder) {
        for (const qint16 pos : std::as_const(chosen))
            fromSent.append(d->tables.idAt(folder, pos));
    }
    if (QString saveError; !chosen.isEmpty() && !saveOrigins(fromSent, &saveError)) {
        if (error)
            *error = QStringLiteral("Es wurde nichts verschoben: ") + saveError;
        return {};
    }
    const QList<qint16> moved = takePositions(folder, chosen);
    for (const qint16 id : moved)
        d->tables.folder(DeletedFolder).append(id);
    QString saveError;
    if (!moved.isEmpty() && !SaveFolders(&saveError) && reason.isEmpty())
        reason = saveError;
    if (error)
        *error = reason;
    return moved;
}

qint16 Store::moveToDeleted(int folder, qint16 pos, qint16 count, QString* error)
{
    QList<qint16> positions;
    for (int k = 0; k < count; ++k)
        positions.append(qint16(pos + k));
    return qint16(moveToDeleted(folder, positions, error).size());
}

QList<std::pair<qint16, int>> Store::restoreFromDeleted(const QList<qint16>& positions, QString* error)
{
    QList<std::pair<qint16, int>> restored;
    for (const qint16 id : takePositions(DeletedFolder, positions)) {
        const bool sent =
            id >= 1 && id <= d->tables.MailCount() && d->fromSent.contains(MailKey::of(d->tables.mail(id)));
        const int to = sent ? SentFolder : FailedFolder;
        d->tables.folder(to).append(id); // never full: the mail stood in another folder
        restored.append({id, to});
    }
    QString reason;
    // The index first; a herkunft file left as it was names mails no longer in the deleted folder, which is harmless.
    if (!restored.isEmpty() && SaveFolders(&reason))
        saveOrigins({}, nullptr);
    if (error)
        *error = reason;
    return restored;
}

bool Store::RemoveMail(qint16 pos, int folder, bool permanent, QString* error)
{
    if (folder < SentFolder || folder > DeletedFolder || pos < 1 || pos > d->tables.count(folder)) {
        if (error)
            *error = QStringLiteral("Im Ordner %1 gibt es keine Position %2.").arg(folder).arg(pos);
        return false;
    }
    if (permanent && folder == DeletedFolder)
        return removeForGood({pos}, error);
    d->tables.folder(folder).removeAt(pos);
    return SaveFolders(error);
}

bool Store::removeForGood(const QList<qint16>& deletedPositions, QString* error)
{
    PermanentRemoval removal(*this, deletedPositions);
    QString reason;
    removal.step(removal.totalOperations() + 1, &reason);
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    return true;
}

QList<qint16> Store::mailsFoundInHand() const
{
    return d->foundInHand;
}

Store::LoadReport Store::loadAtStartup()
{
    LoadReport report;
    d->refusal.clear();
    report.problems += MigrateOldFiles(d->programFolder);
    // The mails are private: the folder is the owner's alone, however it was made. The store files
    // become owner-only as they are read; kadmel.ini (a link there is not followed) here.
    constexpr QFileDevice::Permissions OwnerOnlyFolder =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (d->refusal = report.refusal = mailsFolderProblem(); !report.refusal.isEmpty())
        return report;
    if (!QDir().mkpath(d->programFolder) ||
        (!QDir().mkdir(mailsFolder(), OwnerOnlyFolder) && !QFileInfo(mailsFolder()).isDir()))
        report.problems << QStringLiteral("Der Ordner %1 ließ sich nicht anlegen.").arg(quotedName(mailsFolder()));
    else if (!QFile::setPermissions(mailsFolder(), OwnerOnlyFolder))
        report.problems << QStringLiteral("Die Zugriffsrechte des Ordners %1 ließen sich nicht einschränken.")
                               .arg(quotedName(mailsFolder()));
    if (const QFileInfo ini(iniFilePathIn(d->programFolder)); ini.isFile() && !ini.isSymLink())
        QFile::setPermissions(ini.filePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // A removal for good cut short is undone or finished before anything is read. One that cannot be
    // settled leaves the files as they are: nothing that reads or writes them could be trusted.
    QString note, error;
    d->savesBlocked.clear();
    d->removalUnsettled = false;
    if (!settleRemovalPlan(d->programFolder, &note, &error)) {
        d->savesBlocked = error + QStringLiteral(" Bis zum nächsten Start wird keine E-Mail gespeichert.");
        report.problems << d->savesBlocked;
    } else if (!note.isEmpty()) {
        report.problems << note;
    }
    report.storeExisted = QFileInfo::exists(settingsFilePath());
    d->tables.reset();
    d->settings = Settings();
    d->files = MailFileMemory();

    LoadedStore loaded{d->settings, d->tables, d->files, {}, {}};
    LoadStore(d->programFolder, loaded);
    // A damaged herkunft file is kept as ".bad": every deleted mail then goes back to the failed folder.
    const std::optional<QSet<MailKey>> origins = loadOriginFile(d->programFolder, &error);
    d->fromSent = origins.value_or(QSet<MailKey>());
    if (!origins)
        report.problems << error;
    d->foundInHand = loaded.foundInHand;
    report.problems += loaded.problems;
    if (d->refusal = report.refusal = loaded.refusal; !report.refusal.isEmpty())
        return report;
    // Copies of attachments no mail names: a job taken no further, a mail removed for good. Only a store read
    // whole can tell.
    if (loaded.problems.isEmpty() && d->savesBlocked.isEmpty())
        removeOrphanAttachments(d->programFolder, d->tables);

    // From the first start on every store file exists; what was loaded goes back unchanged.
    if (!report.storeExisted && !SaveAll(&error))
        report.problems << error;
    return report;
}

} // namespace kadmel
