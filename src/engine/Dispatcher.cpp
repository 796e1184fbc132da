#include "engine/Dispatcher.h"

#include "engine/ByteText.h"
#include "engine/DeliveryAttempt.h"
#include "engine/Filing.h"
#include "engine/JobIntake.h"
#include "engine/OffThread.h"
#include "engine/Receipt.h"
#include "engine/Receipts.h"
#include "smtp/Message.h"
#include "store/Ansi.h"
#include "store/KadmelIni.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"

#include <QDateTime>
#include <QTimer>

#include <cstdio>

#include <utility>

namespace kadmel {
namespace {

constexpr char CrLf[] = "\r\n";

QByteArray idSuffix(qint16 id)
{
    return "  (ID " + QByteArray::number(id) + ')';
}

// Standard error is what the desktop session's journal collects.
void logLine(const QByteArray& line)
{
    std::fputs((line + '\n').constData(), stderr);
    std::fflush(stderr);
}

} // namespace

struct Dispatcher::Private
{
    Private(Store& s, DispatcherView& v, const EngineTimings& t, SecretStore* secrets)
        : store(s), view(v), timings(t), intake(s, v, t), delivery(s, v, t, secrets), filing(s, v, t), receipts(s, v)
    {}

    Store& store;
    DispatcherView& view;
    EngineTimings timings;
    JobIntake intake;
    DeliveryAttempt delivery;
    Filing filing;
    Receipts receipts;
    QTimer Timer1;
    QTimer alertPause;
    bool idle = true;
    bool commandInHand = false;
    qint16 serviceState = 0;
    MailInHand inHand;
    QList<qint16> resendQueue; // IDs still to try in a "send all" run
    bool resendRun = false;
    bool sendAll = false; // the run is "Alle Senden", which Stop ends
    int notTried = -1;    // a "send all" run was stopped with these left; -1 while it runs on
    bool exiting = false;
    bool retryInHand = false;
    OffThread worker; // last: destroyed first, it waits for a mark still being written
};

Dispatcher::Dispatcher(Store& store, DispatcherView& view, EngineTimings timings, SecretStore* secrets, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(store, view, timings, secrets))
{
    d->Timer1.setInterval(timings.pollMs);
    d->alertPause.setSingleShot(true);
    connect(&d->Timer1, &QTimer::timeout, this, &Dispatcher::onTick);
    connect(&d->alertPause, &QTimer::timeout, this, &Dispatcher::endAlertPause);
    connect(&d->intake, &JobIntake::finished, this, &Dispatcher::onIntakeFinished);
    connect(&d->delivery, &DeliveryAttempt::finished, this, &Dispatcher::onAttemptFinished);
    connect(&d->filing, &Filing::filed, this, &Dispatcher::onFiled);
    connect(&d->intake, &JobIntake::taking, this,
            [this](qint16 id, const QByteArray& name) { d->receipts.remember(id, name); });
    connect(&d->intake, &JobIntake::refused, this,
            [this](const QByteArray& name, const QByteArray& reason, const MailRecord& job) {
                logLine(refusalLogLine(name, reason));
                d->receipts.refused(name, reason, job);
                writeReceipts();
            });
    // Every save of the settings writes kadmel.ini: the job folder and the retry choice follow it.
    connect(&store.kadmelIni(), &KadmelIniFile::changed, this, [this] {
        updateJobFolder();
        updateRetry();
    });
    updateJobFolder();
    d->filing.loadRetries();
    d->receipts.load();
}

Dispatcher::~Dispatcher() = default;

StartCheck Dispatcher::StartProcessing(QString* reason)
{
    QString said;
    const StartCheck check = d->delivery.checkSignIn(d->store.settings(), &said);
    if (!said.isEmpty())
        d->view.setMessage(toAnsi(said));
    if (reason)
        *reason = said;
    if (check != StartCheck::Ok) {
        d->view.startRefused(check, said);
        return check;
    }
    d->Timer1.start();
    d->serviceState = 1;
    d->intake.forgetFolderProblem(); // a start says again what keeps the job folder from being used
    d->view.setServiceState(true);
    d->filing.setServiceActive(true);
    for (const QString& problem : {d->filing.takeLoadProblem(), d->receipts.takeLoadProblem()}) {
        if (!problem.isEmpty())
            d->view.setMessage(toAnsi(problem));
    }
    writeReceipts();
    return check;
}

void Dispatcher::StopProcessing()
{
    stopSendAll();
    d->Timer1.stop();
    d->serviceState = 2;
    d->view.setServiceState(false);
    d->filing.setServiceActive(false);
    if (d->idle)
        writeReceipts();
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
    if (!d->idle)
        return;
    writeReceipts(); // a receipt that could not be written is tried again on every tick
    d->intake.scan();
    // A big job is parsed and saved beside the window's thread: it is in hand from now on.
    if (d->intake.isWorking()) {
        setIdle(false);
        d->Timer1.stop();
    }
}

void Dispatcher::onIntakeFinished(qint16 id)
{
    if (d->intake.takeSaveOwed())
        d->filing.oweSave();
    if (id > 0)
        return ProcessMail(0, id, true);
    if (!d->idle)
        resumePolling();
    // Jobs come first: a retry only on a tick that took none.
    retryDueMail();
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
    if (isNew)
        return sendInHand({id, origin, pos, isNew});
    // A resend says "unclear" on disk before anything goes out, so that a crash (or a save of everything)
    // during the send does not leave the old code that invites sending again. A new mail gets this from
    // the loader, which finds it in no folder. Without the mark on disk nothing is sent.
    MailRecord& record = tables.mail(id);
    const MailRecord before = record;
    record.Status = codeBytes(ResultCode::DeliveryUnclear);
    record.Date = dateText(QDateTime::currentDateTime());
    // A mail from before Message-IDs or edited gets one, saved with the mark. A mail delivered before goes out
    // again on purpose: as a new message, which a recipient's system that drops a known Message-ID would swallow.
    if (!isMessageId(messageIdOf(record)) || isResult(before.Status, ResultCode::Sent))
        setMessageId(record, NewMessageId(fieldValue(record.From)));
    const bool beside = record.Body.size() >= d->timings.offThreadBytes;
    if (beside) { // the mail is in hand while its file is written
        setIdle(false);
        d->Timer1.stop();
    }
    saveMailBeside(d->worker, d->store, id, beside, [this, id, origin, pos, before](bool marked, const QString& error) {
        if (marked) {
            d->receipts.owe(id, true);
            return sendInHand({id, origin, pos, false});
        }
        MailRecord& record = d->store.tables().mail(id);
        record.Status = before.Status;
        record.Date = before.Date;
        record.Reserved = before.Reserved;
        if (!d->idle)
            resumePolling();
        markNotSaved(id, error);
    });
}

void Dispatcher::markNotSaved(qint16 id, const QString& error)
{
    // The mail stays where it was. A "send all" run ends here (the next mail would meet the same disk);
    // a due retry waits for its next step as after a failed attempt.
    if (std::exchange(d->retryInHand, false))
        d->filing.retryNotBegun(id);
    d->resendQueue.clear();
    if (d->resendRun)
        resendNextQueued();
    d->view.setMessage("E-Mail (ID " + QByteArray::number(id) +
                       ") wurde nicht gesendet: Ihr Versandstatus lie\xDF sich vorher nicht speichern. " +
                       toAnsi(error));
}

void Dispatcher::sendInHand(const MailInHand& hand)
{
    d->view.setMessagePicture(MessagePicture::Send);
    d->view.placeProgressBar();
    setIdle(false);
    d->Timer1.stop();

    d->inHand = hand;
    MailRecord& record = d->store.tables().mail(hand.id);

    const QByteArray message = "E-Mail wird bearbeitet..." + idSuffix(hand.id);
    d->view.setMessage(message);
    // A subject may span lines up to its job's next marker: folded onto one row, "An:" stays in the alert.
    if (d->view.inTray())
        d->view.ShowAlert(message + CrLf + "Betreff: " + oneLine(record.Subject, record.Subject.size()) + CrLf +
                          "An: " + oneLine(record.To, record.To.size()));

    if (hand.isNew) {
        record.Status.clear();
        record.Date = dateText(QDateTime::currentDateTime());
    }
    d->delivery.start(hand.id);
    if (d->exiting) // the mail came in hand while the program began to end
        d->delivery.abort();
}

void Dispatcher::onAttemptFinished(bool sent, const QByteArray& errorResponse)
{
    d->filing.file(d->inHand, sent, errorResponse, d->delivery.takeLog(), !std::exchange(d->retryInHand, false));
}

void Dispatcher::onFiled(qint16 id, bool sent)
{
    const QMap<qint16, QDateTime> next = d->filing.retryTimes();
    const auto due = next.constFind(id);
    logLine(outcomeLogLine(id, d->store.tables().mail(id), due == next.cend() ? std::nullopt : std::optional(*due)));
    d->receipts.owe(id, false);
    d->receipts.write(next);
    Q_EMIT mailFiled(id, sent);
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
    d->sendAll = true;
    d->notTried = -1;
    d->resendQueue.clear();
    Q_EMIT sendAllRunningChanged(true);
    const MailTables& tables = d->store.tables();
    for (const qint16 id : tables.folder(FailedFolder).entries()) {
        const QByteArray& status = tables.mail(id).Status;
        if (!isResult(status, ResultCode::DeliveryUnclear) && !isResult(status, ResultCode::Sent))
            d->resendQueue.append(id);
    }
    resendNextQueued();
    return Answer::Started;
}

bool Dispatcher::sendAllRunning() const
{
    return d->sendAll && d->notTried < 0;
}

bool Dispatcher::sendAllUnderWay() const
{
    return d->sendAll;
}

void Dispatcher::stopSendAll()
{
    if (!sendAllRunning())
        return;
    d->notTried = int(d->resendQueue.size());
    d->resendQueue.clear();
    Q_EMIT sendAllRunningChanged(false);
}

void Dispatcher::stopForExit(bool cutShort)
{
    d->exiting = true;
    d->Timer1.stop();
    stopSendAll();
    d->resendQueue.clear();
    if (cutShort)
        d->delivery.abort();
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
    const bool running = sendAllRunning();
    d->sendAll = false;
    const int notTried = std::exchange(d->notTried, -1);
    if (running)
        Q_EMIT sendAllRunningChanged(false);
    Q_EMIT resendFinished(notTried >= 0, qMax(0, notTried));
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

void Dispatcher::endCommand(const CommandChanges& changes)
{
    if (!d->commandInHand)
        return;
    d->commandInHand = false;
    d->filing.foldersChanged(changes);
    d->receipts.follow(changes);
    writeReceipts();
    resumePolling();
}

void Dispatcher::removingForGood(const QList<qint16>& ids)
{
    d->receipts.removing(ids);
}

void Dispatcher::writeReceipts()
{
    d->receipts.write(d->filing.retryTimes());
}

void Dispatcher::retryDueMail()
{
    if (d->serviceState != 1 || d->exiting)
        return;
    const std::optional<qint16> id = d->filing.dueRetry();
    if (!id)
        return;
    const qsizetype index = d->store.tables().folder(FailedFolder).entries().indexOf(*id);
    d->retryInHand = true;
    ProcessMail(FailedFolder, static_cast<qint16>(index + 1), false);
}

} // namespace kadmel
