#pragma once

#include "engine/DispatcherView.h"
#include "engine/EngineTimings.h"
#include "store/Store.h"

#include <QObject>
#include <memory>

namespace kadmel {

struct JobEntry;

// Taking jobs from the job folder: the first ready job that becomes a mail is saved as a new mail with the
// folder index, then its job is deleted. A job that cannot be taken is set aside (said in panel 2) and the
// scan goes on. A big job is parsed and its mail file written beside the window's thread.
class JobIntake : public QObject
{
    Q_OBJECT
public:
    JobIntake(Store& store, DispatcherView& view, const EngineTimings& timings, QObject* parent = nullptr);
    ~JobIntake() override;

    QByteArray jobFolder() const;
    void setJobFolder(const QByteArray& folder);
    // A start says again what keeps the job folder from being used.
    void forgetFolderProblem();

    // One scan of the job folder; finished() follows exactly once: within the call, or once the work
    // beside the window's thread is done (isWorking() true until then).
    void scan();
    // The same, going on with the ready jobs the last scan left (each still as it was listed, through that
    // scan's descriptor), so that a long run does not list the folder for every job; a new scan when none is left.
    void scanOn();
    bool isWorking() const;
    // The ready jobs the last scan left untried after the one it took; 0 when it took none.
    qsizetype waitingJobs() const;
    // True (once) when a new mail could not be taken back from the index on disk.
    bool takeSaveOwed();

Q_SIGNALS:
    // The new mail, on disk and its job deleted; 0 when no job became one.
    void finished(qint16 id);
    // The new mail from the job `name` is about to be saved; no index names it before this returns.
    void taking(qint16 id, const QByteArray& name);
    // The job `name` will not become a mail: deleted for want of its markers, or set aside. `reason` as panel 2
    // says it; `job` holds its recipient and subject where they were read.
    void refused(const QByteArray& name, const QByteArray& reason, const MailRecord& job);

private:
    struct NewMail;
    enum class Outcome
    {
        Working,  // work beside the window's thread; settle() follows
        SetAside, // the scan goes on with the next job
        Taken,    // the new mail is ready
        Stopped   // the store can take no mail now: the scan ends
    };
    void next();
    void settle(Outcome outcome, qint16 id = 0);
    void ParseJob(const JobEntry& job);
    void takeRecord(const JobEntry& job, const NewMail& mail);
    void saveNewMail(const JobEntry& job, qint16 id);
    // Why the job folder cannot be used (German, Windows-1252), empty when it can or is not there yet.
    QByteArray jobFolderProblem() const;
    void setJobAside(const JobEntry& job, const QByteArray& reason, const MailRecord& read = {});
    // Drops the new mail again; what could not be undone on disk, as a sentence to add to the message.
    QByteArray takeBackNewMail(qint16 id);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
