#pragma once

#include "engine/DispatcherView.h"
#include "smtp/ZUB_SMTP.h"
#include "store/Store.h"

#include <QObject>
#include <memory>

namespace kadmel {

class JobDirectory;
struct JobEntry;

struct EngineTimings
{
    int pollMs = 5000;       // Timer1
    int alertCloseMs = 5000; // the alert stays this long after the result
    int minJobAgeMs = 2000;  // a job file changed more recently may still be being written
    SmtpTimings smtp;
    int tokenMs = 10000;       // the whole exchange with the OAuth 2.0 token address
    int retryMinuteMs = 60000; // the unit of the retry schedule: steps of 1 … 60 of them, for a day of 1440
};

// The dispatcher: the service state, the poll timer, one mail at a time from pick-up to filing.
// It owns the one SMTP client and works on the store it is given; it shows everything through view.
class Dispatcher : public QObject
{
    Q_OBJECT
public:
    Dispatcher(Store& store, DispatcherView& view, EngineTimings timings = {}, QObject* parent = nullptr);
    ~Dispatcher() override;

    // The start check, then the active state and polling. Returns the check's outcome.
    StartCheck StartProcessing();
    void StopProcessing();

    bool IdleFlag() const;
    qint16 ServiceState() const; // 0 never started or stopped, 1 active, 2 inactive
    QByteArray JobFolder() const;
    // JobFolder from the current WatchFolder (at start-up and after the settings dialog).
    void updateJobFolder();
    // The retry choice of "kadmel.ini" again (after the settings dialog): switched off, nothing waits any more.
    void updateRetry();

    enum class Answer
    {
        Started,
        Busy,
        NotFound
    };
    // Sends the mail at 1-based pos of `folder` again; Busy while a mail or command is in hand, NotFound
    // for a position the folder does not have. A mail whose "unclear" mark cannot be saved first is not
    // sent: it stays where it was, and panel 2 says why.
    Answer resend(int folder, qint16 pos);
    // One attempt per failed mail, in folder order; a mail that fails keeps its place. Mails that may
    // have been delivered already (DeliveryUnclear, or a status that says sent) are left alone.
    Answer resendAllFailed();

    // The program is ending: no job is taken, a "send all" run stops after the mail in hand, and that
    // mail is cut short (ZUB_SMTP::abort) and filed without the alert's pause. idleChanged(true) follows.
    void stopForExit();

    // Folder commands hold the dispatcher off while they change the folders (no job is taken).
    bool beginCommand();
    void endCommand();

Q_SIGNALS:
    // A mail was filed (and its saves attempted); `sent` tells the outcome.
    void mailFiled(qint16 id, bool sent);
    // A resend request (one or all) has finished.
    void resendFinished();
    void idleChanged(bool idle);

private:
    void setIdle(bool idle);
    void onTick();
    void ScanJobFolder();
    // True when the job used up the tick: its mail is in hand, or the store can take no mail now.
    bool ParseJob(JobDirectory& folder, const JobEntry& job);
    // Why the job folder cannot be used (German, Windows-1252), empty when it can or is not there yet.
    QByteArray jobFolderProblem(const JobDirectory& folder) const;
    bool setJobAside(const JobEntry& job, const QByteArray& reason);
    // Drops the new mail again; what could not be undone on disk, as a sentence to add to the message.
    QByteArray takeBackNewMail(qint16 id);
    // Idle again, the poll timer running while the service is active and the program not ending.
    void resumePolling();
    void ProcessMail(int origin, qint16 pos, bool isNew);
    // The resend's "unclear" status and date, saved; false (the record as it was, the send refused) otherwise.
    bool markUnclear(qint16 id);
    void SendMailItem(qint16 id);
    // The sign-in of the mail in hand, as decideDelivery() says: the password goes straight to the client;
    // OAuth 2.0 first gets a token. A refusal files the mail as failed, its reason in the mail's log.
    StartCheck checkSignIn(const Settings& settings, QString* reason);
    void signInAndSend();
    void onToken(const QByteArray& token);
    void failSignIn(const QByteArray& code, const QByteArray& reason);
    void fileOutcome(bool sent, const QByteArray& errorResponse);
    void saveFiled(qint16 id);
    // The alert closes and the mail is done: at the end of its pause, or at once when the program ends.
    void endAlertPause();
    void finishMail();
    void resendNextQueued();
    // Automatic retry of failed mails whose failure may pass by itself.
    void loadRetries();
    void retryDueMail();
    void noteRetryOutcome(qint16 id, bool sent, bool manual);
    void retriesChanged();
    void showRetryTimes();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
