#include "engine/JobIntake.h"

#include "engine/ByteText.h"
#include "engine/JobAttachments.h"
#include "engine/JobDirectory.h"
#include "engine/JobParser.h"
#include "engine/JobScanner.h"
#include "engine/MailBudget.h"
#include "engine/OffThread.h"
#include "smtp/Base64.h"
#include "smtp/Message.h"
#include "store/Ansi.h"
#include "store/AttachmentCopies.h"
#include "store/FileAccess.h"
#include "store/MailExtras.h"
#include "store/MailFile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>

namespace kadmel {
namespace {

// A mail file holds the body and its Base64 form (more than 4/3 of it): a larger job could never be filed.
constexpr qint64 MaxJobBytes = MaxMailFileBytes / 2;

QByteArray shownName(const JobEntry& job)
{
    return toAnsi(QFile::decodeName(job.name));
}

} // namespace

// What the parse of one job gave: the new mail's record, or why there is none.
struct JobIntake::NewMail
{
    ParsedJob::Outcome parsed = ParsedJob::Outcome::Malformed;
    bool tooLarge = false;
    QByteArray attachmentProblem; // why the job's files could not be read or copied
    MailRecord record;
};

struct JobIntake::Private
{
    Private(Store& s, DispatcherView& v, const EngineTimings& t) : store(s), view(v), timings(t), scanner(t.minJobAgeMs)
    {}

    Store& store;
    DispatcherView& view;
    EngineTimings timings;
    JobScanner scanner;
    QByteArray jobFolder;
    QByteArray jobFolderProblem;          // said once, until the folder can be used again
    std::unique_ptr<JobDirectory> folder; // the scan's one descriptor, open until its end
    QList<JobEntry> pending;              // ready jobs of the scan not yet tried
    qsizetype waiting = 0;                // what pending held when the scan took its job
    QElapsedTimer listed;                 // since the scan's listing
    bool stepping = false;                // inside next(): a settled step returns to its loop
    Outcome outcome = Outcome::Working;
    qint16 taken = 0;
    bool saveOwed = false;
    OffThread worker; // last: destroyed first, it waits for a parse or file still being made
};

JobIntake::JobIntake(Store& store, DispatcherView& view, const EngineTimings& timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(store, view, timings))
{}

JobIntake::~JobIntake() = default;

QByteArray JobIntake::jobFolder() const
{
    return d->jobFolder;
}

void JobIntake::setJobFolder(const QByteArray& folder)
{
    if (folder != d->jobFolder) { // what the last scan left stands in the old folder
        d->pending.clear();
        d->folder.reset();
        d->waiting = 0;
    }
    d->jobFolder = folder;
}

void JobIntake::forgetFolderProblem()
{
    d->jobFolderProblem.clear();
}

bool JobIntake::isWorking() const
{
    return d->worker.isRunning();
}

qsizetype JobIntake::waitingJobs() const
{
    return d->waiting;
}

bool JobIntake::takeSaveOwed()
{
    return std::exchange(d->saveOwed, false);
}

void JobIntake::scan()
{
    d->folder = std::make_unique<JobDirectory>(QFile::encodeName(fromAnsi(d->jobFolder)));
    d->listed.start();
    const QList<JobEntry> listed = d->folder->list();
    const QByteArray problem = jobFolderProblem();
    if (!problem.isEmpty() && problem != d->jobFolderProblem)
        d->view.setMessage(problem);
    d->jobFolderProblem = problem;
    d->pending = d->scanner.readyJobs(listed, QDateTime::currentDateTime());
    d->outcome = Outcome::SetAside; // as after a job set aside: go on with the first
    next();
}

void JobIntake::scanOn()
{
    // A job changed or gone since the listing waits for the next scan, which judges it anew; an old list (a
    // folder renamed meanwhile, a Stop in between) is listed anew.
    while (d->folder && !d->pending.isEmpty() && !d->folder->unchanged(d->pending.constFirst()))
        d->pending.removeFirst();
    if (!d->folder || d->pending.isEmpty() || d->listed.hasExpired(d->timings.runListMs))
        return scan();
    d->outcome = Outcome::SetAside;
    next();
}

void JobIntake::next()
{
    // A job that cannot be taken is set aside and the scan goes on: bad files never hold up good ones.
    while (d->outcome == Outcome::SetAside && !d->pending.isEmpty()) {
        d->outcome = Outcome::Working;
        d->stepping = true;
        ParseJob(d->pending.takeFirst());
        d->stepping = false;
        if (d->outcome == Outcome::Working)
            return; // settle() goes on from here
    }
    // A scan that took nothing (the store full, say) leaves nothing waiting: no scan follows at once. One that
    // took a job keeps the rest, with its descriptor, for scanOn().
    d->waiting = d->outcome == Outcome::Taken ? d->pending.size() : 0;
    if (d->waiting == 0) {
        d->pending.clear();
        d->folder.reset();
    }
    Q_EMIT finished(d->outcome == Outcome::Taken ? d->taken : 0);
}

void JobIntake::settle(Outcome outcome, qint16 id)
{
    d->outcome = outcome;
    d->taken = id;
    if (!d->stepping) // the step ended beside the window's thread: its loop has returned
        next();
}

QByteArray JobIntake::jobFolderProblem() const
{
    QByteArray path = d->jobFolder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const QByteArray named = "Der Auftragsordner \x84" + path + "\x93 ";
    switch (d->folder->state()) {
    case JobDirectory::State::Open:
    case JobDirectory::State::Missing:
        return {};
    case JobDirectory::State::Link:
        return named + "ist eine Verkn\xFCpfung und wird weder gelesen noch wird darin gel\xF6scht. Bitte dort einen "
                       "echten Ordner anlegen.";
    case JobDirectory::State::Unreadable:
        break;
    }
    const int error = d->folder->error();
    const QByteArray reason = error == EACCES || error == EPERM ? QByteArray("Keine Berechtigung.")
                              : error == ENOTDIR                ? QByteArray("Er ist kein Ordner.")
                                                                : "Systemfehler " + QByteArray::number(error) + '.';
    return named + "l\xE4sst sich nicht lesen: " + reason + " Es werden keine Auftr\xE4ge angenommen.";
}

void JobIntake::ParseJob(const JobEntry& job)
{
    QByteArray text;
    switch (d->folder->read(job.name, MaxJobBytes, text)) {
    case JobRead::Read:
        break;
    case JobRead::Link:
        return setJobAside(job, "ist eine Verkn\xFCpfung und wird nicht gelesen.");
    case JobRead::NotAFile:
        return setJobAside(job, "ist keine gew\xF6hnliche Datei.");
    case JobRead::TooLarge:
        return setJobAside(job, "ist gr\xF6\xDF"
                                "er als erlaubt (" +
                                    FormatByteSize(MaxJobBytes) + ").");
    case JobRead::Unreadable:
        return setJobAside(job, "l\xE4sst sich nicht lesen.");
    }

    // Its files are read and copied with the parse, never on the window's thread.
    const bool attaches = text.contains("@@AN");
    const Settings settings = d->store.settings();
    const QString programFolder = d->store.programFolder();
    const int minAgeMs = d->timings.minJobAgeMs;
    const auto parse = [text = std::move(text), settings, programFolder, minAgeMs, jobName = job.name]() mutable {
        NewMail mail;
        const ParsedJob parsed = parseJobText(text);
        text = {};
        mail.parsed = parsed.outcome;
        if (parsed.outcome != ParsedJob::Outcome::Ok)
            return mail;
        MailRecord& record = mail.record;
        record.From = OemToAnsi(parsed.fields.sender);
        record.To = OemToAnsi(parsed.fields.recipient);
        record.Subject = OemToAnsi(parsed.fields.subject);
        record.Body = OemToAnsi(parsed.fields.body);
        record.Date = dateText(QDateTime::currentDateTime());
        record.Size = FormatByteSize(record.Body.size());
        record.Reserved = NewMessageId(fieldValue(record.From)); // saved with the mail, before anything goes out
        MailExtras extras{OemToAnsi(parsed.fields.copyTo), OemToAnsi(parsed.fields.blindCopyTo),
                          OemToAnsi(parsed.fields.replyTo)};
        extras.entered = record.Date; // Date is the attempt's from the first send on
        QList<JobAttachment> files;
        mail.attachmentProblem = readJobAttachments(parsed.fields.attachments, minAgeMs, files);
        qint64 attached = 0;
        for (const JobAttachment& file : files)
            attached += EncodedSize(file.file.bytes.size());
        mail.tooLarge = projectedMailFileSize(record, settings) + attached > MaxMailFileBytes;
        // The copies reach the disk before the mail: a kill leaves the job and copies no mail names.
        for (const JobAttachment& file : files) {
            if (!mail.attachmentProblem.isEmpty() || mail.tooLarge)
                break;
            const QByteArray copy = newAttachmentCopyName();
            QString error;
            if (!writeAttachmentCopy(programFolder, copy, file.file.bytes, &error))
                mail.attachmentProblem = "wird nicht gesendet: Sein Anhang \x84" + file.sourcePath +
                                         "\x93 lie\xDF sich nicht in den Mailspeicher kopieren: " + toAnsi(error);
            extras.attachments.append(attachmentValue(copy, file.sourcePath));
        }
        // A name that could not stand in the record is not kept: its job is then never told from a new one.
        if (!jobName.contains("@@") &&
            std::none_of(jobName.cbegin(), jobName.cend(), [](char c) { return uchar(c) < 0x20; }))
            extras.jobName = jobName;
        setExtras(record, extras);
        return mail;
    };
    const bool beside = job.size >= d->timings.offThreadBytes || attaches;
    d->worker.run(beside, parse, [this, job](const NewMail& mail) { takeRecord(job, mail); });
}

void JobIntake::takeRecord(const JobEntry& job, const NewMail& mail)
{
    if (mail.parsed == ParsedJob::Outcome::MissingMarker) {
        Q_EMIT refused(job.name,
                       "Auftrag \x84" + shownName(job) +
                           "\x93 wurde gel\xF6scht: Ihm fehlt eine der Marken @@FR, "
                           "@@TO und @@SB.",
                       {});
        d->folder->remove(job.name);
        return settle(Outcome::SetAside);
    }
    // Copies of a job that is not taken go with the next start's clean-up, or here and now.
    const auto dropCopies = [this, &mail] {
        QList<QByteArray> copies;
        for (const QByteArray& value : extrasOf(mail.record).attachments)
            copies.append(copyNameOf(value));
        removeAttachmentCopies(d->store.programFolder(), copies);
    };
    if (!mail.attachmentProblem.isEmpty()) {
        dropCopies();
        MailRecord read = mail.record; // the receipt names no file that was not taken
        MailExtras extras = extrasOf(read);
        extras.attachments.clear();
        setExtras(read, extras);
        return setJobAside(job, mail.attachmentProblem, read);
    }
    if (mail.parsed == ParsedJob::Outcome::Malformed)
        return setJobAside(job, "ist unvollst\xE4ndig: Ein Wert endet nicht mit \x84@@\x93, oder nach dem Betreff "
                                "fehlt der Text.");
    // Refused before the send: a mail whose file the loader would refuse must never be filed.
    if (mail.tooLarge)
        return setJobAside(job,
                           "wird nicht gesendet: Seine Maildatei w\xE4re gr\xF6\xDF"
                           "er als erlaubt (" +
                               FormatByteSize(MaxMailFileBytes) + ").",
                           mail.record);

    MailTables& tables = d->store.tables();
    const std::optional<qint16> id = tables.createMail(mail.record);
    if (!id) {
        dropCopies();
        d->view.setMessage("Mailspeicher voll (32767 Mails). Bitte gel\xF6schte Objekte endg\xFCltig entfernen.");
        return settle(Outcome::Stopped);
    }
    saveNewMail(job, *id);
}

void JobIntake::saveNewMail(const JobEntry& job, qint16 id)
{
    // The mail reaches the disk before its job is deleted, so a crash during the send loses nothing.
    const auto saved = [this, job, id](bool written, QString error) {
        if (!written || !d->store.SaveFolders(&error)) {
            const QByteArray note = takeBackNewMail(id);
            d->view.setMessage("Neue E-Mail konnte nicht gespeichert werden: " + toAnsi(error) + note);
            return settle(Outcome::Stopped);
        }
        if (!d->folder->remove(job.name)) // never sent twice: the job would be found again
            return setJobAside(job, "l\xE4sst sich nicht l\xF6schen." + takeBackNewMail(id));
        settle(Outcome::Taken, id);
    };
    // Its job's name goes to disk first, so that nothing more stands between the mail's filing and the job's
    // deletion, where a kill leaves the job to be taken again.
    Q_EMIT taking(id, job.name);
    const bool beside = d->store.tables().mail(id).Body.size() >= d->timings.offThreadBytes;
    saveMailBeside(d->worker, d->store, id, beside, saved);
}

void JobIntake::setJobAside(const JobEntry& job, const QByteArray& reason, const MailRecord& read)
{
    d->scanner.setAside(job);
    const QByteArray said =
        "Auftrag \x84" + shownName(job) + "\x93 " + reason + " Er bleibt liegen, bis er ge\xE4ndert wird.";
    d->view.setMessage(said);
    Q_EMIT refused(job.name, said, read);
    settle(Outcome::SetAside);
}

QByteArray JobIntake::takeBackNewMail(qint16 id)
{
    QList<QByteArray> copies;
    for (const QByteArray& value : extrasOf(d->store.tables().mail(id)).attachments)
        copies.append(copyNameOf(value));
    d->store.tables().dropLastMail();
    QString error;
    // The index first: the mail's file goes only once no index on disk names it.
    if (!d->store.SaveFolders(&error)) {
        d->saveOwed = true;
        return " Auch der Ordnerindex lie\xDF sich nicht berichtigen: " + toAnsi(error);
    }
    if (!removeFile(d->store.mailFilePath(id), &error))
        return ' ' + toAnsi(error);
    removeAttachmentCopies(d->store.programFolder(), copies);
    return {};
}

} // namespace kadmel
