#pragma once

#include "engine/DispatcherView.h"
#include "engine/EngineTimings.h"
#include "store/DeliveryOutcome.h"
#include "store/Store.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

namespace kadmel {

struct ThrottleReply;

// The mail of an attempt: its ID and where it stands, at 1-based `pos` of folder `origin`; a new mail
// stands in no folder yet (origin 0).
struct MailInHand
{
    qint16 id = 0;
    int origin = 0;
    qint16 pos = 0;
    bool isNew() const { return origin == 0; }
};

// Filing of a delivery attempt's outcome: the record's status and log, its folder, the window's rows, the
// saves (a big mail's file written beside the window's thread), and the retry schedule of failed mails
// with its file "kadmel.retry". With pacing set, a server's "too many mails" files the mail as throttled
// (ERRMessage11, not yet tried) and pauses sending until the pause's end, kept in that file too.
class Filing : public QObject
{
    Q_OBJECT
public:
    Filing(Store& store, DispatcherView& view, const EngineTimings& timings, QObject* parent = nullptr);
    ~Filing() override;

    // Files the outcome; filed() follows once its saves were attempted, at once for a small mail.
    // `manual`: the attempt was asked for (a new mail, a resend), so a failure starts its schedule over.
    void file(const MailInHand& hand, const DeliveryOutcome& outcome, const SmtpLog& log, bool manual);
    // A save failed elsewhere: the next filing writes the whole store.
    void oweSave();

    // The schedule from its file, as at the start; a damaged file's reason is kept for takeLoadProblem().
    void loadRetries();
    QString takeLoadProblem();
    // The retry choice read again: switched off, nothing waits any more.
    void updateRetry();
    // The mail due for its retry now, if any (the schedule's changes saved and shown on the way).
    std::optional<qint16> dueRetry();
    // A due retry could not begin: it waits for its next step as after a failed attempt.
    void retryNotBegun(qint16 id);
    // A folder command changed the folders under the schedule: each entry follows its mail.
    void foldersChanged(const CommandChanges& changes);
    // Retries run only while the service is active: the window is shown the times that hold.
    void setServiceActive(bool active);
    // The local time of each waiting mail's next attempt; none while the service is inactive.
    QMap<qint16, QDateTime> retryTimes() const;

    // A server's pause: while it holds no mail starts; once over, the mail it held goes first (dueRetry()).
    enum class Pause
    {
        None,
        Holding,
        Over
    };
    Pause pause() const;
    // "Versand pausiert bis 14:35: der Server meldet zu viele E-Mails (…)"; empty without a pause.
    QByteArray pauseMessage() const;
    // When the day's limit frees again, as the pacing knows it; without an answer a day's limit pauses 60 minutes.
    void setDayFrees(std::function<std::optional<QDateTime>()> dayFrees);

Q_SIGNALS:
    // The mail's outcome is in its record and its saves were attempted. Its listeners: the log line, the
    // receipts and the alert's pause.
    void filed(qint16 id, bool sent);

private:
    // `left`: the filing's change already took the mail out of the schedule; `throttle`: the mail waits for a pause.
    void saveFiled(qint16 id, bool sent, bool manual, bool left, const std::optional<ThrottleReply>& throttle);
    void noteRetryOutcome(qint16 id, bool sent, bool manual, bool left, const std::optional<ThrottleReply>& throttle);
    std::optional<qint64> pauseMs(const ThrottleReply& throttle) const;
    void retriesChanged();
    void showRetryTimes();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
