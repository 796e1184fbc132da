#pragma once

#include "engine/DispatcherView.h"
#include "engine/EngineTimings.h"
#include "engine/Filing.h"
#include "store/Store.h"

#include <QObject>
#include <functional>
#include <memory>

namespace kadmel {

class SecretStore;

// The dispatcher: the service state, the poll timer, one mail at a time from pick-up to filing, the hold of
// a folder command, the "Alle Senden" run. It hands a mail through its parts: JobIntake takes it from the
// job folder, DeliveryAttempt sends it, Filing files the outcome with its retry schedule; the log line,
// Receipts and the alert's pause listen to the filing. It works on the store it is given and shows
// everything through view.
class Dispatcher : public QObject
{
    Q_OBJECT
public:
    // secrets: the keyring that may hold the sign-in's secrets; none without one.
    Dispatcher(Store& store, DispatcherView& view, EngineTimings timings = {}, SecretStore* secrets = nullptr,
               QObject* parent = nullptr);
    ~Dispatcher() override;

    // The start check, then the active state and polling. Returns the check's outcome and, in `reason`,
    // why (German; empty when there is nothing to say); a refusal goes to the view with the same reason.
    StartCheck StartProcessing(QString* reason = nullptr);
    void StopProcessing();

    bool IdleFlag() const;
    qint16 ServiceState() const; // 0 never started or stopped, 1 active, 2 inactive
    QByteArray JobFolder() const;
    // JobFolder from the current WatchFolder (at start-up and whenever kadmel.ini says the settings changed).
    void updateJobFolder();
    // The retry choice of "kadmel.ini" again (whenever it changed): switched off, nothing waits any more.
    void updateRetry();
    // MailsProMinute and MailsProTag of "kadmel.ini" again (whenever it changed).
    void updatePace();

    enum class Answer
    {
        Started,
        Busy,
        NotFound,
        Paused
    };
    // Sends the mail at 1-based pos of `folder` again; Busy while a mail or command is in hand, Paused while
    // the server's pause holds (pauseMessage() says until when), NotFound for a position the folder does not have. A
    // mail whose "unclear" mark cannot be saved first is not sent: it stays where it was, and panel 2 says why.
    Answer resend(int folder, qint16 pos);
    // One attempt per failed mail, in folder order; a mail that fails keeps its place. Mails that may
    // have been delivered already (DeliveryUnclear, or a status that says sent) are left alone.
    Answer resendAllFailed();
    // The same run over these mails of the failed folder, in folder order ("Senden" with several selected).
    Answer resendFailed(const QList<qint16>& ids);
    bool sendAllRunning() const;
    // The run goes on or, stopped, still finishes the mail in hand.
    bool sendAllUnderWay() const;
    // Panel 2's text of the server's pause while it holds (no job, resend or retry starts); empty otherwise.
    // A throttle ends a "send all" run as Stop does.
    QByteArray pauseMessage() const;
    // When the day's limit frees again: the pacing's day window unless set here (60 minutes where neither knows).
    void setDayFrees(std::function<std::optional<QDateTime>()> dayFrees);
    // The "send all" run ends after the mail in hand; resendFinished() counts the mails it leaves untried.
    // Stop does the same.
    void stopSendAll();

    // The program is ending: no job is taken, a "send all" run stops after the mail in hand, and that
    // mail is filed without the alert's pause; `cutShort` ends it at once (ZUB_SMTP::abort), where a
    // termination signal cannot wait for a silent server. idleChanged(true) follows.
    void stopForExit(bool cutShort = true);

    // Folder commands and the housekeeping hold the dispatcher off while they change the folders (no job is
    // taken), and say at the end what they changed. Only while idle, and not once the program ends.
    bool beginCommand();
    void endCommand(const CommandChanges& changes);
    // A command is about to remove these mails for good: their receipts say so once it has.
    void removingForGood(const QList<qint16>& ids);
    // A command changed the mail's outcome (a delivery report): its receipt is written again as the command ends.
    void outcomeChanged(qint16 id);
    // A delivery report refused a mail removed for good, the first whose Message-ID `names` accepts: its receipt
    // says so with `answer`. False when no such mail's job is known.
    bool removedMailRefused(const std::function<bool(const QByteArray&)>& names, const QByteArray& answer);

Q_SIGNALS:
    // A mail was filed (and its saves attempted); `sent` tells the outcome.
    void mailFiled(qint16 id, bool sent);
    // A resend request (one or all) has finished; `stopped`: a "send all" run was ended early, with
    // `notTried` mails left as they were.
    void resendFinished(bool stopped = false, int notTried = 0);
    // A "send all" run began, or ended or was stopped: what Stop and "Alle Senden abbrechen" act on.
    void sendAllRunningChanged(bool running);
    void idleChanged(bool idle);

private:
    enum class Phase;
    struct ResendRun;
    // Every change of phase goes through here: Timer1 stops outside Idle, the window hears of IdleFlag.
    void setPhase(Phase phase);
    // A job, mark or mail comes in hand (or a command holds): Ending instead once the program ends.
    void hold(Phase phase);
    void onTick();
    // A tick's work: the receipts owed, then a job when the pace lets one go; `goOn` with the last scan's list.
    void takeJob(bool goOn);
    // At a start: the mails a kill left with their jobs still waiting are sent instead of the jobs.
    void reclaimJobsTaken();
    // True when one of those came in hand.
    bool sendUntried();
    void scanJobs(bool goOn);
    void onIntakeFinished(qint16 id);
    // Idle again, the poll timer running while the service is active and the program not ending.
    void resumePolling();
    // Paced sending: what waits (jobs the scan left, a resend run) goes as soon as the window lets it.
    void takeNextPaced();
    void onPaceTimer();
    // "3 von 120, fertig etwa um 14:35" for the mail in hand to the view; empty for a single mail.
    void showProgress(const MailInHand& hand);
    // `manual`: asked for (a new mail, a resend), not an automatic retry.
    void ProcessMail(const MailInHand& hand, bool manual);
    // A resend's "unclear" mark could not be saved: the record is as it was and nothing is sent.
    void markNotSaved(qint16 id, bool manual, const QString& error);
    void sendInHand(const MailInHand& hand, bool manual);
    // Another mail comes in hand as soon as this one is done: its connection is kept for it.
    bool nextMailReady() const;
    void onAttemptFinished(const DeliveryOutcome& outcome);
    // The mail is done: filed and its alert's pause over.
    void finishMail();
    void resendNextQueued();
    // Automatic retry of failed mails whose failure may pass by itself, and the mail a pause held; true when one
    // came in hand.
    bool retryDueMail();
    bool pauseHolds() const;
    // Every receipt owed, with the automatic attempts as they stand.
    void writeReceipts();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
