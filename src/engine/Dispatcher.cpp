#include "engine/Dispatcher.h"

#include "engine/ByteText.h"
#include "engine/DeliveryDecision.h"
#include "engine/FailureReason.h"
#include "engine/HtmlBody.h"
#include "engine/JobDirectory.h"
#include "engine/JobParser.h"
#include "engine/JobScanner.h"
#include "engine/MailBudget.h"
#include "engine/OAuthTokenSource.h"
#include "engine/RetrySchedule.h"
#include "store/Ansi.h"
#include "store/FileAccess.h"
#include "store/KadmelIni.h"
#include "store/MailFile.h"
#include "store/ResultCode.h"
#include "store/RetryFile.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <optional>
#include <utility>

#include <cerrno>

namespace kadmel {
namespace {

// A mail file holds the body and its Base64 form (more than 4/3 of it): a larger job could never be filed.
constexpr qint64 MaxJobBytes = MaxMailFileBytes / 2;
constexpr char CrLf[] = "\r\n";

QByteArray idSuffix(qint16 id)
{
    return "  (ID " + QByteArray::number(id) + ')';
}

QByteArray folderCaption(const char* name, qint16 count)
{
    return QByteArray(name) + " (" + QByteArray::number(count) + ')';
}

} // namespace

struct Dispatcher::Private
{
    Private(Store& s, DispatcherView& v, const EngineTimings& t)
        : store(s), view(v), timings(t), smtp(t.smtp), tokens(s.programFolder(), t.tokenMs), scanner(t.minJobAgeMs),
          retries(t.retryMinuteMs)
    {
        clock.start();
    }

    // The mail in hand: its ID and where it came from (origin 0 for a new mail).
    struct InHand
    {
        qint16 id = 0;
        int origin = 0;
        qint16 pos = 0;
        bool isNew = false;
    };

    Store& store;
    DispatcherView& view;
    EngineTimings timings;
    ZUB_SMTP smtp;
    OAuthTokenSource tokens;
    SmtpServer tokenServer; // the mail in hand's server while its token is being got
    // Filed in place of the conversation when the sign-in failed before one began.
    std::optional<SmtpLog> signInLog;
    SmtpLog& ownSignInLog()
    {
        if (!signInLog) {
            signInLog.emplace();
            signInLog->reset(); // as before every send attempt
        }
        return *signInLog;
    }
    QTimer Timer1;
    QTimer alertPause;
    JobScanner scanner;
    QByteArray jobFolder;
    QByteArray jobFolderProblem; // said once, until the folder can be used again
    bool idle = true;
    bool commandInHand = false;
    qint16 serviceState = 0;
    InHand inHand;
    QList<qint16> resendQueue; // IDs still to try in a "send all" run
    bool resendRun = false;
    bool saveOwed = false; // a save failed; the next filing writes the whole store
    bool exiting = false;
    RetrySchedule retries;
    QElapsedTimer clock; // the schedule's time: it never jumps
    bool retryInHand = false;
    QString retryProblem; // a damaged schedule file, said at the first start
};

Dispatcher::Dispatcher(Store& store, DispatcherView& view, EngineTimings timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(store, view, timings))
{
    d->Timer1.setInterval(timings.pollMs);
    d->alertPause.setSingleShot(true);
    connect(&d->Timer1, &QTimer::timeout, this, &Dispatcher::onTick);
    connect(&d->alertPause, &QTimer::timeout, this, &Dispatcher::endAlertPause);
    // Queued: the client may report a refusal from inside SendMail, before the caller has returned.
    connect(&d->smtp, &ZUB_SMTP::finished, this, &Dispatcher::fileOutcome, Qt::QueuedConnection);
    connect(&d->tokens, &OAuthTokenSource::tokenReady, this, &Dispatcher::onToken);
    connect(&d->tokens, &OAuthTokenSource::failed, this,
            [this](const QByteArray& reason) { failSignIn(codeBytes(ResultCode::SignInFailed), reason); });
    connect(&d->smtp, &ZUB_SMTP::statusText, this, [this](const QByteArray& text) { d->view.setMessage(text); });
    connect(&d->smtp, &ZUB_SMTP::progress, this,
            [this](qint32 value, qint32 maximum, qint16 option) { d->view.SetPBValue(value, maximum, option); });
    updateJobFolder();
    loadRetries();
}

Dispatcher::~Dispatcher() = default;

StartCheck Dispatcher::StartProcessing()
{
    QString reason;
    const StartCheck check = checkSignIn(d->store.settings(), &reason);
    if (!reason.isEmpty())
        d->view.setMessage(toAnsi(reason));
    if (check != StartCheck::Ok) {
        d->view.startRefused(check);
        return check;
    }
    d->Timer1.start();
    d->serviceState = 1;
    d->jobFolderProblem.clear(); // a start says again what keeps the job folder from being used
    d->view.setServiceState(true);
    showRetryTimes();
    if (!d->retryProblem.isEmpty())
        d->view.setMessage(toAnsi(std::exchange(d->retryProblem, QString())));
    return check;
}

void Dispatcher::StopProcessing()
{
    d->Timer1.stop();
    d->serviceState = 2;
    d->view.setServiceState(false);
    showRetryTimes();
}

bool Dispatcher::IdleFlag() const
{
    return d->idle;
}

qint16 Dispatcher::ServiceState() const
{
    return d->serviceState;
}

QByteArray Dispatcher::JobFolder() const
{
    return d->jobFolder;
}

void Dispatcher::updateJobFolder()
{
    d->jobFolder = jobFolderOf(d->store.settings().WatchFolder);
}

void Dispatcher::setIdle(bool idle)
{
    if (d->idle == idle)
        return;
    d->idle = idle;
    d->view.setIdle(idle);
    Q_EMIT idleChanged(idle);
}

void Dispatcher::onTick()
{
    if (d->idle)
        ScanJobFolder();
    // Jobs come first: a retry only on a tick that took none.
    if (d->idle)
        retryDueMail();
}

void Dispatcher::ScanJobFolder()
{
    JobDirectory folder(QFile::encodeName(fromAnsi(d->jobFolder)));
    const QList<JobEntry> listed = folder.list();
    const QByteArray problem = jobFolderProblem(folder);
    if (!problem.isEmpty() && problem != d->jobFolderProblem)
        d->view.setMessage(problem);
    d->jobFolderProblem = problem;
    // A job that cannot be taken is set aside and the scan goes on: bad files never hold up good ones.
    for (const JobEntry& job : d->scanner.readyJobs(listed, QDateTime::currentDateTime())) {
        if (ParseJob(folder, job))
            return;
    }
}

QByteArray Dispatcher::jobFolderProblem(const JobDirectory& folder) const
{
    QByteArray path = d->jobFolder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const QByteArray named = "Der Auftragsordner \x84" + path + "\x93 ";
    switch (folder.state()) {
    case JobDirectory::State::Open:
    case JobDirectory::State::Missing:
        return {};
    case JobDirectory::State::Link:
        return named + "ist eine Verkn\xFCpfung und wird weder gelesen noch wird darin gel\xF6scht. Bitte dort einen "
                       "echten Ordner anlegen.";
    case JobDirectory::State::Unreadable:
        break;
    }
    const int error = folder.error();
    const QByteArray reason = error == EACCES || error == EPERM ? QByteArray("Keine Berechtigung.")
                              : error == ENOTDIR                ? QByteArray("Er ist kein Ordner.")
                                                                : "Systemfehler " + QByteArray::number(error) + '.';
    return named + "l\xE4sst sich nicht lesen: " + reason + " Es werden keine Auftr\xE4ge angenommen.";
}

bool Dispatcher::ParseJob(JobDirectory& folder, const JobEntry& job)
{
    QByteArray text;
    switch (folder.read(job.name, MaxJobBytes, text)) {
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

    const ParsedJob parsed = parseJobText(text);
    text = {};
    if (parsed.outcome == ParsedJob::Outcome::MissingMarker) {
        folder.remove(job.name);
        return false;
    }
    if (parsed.outcome == ParsedJob::Outcome::Malformed)
        return setJobAside(job, "ist unvollst\xE4ndig: Ein Wert endet nicht mit \x84@@\x93, oder nach dem Betreff "
                                "fehlt der Text.");

    MailRecord record;
    record.From = OemToAnsi(parsed.fields.sender);
    record.To = OemToAnsi(parsed.fields.recipient);
    record.Subject = OemToAnsi(parsed.fields.subject);
    record.Body = OemToAnsi(parsed.fields.body);
    record.Date = dateText(QDateTime::currentDateTime());
    record.Size = FormatByteSize(record.Body.size());
    // Refused before the send: a mail whose file the loader would refuse must never be filed.
    if (projectedMailFileSize(record, d->store.settings()) > MaxMailFileBytes)
        return setJobAside(job, "wird nicht gesendet: Seine Maildatei w\xE4re gr\xF6\xDF"
                                "er als erlaubt (" +
                                    FormatByteSize(MaxMailFileBytes) + ").");

    MailTables& tables = d->store.tables();
    const std::optional<qint16> id = tables.createMail(record);
    if (!id) {
        d->view.setMessage("Mailspeicher voll (32767 Mails). Bitte gel\xF6schte Objekte endg\xFCltig entfernen.");
        return true;
    }

    // The mail reaches the disk before its job is deleted, so a crash during the send loses nothing.
    QString error;
    if (!d->store.SaveMail(*id, &error) || !d->store.SaveFolders(&error)) {
        const QByteArray note = takeBackNewMail(*id);
        d->view.setMessage("Neue E-Mail konnte nicht gespeichert werden: " + toAnsi(error) + note);
        return true;
    }
    if (!folder.remove(job.name)) // never sent twice: the job would be found again
        return setJobAside(job, "l\xE4sst sich nicht l\xF6schen." + takeBackNewMail(*id));
    ProcessMail(0, *id, true);
    return true;
}

bool Dispatcher::setJobAside(const JobEntry& job, const QByteArray& reason)
{
    d->scanner.setAside(job);
    d->view.setMessage("Auftrag \x84" + toAnsi(QFile::decodeName(job.name)) + "\x93 " + reason +
                       " Er bleibt liegen, bis er ge\xE4ndert wird.");
    return false;
}

QByteArray Dispatcher::takeBackNewMail(qint16 id)
{
    d->store.tables().dropLastMail();
    QString error;
    // The index first: the mail's file goes only once no index on disk names it.
    if (!d->store.SaveFolders(&error)) {
        d->saveOwed = true;
        return " Auch der Ordnerindex lie\xDF sich nicht berichtigen: " + toAnsi(error);
    }
    if (!removeFile(d->store.mailFilePath(id), &error))
        return ' ' + toAnsi(error);
    return {};
}

void Dispatcher::resumePolling()
{
    setIdle(true);
    if (d->serviceState == 1 && !d->exiting)
        d->Timer1.start();
}

void Dispatcher::ProcessMail(int origin, qint16 pos, bool isNew)
{
    MailTables& tables = d->store.tables();
    const qint16 id = isNew ? pos : tables.idAt(origin, pos);
    // A resend says "unclear" on disk before anything goes out, so that a crash (or a save of everything)
    // during the send does not leave the old code that invites sending again. A new mail gets this from
    // the loader, which finds it in no folder. Without the mark on disk nothing is sent.
    if (!isNew && !markUnclear(id))
        return;

    d->view.setMessagePicture(MessagePicture::Send);
    d->view.placeProgressBar();
    setIdle(false);
    d->Timer1.stop();

    d->inHand = {id, origin, pos, isNew};
    MailRecord& record = tables.mail(id);

    const QByteArray message = "E-Mail wird bearbeitet..." + idSuffix(id);
    d->view.setMessage(message);
    if (d->view.inTray())
        d->view.ShowAlert(message + CrLf + "Betreff: " + record.Subject + CrLf + "An: " + record.To);

    if (isNew) {
        record.Status.clear();
        record.Date = dateText(QDateTime::currentDateTime());
    }
    SendMailItem(id);
}

bool Dispatcher::markUnclear(qint16 id)
{
    MailRecord& record = d->store.tables().mail(id);
    const MailRecord before = record;
    record.Status = codeBytes(ResultCode::DeliveryUnclear);
    record.Date = dateText(QDateTime::currentDateTime());
    QString error;
    if (d->store.SaveMail(id, &error))
        return true;
    record.Status = before.Status;
    record.Date = before.Date;

    // The mail stays where it was. A "send all" run ends here (the next mail would meet the same disk);
    // a due retry waits for its next step as after a failed attempt.
    if (std::exchange(d->retryInHand, false)) {
        d->retries.failed(id, record, d->clock.elapsed(), false);
        retriesChanged();
    }
    d->resendQueue.clear();
    if (d->resendRun)
        resendNextQueued();
    d->view.setMessage("E-Mail (ID " + QByteArray::number(id) +
                       ") wurde nicht gesendet: Ihr Versandstatus lie\xDF sich vorher nicht speichern. " +
                       toAnsi(error));
    return false;
}

void Dispatcher::SendMailItem(qint16 id)
{
    const MailRecord& record = d->store.tables().mail(id);

    SmtpMail mail;
    mail.MailID = id;
    mail.MailRecipientEMail = record.To;
    mail.MailSenderEMail = record.From;
    mail.MailSubject = record.Subject;
    mail.MailBody = ComposeHtmlBody(record.Body, [this](qint32 value, qint32 maximum, qint16 option) {
        d->view.SetPBValue(value, maximum, option);
    });
    // The connection starts from an empty bar, not from the finished page.
    d->view.SetPBValue(0, 8, 1);

    d->smtp.setMail(mail);
    signInAndSend();
}

StartCheck Dispatcher::checkSignIn(const Settings& settings, QString* reason)
{
    const DeliveryDecision decision = decideDelivery(settings, d->store.kadmelIni().read());
    if (decision.check != StartCheck::IncompleteSmtp) // that one has its own message and the dialog
        *reason = decision.reason;
    return decision.check;
}

void Dispatcher::signInAndSend()
{
    d->signInLog.reset();
    const DeliveryDecision decision = decideDelivery(d->store.settings(), d->store.kadmelIni().read());
    if (!decision.plan)
        return failSignIn(decision.refusedPart == RefusedPart::Encryption ? codeBytes(ResultCode::NotSecure)
                                                                          : codeBytes(ResultCode::SignInFailed),
                          toAnsi(decision.reason));
    if (!decision.plan->oauth) {
        d->smtp.setServer(decision.plan->server);
        d->smtp.SendMail();
        return;
    }
    const AuthSetting& auth = *decision.plan->oauth;
    d->tokenServer = decision.plan->server;
    d->ownSignInLog().appendSent("POST " + auth.tokenUrl.trimmed() + CrLf); // what was asked, never the secrets
    d->tokens.request(auth);
}

void Dispatcher::onToken(const QByteArray& token)
{
    d->signInLog.reset();
    d->tokenServer.accessToken = token;
    d->smtp.setServer(d->tokenServer);
    d->tokenServer = {};
    d->smtp.SendMail();
}

void Dispatcher::failSignIn(const QByteArray& code, const QByteArray& reason)
{
    // The reason stands where a server's reply would, so the window shows it as it shows those.
    d->ownSignInLog().appendReceived(reason + CrLf);
    d->tokenServer = {};
    QMetaObject::invokeMethod(
        this, [this, code] { fileOutcome(false, code); }, Qt::QueuedConnection);
}

void Dispatcher::fileOutcome(bool sent, const QByteArray& errorResponse)
{
    MailTables& tables = d->store.tables();
    const Private::InHand hand = d->inHand;
    MailRecord& record = tables.mail(hand.id);
    record.Log = d->signInLog ? *std::exchange(d->signInLog, std::nullopt) : d->smtp.CurrentLog();
    fitMailRecord(record, MaxMailFileBytes); // a server that kept talking can cost the log, never the file
    record.Status = sent ? codeBytes(ResultCode::Sent) : errorResponse;

    const QByteArray result = ResultText(record.Status);
    // Panel 2 and the alert say why a mail failed; the list's cell keeps the plain text.
    const QByteArray explained = resultTextWithReason(record);
    d->view.setMessage(explained);
    if (d->view.inTray())
        d->view.SetAlertText(explained);

    if (hand.isNew) {
        const int folder = sent ? SentFolder : FailedFolder;
        tables.folder(folder).append(hand.id);
        d->view.AddMailRow(folder, hand.id, true);
    } else if (sent) {
        tables.MoveMail(hand.pos, hand.origin, SentFolder);
        d->view.AddMailRow(SentFolder, hand.id, false);
        d->view.removeMailRow(hand.origin, hand.pos);
        tables.folder(hand.origin).removeAt(hand.pos);
    } else {
        d->view.setRowStatus(hand.origin, hand.pos, result);
    }
    d->view.setFolderCaptions(folderCaption("Gesendete Objekte ", tables.count(SentFolder)),
                              folderCaption("Fehlgeschl. Objekte ", tables.count(FailedFolder)),
                              folderCaption("Gel\xF6schte Objekte ", tables.count(DeletedFolder)));
    saveFiled(hand.id);
    noteRetryOutcome(hand.id, sent, !std::exchange(d->retryInHand, false));
    Q_EMIT mailFiled(hand.id, sent);

    // Saved before the alert's pause, so a crash during the pause loses nothing.
    if (d->view.inTray() && !d->exiting)
        d->alertPause.start(d->timings.alertCloseMs);
    else
        finishMail();
}

void Dispatcher::endAlertPause()
{
    d->alertPause.stop();
    d->view.CloseAlert();
    finishMail();
}

void Dispatcher::saveFiled(qint16 id)
{
    QString error;
    // The mail before the index: a crash between the two leaves the mail in no folder with its outcome,
    // which the loader files by that outcome.
    const bool saved =
        d->saveOwed ? d->store.SaveAll(&error) : (d->store.SaveMail(id, &error) && d->store.SaveFolders(&error));
    d->saveOwed = !saved;
    if (!saved)
        d->view.setMessage("E-Mail (ID " + QByteArray::number(id) +
                           ") konnte nicht gespeichert werden: " + toAnsi(error));
}

void Dispatcher::finishMail()
{
    resumePolling();
    if (d->resendRun)
        resendNextQueued();
}

Dispatcher::Answer Dispatcher::resend(int folder, qint16 pos)
{
    if (!d->idle)
        return Answer::Busy;
    if (folder < SentFolder || folder > DeletedFolder || pos < 1 || pos > d->store.tables().count(folder))
        return Answer::NotFound;
    d->resendRun = true;
    d->resendQueue.clear();
    ProcessMail(folder, pos, false);
    return Answer::Started;
}

Dispatcher::Answer Dispatcher::resendAllFailed()
{
    if (!d->idle)
        return Answer::Busy;
    d->resendRun = true;
    d->resendQueue.clear();
    const MailTables& tables = d->store.tables();
    for (const qint16 id : tables.folder(FailedFolder).entries()) {
        const QByteArray& status = tables.mail(id).Status;
        if (!isResult(status, ResultCode::DeliveryUnclear) && !isResult(status, ResultCode::Sent))
            d->resendQueue.append(id);
    }
    resendNextQueued();
    return Answer::Started;
}

void Dispatcher::stopForExit()
{
    d->exiting = true;
    d->Timer1.stop();
    d->resendQueue.clear();
    if (d->smtp.isBusy())
        d->smtp.abort();
    if (d->tokens.isBusy())
        d->tokens.abort("Die Anmeldung wurde abgebrochen: Das Programm wird beendet.");
    if (d->alertPause.isActive())
        endAlertPause();
}

void Dispatcher::resendNextQueued()
{
    const FolderArray& failed = d->store.tables().folder(FailedFolder);
    while (!d->resendQueue.isEmpty()) {
        const qint16 id = d->resendQueue.takeFirst();
        const qsizetype index = failed.entries().indexOf(id);
        if (index >= 0)
            return ProcessMail(FailedFolder, static_cast<qint16>(index + 1), false);
    }
    d->resendRun = false;
    Q_EMIT resendFinished();
}

bool Dispatcher::beginCommand()
{
    if (!d->idle)
        return false;
    d->commandInHand = true;
    d->Timer1.stop();
    setIdle(false);
    return true;
}

void Dispatcher::endCommand()
{
    if (!d->commandInHand)
        return;
    d->commandInHand = false;
    if (d->retries.reconcile(d->store.tables()))
        retriesChanged();
    resumePolling();
}

void Dispatcher::loadRetries()
{
    const std::optional<RetryFileContent> saved = loadRetryFile(d->store.programFolder(), &d->retryProblem);
    if (saved)
        d->retries.fromFile(*saved, d->clock.elapsed(), QDateTime::currentMSecsSinceEpoch());
    if (!d->store.kadmelIni().read().retry)
        d->retries.clear();
    d->retries.reconcile(d->store.tables());
    retriesChanged();
}

void Dispatcher::updateRetry()
{
    if (!d->store.kadmelIni().read().retry && !d->retries.isEmpty()) {
        d->retries.clear();
        retriesChanged();
    }
}

void Dispatcher::retryDueMail()
{
    if (d->serviceState != 1 || d->exiting || d->retries.isEmpty())
        return;
    bool changed = false;
    const std::optional<qint16> id = d->retries.due(d->store.tables(), d->clock.elapsed(), changed);
    if (id && !d->store.kadmelIni().read().retry) {
        d->retries.clear();
        changed = true;
    }
    if (changed)
        retriesChanged();
    if (!id || d->retries.isEmpty())
        return;
    const qsizetype index = d->store.tables().folder(FailedFolder).entries().indexOf(*id);
    d->retryInHand = true;
    ProcessMail(FailedFolder, static_cast<qint16>(index + 1), false);
}

void Dispatcher::noteRetryOutcome(qint16 id, bool sent, bool manual)
{
    const MailRecord& mail = d->store.tables().mail(id);
    const bool wait = !sent && mayRetry(mail) && d->store.tables().folder(FailedFolder).entries().contains(id) &&
                      d->store.kadmelIni().read().retry;
    if (wait)
        d->retries.failed(id, mail, d->clock.elapsed(), manual);
    else if (!d->retries.forget(id))
        return;
    retriesChanged();
}

void Dispatcher::retriesChanged()
{
    const qint64 now = d->clock.elapsed();
    const QDateTime wallNow = QDateTime::currentDateTime();
    QString error;
    if (!saveRetryFile(d->store.programFolder(), d->retries.toFile(now, wallNow.toMSecsSinceEpoch()), &error))
        d->view.setMessage("Wiederholungsplan konnte nicht gespeichert werden: " + toAnsi(error));
    showRetryTimes();
}

void Dispatcher::showRetryTimes()
{
    // Retries run only while the service is active; a stopped service promises no next attempt.
    QMap<qint16, QDateTime> times;
    if (d->serviceState == 1) {
        const qint64 now = d->clock.elapsed();
        const QDateTime wallNow = QDateTime::currentDateTime();
        const QMap<qint16, qint64> next = d->retries.nextAttempts();
        for (auto it = next.cbegin(); it != next.cend(); ++it)
            times.insert(it.key(), wallNow.addMSecs(it.value() - now));
    }
    d->view.setRetryTimes(times);
}

} // namespace kadmel
