#include "engine/Dispatcher.h"

#include "engine/AlertPause.h"
#include "engine/ByteText.h"
#include "engine/DeliveryAttempt.h"
#include "engine/Filing.h"
#include "engine/Housekeeping.h"
#include "engine/JobAttachments.h"
#include "engine/JobDirectory.h"
#include "engine/JobIntake.h"
#include "engine/JobParser.h"
#include "engine/LogLine.h"
#include "engine/OffThread.h"
#include "engine/Pacing.h"
#include "engine/Receipt.h"
#include "engine/Receipts.h"
#include "smtp/Message.h"
#include "store/Ansi.h"
#include "store/FileAccess.h"
#include "store/KadmelIni.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"

#include <QDateTime>
#include <QSet>
#include <QTimer>

#include <optional>

namespace kadmel {
namespace {

constexpr char CrLf[] = "\r\n";

QByteArray idSuffix(qint16 id)
{
    return "  (ID " + QByteArray::number(id) + ')';
}

qint64 wallClock()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// How far a run of several mails has come: `done` of `total`, the first taken at startMs.
struct RunCount
{
    int done = 0;
    int total = 0;
    qint64 startMs = 0;

    // The next mail of the run is in hand, `waiting` more behind it.
    void next(qsizetype waiting)
    {
        if (done++ == 0)
            startMs = wallClock();
        total = done + int(waiting);
    }
};

} // namespace

// What the dispatcher is doing. One mail (or a folder command) at a time: every phase but Idle and Ended
// holds Timer1 off.
enum class Dispatcher::Phase
{
    Idle,      // nothing in hand; Timer1 runs while the service is active
    TakingJob, // a big job is parsed and saved beside the window's thread
    Marking,   // a big mail's "unclear" mark is written beside the window's thread before its resend
    Sending,   // a mail in hand, from its attempt through its filing and the alert's pause
    Command,   // a folder command holds the dispatcher off
    Ending,    // the program ends: the job, mark or mail in hand finishes, nothing new begins
    Ended      // the program ends and nothing is in hand
};

// A resend request: one mail, or "Alle Senden" with the IDs it still has to try.
struct Dispatcher::ResendRun
{
    QList<qint16> queue;
    bool sendAll = false;           // "Alle Senden", which Stop ends
    std::optional<int> stoppedWith; // Stop asked: the mails it left untried
    int folder = FailedFolder;      // where the queue's mails stand
    RunCount count = {};            // of "Alle Senden"
};

struct Dispatcher::Private
{
    Private(Store& s, DispatcherView& v, const EngineTimings& t, SecretStore* secrets)
        : store(s), view(v), timings(t), intake(s, v, t), delivery(s, v, t, secrets), filing(s, v, t), receipts(s, v),
          alertPause(v, t.alertCloseMs), pacing(s)
    {}

    bool idle() const { return phase == Phase::Idle || phase == Phase::Ended; }
    bool ending() const { return phase == Phase::Ending || phase == Phase::Ended; }

    Store& store;
    DispatcherView& view;
    EngineTimings timings;
    JobIntake intake;
    DeliveryAttempt delivery;
    Filing filing;
    // Listeners of the intake and the filing.
    Receipts receipts;
    AlertPause alertPause;
    Pacing pacing;
    QTimer paceTimer; // paced sending: the moment the window has room again
    RunCount jobRun;  // jobs taken back to back, while the scans find more waiting
    QTimer Timer1;
    qint16 serviceState = 0;
    Phase phase = Phase::Idle;
    MailInHand inHand;
    bool manual = true;         // the attempt in hand was asked for, not an automatic retry
    bool attempting = false;    // its delivery attempt runs: from its start to its outcome
    std::optional<Cut> cutNext; // asked while a job or mark was still being made: the attempt that follows
    std::optional<ResendRun> run;
    std::unique_ptr<Housekeeping> housekeeping;
    // Mails whose job a kill left behind after they were saved: never begun, they go first.
    QList<std::pair<qint16, QByteArray>> untried; // ID and Message-ID

    OffThread worker; // last: destroyed first, it waits for a mark still being written
};

Dispatcher::Dispatcher(Store& store, DispatcherView& view, EngineTimings timings, SecretStore* secrets, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(store, view, timings, secrets))
{
    d->Timer1.setInterval(timings.pollMs);
    connect(&d->Timer1, &QTimer::timeout, this, &Dispatcher::onTick);
    d->paceTimer.setSingleShot(true);
    d->paceTimer.setTimerType(Qt::PreciseTimer); // a coarse one may fire 5 % early, an hour on a day's wait
    connect(&d->paceTimer, &QTimer::timeout, this, &Dispatcher::onPaceTimer);
    connect(&d->intake, &JobIntake::finished, this, &Dispatcher::onIntakeFinished);
    connect(&d->delivery, &DeliveryAttempt::finished, this, &Dispatcher::onAttemptFinished);
    connect(&d->intake, &JobIntake::taking, this,
            [this](qint16 id, const QByteArray& name) { d->receipts.remember(id, name); });
    connect(&d->intake, &JobIntake::refused, this,
            [this](const QByteArray& name, const QByteArray& reason, const MailRecord& job) {
                writeLogLine(LogPriority::Failure, refusalLogLine(name, reason));
                d->receipts.refused(name, reason, job);
                writeReceipts();
            });
    // The filing's listeners, in this order: the log line, the receipt, the window, the alert's pause,
    // whose end makes the mail done.
    connect(&d->filing, &Filing::filed, this, [this](qint16 id, bool sent) {
        const QMap<qint16, QDateTime> next = d->filing.retryTimes();
        const auto due = next.constFind(id);
        // A failure that is tried again is a warning; one that stays is a failure.
        const LogPriority priority =
            sent ? LogPriority::Delivery : (due == next.cend() ? LogPriority::Failure : LogPriority::Warning);
        writeLogLine(priority, outcomeLogLine(id, d->store.tables().mail(id),
                                              due == next.cend() ? std::nullopt : std::optional(*due)));
    });
    connect(&d->filing, &Filing::filed, this, [this](qint16 id) {
        d->receipts.owe(id, false);
        writeReceipts();
    });
    connect(&d->filing, &Filing::filed, this, [this](qint16 id, bool sent) {
        if (sent && d->store.kadmelIni().read().deleteSentAttachments)
            removeSentSources(d->store.programFolder(), d->store.tables().mail(id));
    });
    connect(&d->filing, &Filing::filed, this, &Dispatcher::mailFiled);
    // Paced, the next mail does not wait for the alert: it shows the latest.
    connect(&d->filing, &Filing::filed, this, [this] { d->alertPause.begin(!d->pacing.isSet()); });
    connect(&d->alertPause, &AlertPause::over, this, &Dispatcher::finishMail);
    // Every save of the settings writes kadmel.ini: the job folder and the retry choice follow it.
    connect(&store.kadmelIni(), &KadmelIniFile::changed, this, [this] {
        updateJobFolder();
        updateRetry();
        updatePace();
    });
    updateJobFolder();
    d->filing.loadRetries();
    d->receipts.load();
    d->filing.setDayFrees([this] { return d->pacing.dayFrees(); });
    reclaimJobsTaken();
    d->housekeeping = std::make_unique<Housekeeping>(*this, store, view, timings);
}

Dispatcher::~Dispatcher() = default;

StartCheck Dispatcher::StartProcessing(QString* reason)
{
    QString said;
    const StartCheck check = d->delivery.checkStart(d->store.settings(), &said);
    if (!said.isEmpty()) // one line in panel 2
        d->view.setMessage(toAnsi(said).replace('\n', ' '));
    if (reason)
        *reason = said;
    if (check != StartCheck::Ok) {
        d->view.startRefused(check, said);
        return check;
    }
    d->Timer1.start();
    d->serviceState = 1;
    if (d->pacing.isSet() && d->phase == Phase::Idle) // paced: the folder is looked into at once
        d->paceTimer.start(0);
    d->intake.forgetFolderProblem(); // a start says again what keeps the job folder from being used
    d->view.setServiceState(true);
    d->filing.setServiceActive(true);
    for (const QString& problem :
         {d->filing.takeLoadProblem(), d->receipts.takeLoadProblem(), d->pacing.takeLoadProblem()}) {
        if (!problem.isEmpty())
            d->view.setMessage(toAnsi(problem));
    }
    if (pauseHolds()) // a pause from before a restart goes on
        d->view.setMessage(d->filing.pauseMessage());
    writeReceipts();
    return check;
}

void Dispatcher::StopProcessing()
{
    endSendAll();
    if (!d->ending()) // the exit has cut the mail in hand already, with its own grace
        cutShort(Cut::Person);
    d->Timer1.stop();
    d->serviceState = 2;
    d->view.setServiceState(false);
    d->filing.setServiceActive(false);
    if (d->idle())
        writeReceipts();
}

bool Dispatcher::IdleFlag() const
{
    return d->idle();
}

qint16 Dispatcher::ServiceState() const
{
    return d->serviceState;
}

QByteArray Dispatcher::JobFolder() const
{
    return d->intake.jobFolder();
}

void Dispatcher::updateJobFolder()
{
    d->intake.setJobFolder(jobFolderOf(d->store.settings().WatchFolder));
}

void Dispatcher::updateRetry()
{
    d->filing.updateRetry();
}

void Dispatcher::updatePace()
{
    d->pacing.update();
    // A resend run waiting for the window goes on as the new limits let it.
    if (d->phase == Phase::Idle && d->run)
        resendNextQueued();
    else
        takeNextPaced();
}

void Dispatcher::setPhase(Phase phase)
{
    const bool wasIdle = d->idle();
    d->phase = phase;
    if (phase != Phase::Idle)
        d->Timer1.stop();
    if (d->idle() == wasIdle)
        return;
    if (!wasIdle) // no next mail in hand: a kept connection ends
        d->delivery.release();
    d->view.setIdle(!wasIdle);
    Q_EMIT idleChanged(!wasIdle);
}

void Dispatcher::hold(Phase phase)
{
    // Once the program ends, what comes in hand finishes as part of the ending.
    setPhase(d->ending() && phase != Phase::Command ? Phase::Ending : phase);
}

void Dispatcher::onTick()
{
    if (d->phase != Phase::Idle)
        return;
    takeJob(false);
}

void Dispatcher::takeJob(bool goOn)
{
    writeReceipts(); // a receipt that could not be written is tried again on every tick
    // The server asked for a pause: nothing starts before its end.
    if (pauseHolds())
        return;
    // Paced and the window full: neither a job nor a retry goes before it has room.
    if (const qint64 wait = d->pacing.waitMs(); wait > 0)
        return d->paceTimer.start(int(wait));
    if (sendUntried())
        return;
    // A pause just over: the mail it held goes first.
    if (d->filing.pause() == Filing::Pause::Over && retryDueMail())
        return;
    scanJobs(goOn);
}

void Dispatcher::reclaimJobsTaken()
{
    // A new mail is saved before its job is deleted, and sent only after that: one found in hand whose job
    // file is still there, holding the same mail, was never begun. Its job goes and it is sent as its job
    // would have been. A new job under the name is a mail of its own.
    JobDirectory folder(QFile::encodeName(fromAnsi(d->intake.jobFolder())));
    for (const qint16 id : d->store.mailsFoundInHand()) {
        const QByteArray name = extrasOf(d->store.tables().mail(id)).jobName;
        QByteArray text;
        if (name.isEmpty() || folder.read(name, MaxMailFileBytes / 2, text) != JobRead::Read)
            continue;
        const ParsedJob job = parseJobText(text);
        const MailRecord& mail = d->store.tables().mail(id);
        if (job.outcome != ParsedJob::Outcome::Ok || OemToAnsi(job.fields.sender) != mail.From ||
            OemToAnsi(job.fields.recipient) != mail.To || OemToAnsi(job.fields.subject) != mail.Subject ||
            OemToAnsi(job.fields.body) != mail.Body || !folder.remove(name))
            continue;
        d->untried.append({id, messageIdOf(mail)});
    }
}

bool Dispatcher::sendUntried()
{
    const MailTables& tables = d->store.tables();
    while (!d->untried.isEmpty()) {
        const auto [id, messageId] = d->untried.takeFirst();
        // A folder command may have moved, edited or renumbered it since: then it is left as it stands.
        const qsizetype index = tables.folder(FailedFolder).entries().indexOf(id);
        if (index < 0 || messageIdOf(tables.mail(id)) != messageId ||
            !isResult(tables.mail(id).Status, ResultCode::DeliveryUnclear))
            continue;
        ProcessMail({id, FailedFolder, static_cast<qint16>(index + 1)}, true);
        return true;
    }
    return false;
}

void Dispatcher::scanJobs(bool goOn)
{
    if (goOn)
        d->intake.scanOn();
    else
        d->intake.scan();
    // A big job is parsed and saved beside the window's thread: it is in hand from now on.
    if (d->intake.isWorking())
        hold(Phase::TakingJob);
}

void Dispatcher::onIntakeFinished(qint16 id)
{
    if (d->intake.takeSaveOwed())
        d->filing.oweSave();
    if (id > 0) {
        d->jobRun.next(d->intake.waitingJobs());
        return ProcessMail({id}, true);
    }
    if (std::exchange(d->jobRun, {}).done > 0 && !d->run)
        d->view.setRunProgress({});
    if (!d->idle())
        resumePolling();
    // Jobs come first: a retry only on a tick that took none.
    retryDueMail();
}

void Dispatcher::resumePolling()
{
    d->cutNext.reset(); // nothing came in hand to be cut
    // A command held when the program began to end ends as usual: that exit stopped the service first.
    setPhase(d->ending() ? Phase::Ended : Phase::Idle);
    if (d->serviceState == 1 && d->phase == Phase::Idle)
        d->Timer1.start();
    takeNextPaced();
}

void Dispatcher::takeNextPaced()
{
    if (!d->pacing.isSet() || d->phase != Phase::Idle)
        return;
    // From the event loop, so that a long run never deepens the stack of the mail before.
    if (d->run || (d->serviceState == 1 && d->intake.waitingJobs() > 0))
        d->paceTimer.start(int(d->pacing.waitMs()));
}

void Dispatcher::onPaceTimer()
{
    if (d->phase != Phase::Idle)
        return; // what comes in hand now calls again once it is done
    if (d->run)
        return resendNextQueued();
    if (d->serviceState == 1)
        takeJob(true);
}

void Dispatcher::showProgress(const MailInHand& hand)
{
    const RunCount* run = hand.isNew() ? &d->jobRun : d->run && d->run->sendAll ? &d->run->count : nullptr;
    if (!run || run->total < 2)
        return d->view.setRunProgress({});
    // The time per mail as the run has gone so far; before its second mail, a tick per job when not paced.
    const qint64 now = wallClock();
    const qint64 perMail = run->done > 1                        ? (now - run->startMs) / (run->done - 1)
                           : hand.isNew() && !d->pacing.isSet() ? d->timings.pollMs
                                                                : 0;
    d->view.setRunProgress(progressText(run->done, run->total, d->pacing.expectedEnd(run->total - run->done, perMail),
                                        QDateTime::fromMSecsSinceEpoch(now)));
}

void Dispatcher::ProcessMail(const MailInHand& hand, bool manual)
{
    if (hand.isNew())
        return sendInHand(hand, manual);
    // A resend says "unclear" on disk before anything goes out, so that a crash (or a save of everything)
    // during the send does not leave the old code that invites sending again. A new mail gets this from
    // the loader, which finds it in no folder. Without the mark on disk nothing is sent.
    MailRecord& record = d->store.tables().mail(hand.id);
    const MailRecord before = record;
    record.Status = codeBytes(ResultCode::DeliveryUnclear);
    record.Date = dateText(QDateTime::currentDateTime());
    // A mail from before Message-IDs or edited gets one, saved with the mark. A mail delivered before goes out
    // again on purpose: as a new message, which a recipient's system that drops a known Message-ID would swallow.
    // One a report refused gets a new one too, so a late report of the old attempt cannot fail the new one.
    if (!isMessageId(messageIdOf(record)) || isResult(before.Status, ResultCode::Sent) ||
        isResult(before.Status, ResultCode::Undeliverable))
        setMessageId(record, NewMessageId(fieldValue(record.From)));
    const bool beside = record.Body.size() >= d->timings.offThreadBytes;
    if (beside) // the mail is in hand while its file is written
        hold(Phase::Marking);
    saveMailBeside(d->worker, d->store, hand.id, beside,
                   [this, hand, manual, before](bool marked, const QString& error) {
                       if (marked) {
                           d->receipts.owe(hand.id, true);
                           return sendInHand(hand, manual);
                       }
                       MailRecord& record = d->store.tables().mail(hand.id);
                       record.Status = before.Status;
                       record.Date = before.Date;
                       record.Reserved = before.Reserved;
                       if (!d->idle())
                           resumePolling();
                       markNotSaved(hand.id, manual, error);
                   });
}

void Dispatcher::markNotSaved(qint16 id, bool manual, const QString& error)
{
    // The mail stays where it was. A "send all" run ends here (the next mail would meet the same disk);
    // a due retry waits for its next step as after a failed attempt.
    if (!manual)
        d->filing.retryNotBegun(id);
    if (d->run) {
        d->run->queue.clear();
        resendNextQueued();
    }
    d->view.setMessage("E-Mail (ID " + QByteArray::number(id) +
                       ") wurde nicht gesendet: Ihr Versandstatus lie\xDF sich vorher nicht speichern. " +
                       toAnsi(error));
}

void Dispatcher::sendInHand(const MailInHand& hand, bool manual)
{
    d->view.setMessagePicture(MessagePicture::Send);
    d->view.placeProgressBar();
    hold(Phase::Sending);

    d->inHand = hand;
    d->manual = manual;
    MailRecord& record = d->store.tables().mail(hand.id);

    d->alertPause.mailInHand();
    // Counted before anything goes out, so that no crash can leave a mail uncounted.
    if (const QString problem = d->pacing.count(); !problem.isEmpty()) {
        writeLogLine(LogPriority::Warning, toAnsi(problem));
        d->view.setMessage(toAnsi(problem));
    }
    showProgress(hand);
    const QByteArray message = "E-Mail wird bearbeitet..." + idSuffix(hand.id);
    d->view.setMessage(message);
    // A subject may span lines up to its job's next marker: folded onto one row, "An:" stays in the alert.
    if (d->view.inTray())
        d->view.ShowAlert(message + CrLf + "Betreff: " + oneLine(record.Subject, record.Subject.size()) + CrLf +
                          "An: " + oneLine(record.To, record.To.size()));

    if (hand.isNew()) {
        record.Status.clear();
        record.Date = dateText(QDateTime::currentDateTime());
    }
    d->attempting = true;
    d->delivery.start(hand.id, nextMailReady());
    if (const std::optional<Cut> cut = std::exchange(d->cutNext, std::nullopt))
        cutShort(*cut);
}

void Dispatcher::cutShort(Cut cut)
{
    if (!d->attempting) {
        if (d->phase == Phase::TakingJob || d->phase == Phase::Marking || d->phase == Phase::Ending)
            d->cutNext = cut;
        return;
    }
    // Panel 2 says it at once; the attempt's own words (the wait for a reply) or its outcome follow.
    d->view.setMessage("E-Mail wird abgebrochen..." + idSuffix(d->inHand.id));
    d->delivery.abort(cut);
}

void Dispatcher::onAttemptFinished(const DeliveryOutcome& outcome)
{
    d->attempting = false;
    d->filing.file(d->inHand, outcome, d->delivery.takeLog(), d->manual);
}

bool Dispatcher::nextMailReady() const
{
    if (d->ending())
        return false;
    if (d->run)
        return !d->run->queue.isEmpty();
    return d->pacing.isSet() && d->serviceState == 1 && d->intake.waitingJobs() > 0;
}

void Dispatcher::finishMail()
{
    // The server's pause ends a run as Stop does, and nothing more goes before its end.
    const bool paused = pauseHolds();
    // The next mail comes in hand before the dispatcher is idle, so that a kept connection can carry it: a
    // run's next one; paced, with room in the window, also a waiting job.
    if (!paused && d->phase == Phase::Sending && d->pacing.waitMs() == 0) {
        if (nextMailReady() && d->run)
            return resendNextQueued();
        if (nextMailReady())
            return takeJob(true);
    }
    resumePolling();
    if (d->run && paused) {
        endSendAll();
        d->run->queue.clear();
        resendNextQueued();
        return d->view.setMessage(d->filing.pauseMessage()); // panel 2 says the pause after the run's summary
    }
    // Paced, a run's next mail waits for the window (takeNextPaced); one that has none left ends now.
    if (d->run && (!d->pacing.isSet() || d->run->queue.isEmpty()))
        resendNextQueued();
}

Dispatcher::Answer Dispatcher::resend(int folder, qint16 pos)
{
    if (!d->idle() || d->run)
        return Answer::Busy;
    if (pauseHolds())
        return Answer::Paused;
    if (folder < SentFolder || folder > DeletedFolder || pos < 1 || pos > d->store.tables().count(folder))
        return Answer::NotFound;
    d->run.emplace();
    const qint16 id = d->store.tables().idAt(folder, pos);
    // Paced and the window full: the mail waits for it like a run of one.
    if (d->pacing.waitMs() > 0) {
        d->run->queue = {id};
        d->run->folder = folder;
        resendNextQueued();
        return Answer::Started;
    }
    ProcessMail({id, folder, pos}, true);
    return Answer::Started;
}

Dispatcher::Answer Dispatcher::resendAllFailed()
{
    return resendFailed(d->store.tables().folder(FailedFolder).entries());
}

Dispatcher::Answer Dispatcher::resendFailed(const QList<qint16>& ids)
{
    if (!d->idle() || d->run)
        return Answer::Busy;
    if (pauseHolds())
        return Answer::Paused;
    d->run = ResendRun{{}, true, std::nullopt};
    Q_EMIT sendAllRunningChanged(true);
    const MailTables& tables = d->store.tables();
    const QSet<qint16> chosen(ids.cbegin(), ids.cend());
    for (const qint16 id : tables.folder(FailedFolder).entries()) {
        const QByteArray& status = tables.mail(id).Status;
        if (chosen.contains(id) && !isResult(status, ResultCode::DeliveryUnclear) &&
            !isResult(status, ResultCode::Sent))
            d->run->queue.append(id);
    }
    resendNextQueued();
    return Answer::Started;
}

bool Dispatcher::sendAllRunning() const
{
    return d->run && d->run->sendAll && !d->run->stoppedWith;
}

bool Dispatcher::sendAllUnderWay() const
{
    return d->run && d->run->sendAll;
}

QByteArray Dispatcher::pauseMessage() const
{
    return pauseHolds() ? d->filing.pauseMessage() : QByteArray();
}

void Dispatcher::setDayFrees(std::function<std::optional<QDateTime>()> dayFrees)
{
    d->filing.setDayFrees(std::move(dayFrees));
}

bool Dispatcher::pauseHolds() const
{
    return d->filing.pause() == Filing::Pause::Holding;
}

void Dispatcher::stopSendAll()
{
    if (!sendAllRunning())
        return; // a single resend, or a run already stopped, is not this command's
    endSendAll();
    cutShort(Cut::Person);
}

void Dispatcher::endSendAll()
{
    if (!sendAllRunning())
        return;
    d->run->stoppedWith = int(d->run->queue.size());
    d->run->queue.clear();
    Q_EMIT sendAllRunningChanged(false);
    if (d->phase == Phase::Idle) // waiting for the pace's window, with no mail in hand
        resendNextQueued();
}

void Dispatcher::stopForExit(Cut cut)
{
    d->Timer1.stop();
    d->paceTimer.stop();
    endSendAll();
    if (d->run)
        d->run->queue.clear();
    if (d->phase != Phase::Command)
        d->phase = d->idle() ? Phase::Ended : Phase::Ending;
    if (d->run && d->idle()) // a resend waiting for the pace's window ends untried
        resendNextQueued();
    cutShort(cut);
    d->alertPause.cut();
}

void Dispatcher::resendNextQueued()
{
    if (!d->run->queue.isEmpty()) {
        if (const qint64 wait = d->pacing.waitMs(); wait > 0)
            return d->paceTimer.start(int(wait));
    }
    const FolderArray& from = d->store.tables().folder(d->run->folder);
    while (!d->run->queue.isEmpty()) {
        const qint16 id = d->run->queue.takeFirst();
        const qsizetype index = from.entries().indexOf(id);
        if (d->run->sendAll)
            d->run->count.next(d->run->queue.size());
        if (index >= 0)
            return ProcessMail({id, d->run->folder, static_cast<qint16>(index + 1)}, true);
    }
    if (!d->idle()) // the run's last mails were no longer in the folder
        resumePolling();
    const bool running = sendAllRunning();
    const std::optional<int> notTried = d->run->stoppedWith;
    if (d->run->sendAll)
        d->view.setRunProgress({});
    d->run.reset();
    if (running)
        Q_EMIT sendAllRunningChanged(false);
    Q_EMIT resendFinished(notTried.has_value(), notTried.value_or(0));
}

bool Dispatcher::beginCommand()
{
    if (d->phase != Phase::Idle) // nor once the program ends
        return false;
    setPhase(Phase::Command);
    return true;
}

void Dispatcher::endCommand(const CommandChanges& changes)
{
    if (d->phase != Phase::Command)
        return;
    d->filing.foldersChanged(changes);
    d->receipts.follow(changes);
    if (d->run) { // a resend run waiting for the pace's window follows a renumbering
        QList<qint16> queue;
        for (const qint16 id : std::as_const(d->run->queue))
            if (const qint16 now = changes.newIdOf(id))
                queue.append(now);
        d->run->queue = queue;
    }
    writeReceipts();
    resumePolling();
}

void Dispatcher::removingForGood(const QList<qint16>& ids)
{
    d->receipts.removing(ids);
}

void Dispatcher::outcomeChanged(qint16 id)
{
    d->receipts.owe(id, false);
}

bool Dispatcher::removedMailRefused(const std::function<bool(const QByteArray&)>& names, const QByteArray& answer)
{
    if (!d->receipts.reportedGone(names, answer))
        return false;
    writeReceipts();
    return true;
}

void Dispatcher::writeReceipts()
{
    d->receipts.write(d->filing.retryTimes());
}

bool Dispatcher::retryDueMail()
{
    if (d->serviceState != 1 || d->ending())
        return false;
    const std::optional<qint16> id = d->filing.dueRetry();
    if (!id)
        return false;
    const qsizetype index = d->store.tables().folder(FailedFolder).entries().indexOf(*id);
    ProcessMail({*id, FailedFolder, static_cast<qint16>(index + 1)}, false);
    return true;
}

} // namespace kadmel
