#include "engine/Filing.h"

#include "engine/FailureReason.h"
#include "engine/MailArchive.h"
#include "engine/OffThread.h"
#include "engine/RetrySchedule.h"
#include "smtp/ThrottleReply.h"
#include "store/Ansi.h"
#include "store/KadmelIni.h"
#include "store/MailFile.h"
#include "store/ResultCode.h"
#include "store/RetryFile.h"

#include <QElapsedTimer>

#include <utility>

namespace kadmel {

struct Filing::Private
{
    Private(Store& s, DispatcherView& v, const EngineTimings& t)
        : store(s), view(v), timings(t), retries(t.retryMinuteMs), archive(s, v, t.archiveRetryMs)
    {
        clock.start();
    }

    Store& store;
    DispatcherView& view;
    EngineTimings timings;
    bool saveOwed = false; // a save failed; the next filing writes the whole store
    bool serviceActive = false;
    RetrySchedule retries;
    QElapsedTimer clock;                                // the schedule's time: it never jumps
    QString retryProblem;                               // a damaged schedule file, said at the first start
    std::function<std::optional<QDateTime>()> dayFrees; // when the day's limit frees, as the pacing knows it
    MailArchive archive;                                // copies of the accepted messages
    OffThread worker; // last: destroyed first, it waits for a file still being written
};

Filing::Filing(Store& store, DispatcherView& view, const EngineTimings& timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(store, view, timings))
{}

Filing::~Filing() = default;

void Filing::file(const MailInHand& hand, const DeliveryOutcome& attempt, const SmtpLog& log, bool manual)
{
    // With pacing set, a server's "too many mails" is no failure: the mail waits in the failed folder, not yet
    // tried, for the pause. A resend from another folder keeps the outcome it always had.
    std::optional<ThrottleReply> throttle;
    if (attempt.code == ResultCode::ServerReply && (hand.isNew() || hand.origin == FailedFolder) &&
        pacingConfigured(d->store.kadmelIni().read()))
        throttle = throttleOf(attempt.reply);
    DeliveryOutcome outcome = attempt;
    if (throttle)
        outcome.code = ResultCode::Throttled;
    const bool sent = outcome.sent();
    MailTables& tables = d->store.tables();
    MailRecord& record = tables.mail(hand.id);
    record.Log = log;
    fitMailRecord(record, MaxMailFileBytes); // a server that kept talking can cost the log, never the file
    record.Status = codeBytes(outcome.code);

    const QByteArray result = ResultText(record.Status);
    // Panel 2 and the alert say why a mail failed; the list's cell keeps the plain text.
    const QByteArray explained = resultTextWithReason(outcome);
    d->view.setMessage(explained);
    if (d->view.inTray())
        d->view.SetAlertText(explained);

    MailChange change{MailChange::Kind::StatusChanged, hand.id, hand.origin, 0, hand.pos, result};
    if (hand.isNew())
        change = {MailChange::Kind::Filed, hand.id, sent ? SentFolder : FailedFolder};
    else if (sent)
        change = {MailChange::Kind::Moved, hand.id, SentFolder, hand.origin, hand.pos};
    applyMailChange(tables, change);
    d->view.mailChanged(change);
    const bool left = d->retries.follow(change);
    if (!sent)
        return saveFiled(hand.id, sent, manual, left, throttle);
    // The archive copy before the saves: a crash between them leaves an unclear mail, never a gap in the archive.
    const bool beside = record.Body.size() >= d->timings.offThreadBytes;
    d->archive.keep(outcome.message, record.Subject, beside,
                    [this, hand, manual, left, explained](const QString& problem) {
                        if (!problem.isEmpty()) {
                            const QByteArray text = explained + ' ' + toAnsi(problem);
                            d->view.setMessage(text);
                            if (d->view.inTray())
                                d->view.SetAlertText(text);
                        }
                        saveFiled(hand.id, true, manual, left, std::nullopt);
                    });
}

void Filing::oweSave()
{
    d->saveOwed = true;
}

void Filing::saveFiled(qint16 id, bool sent, bool manual, bool left, const std::optional<ThrottleReply>& throttle)
{
    const auto done = [this, id, sent, manual, left, throttle](bool saved, const QString& error) {
        d->saveOwed = !saved;
        if (!saved)
            d->view.setMessage("E-Mail (ID " + QByteArray::number(id) +
                               ") konnte nicht gespeichert werden: " + toAnsi(error));
        noteRetryOutcome(id, sent, manual, left, throttle);
        Q_EMIT filed(id, sent);
    };
    QString error;
    if (d->saveOwed)
        return done(d->store.SaveAll(&error), error);
    // The mail before the index: a crash between the two leaves the mail in no folder with its outcome,
    // which the loader files by that outcome. A big mail's log holds the Base64 of its body.
    const bool beside = d->store.tables().mail(id).Body.size() >= d->timings.offThreadBytes;
    saveMailBeside(d->worker, d->store, id, beside, [this, done](bool written, QString reason) {
        done(written && d->store.SaveFolders(&reason), reason);
    });
}

void Filing::loadRetries()
{
    const std::optional<RetryFileContent> saved = loadRetryFile(d->store.programFolder(), &d->retryProblem);
    if (saved)
        d->retries.fromFile(*saved, d->clock.elapsed(), QDateTime::currentMSecsSinceEpoch());
    if (!d->store.kadmelIni().read().retry)
        d->retries.dropRetries();
    const MailTables& tables = d->store.tables();
    d->retries.reconcile(tables);
    // A mail filed as throttled whose pause never reached the file (a crash between the saves, a damaged file)
    // goes first as after its pause: the server refused it, so it was not delivered.
    const QMap<qint16, qint64> waiting = d->retries.nextAttempts();
    for (const qint16 id : tables.folder(FailedFolder).entries()) {
        if (id >= 1 && id <= tables.MailCount() && isResult(tables.mail(id).Status, ResultCode::Throttled) &&
            !waiting.contains(id))
            d->retries.throttled(id, tables.mail(id), d->clock.elapsed(), 0);
    }
    retriesChanged();
}

QString Filing::takeLoadProblem()
{
    return std::exchange(d->retryProblem, QString());
}

void Filing::updateRetry()
{
    if (!d->store.kadmelIni().read().retry && d->retries.dropRetries())
        retriesChanged();
}

std::optional<qint16> Filing::dueRetry()
{
    if (d->retries.isEmpty())
        return std::nullopt;
    // Switched off, the retries go; a mail waiting for a pause still goes after it.
    bool changed = !d->store.kadmelIni().read().retry && d->retries.dropRetries();
    const std::optional<qint16> id = d->retries.due(d->store.tables(), d->clock.elapsed(), changed);
    if (changed)
        retriesChanged();
    return id;
}

void Filing::retryNotBegun(qint16 id)
{
    const std::optional<RetrySchedule::Pause> pause = d->retries.pause();
    if (pause && pause->id == id) // the mail a pause held waits for the next one
        d->retries.throttled(id, d->store.tables().mail(id), d->clock.elapsed(), std::nullopt);
    else
        d->retries.failed(id, d->store.tables().mail(id), d->clock.elapsed(), false);
    retriesChanged();
}

void Filing::foldersChanged(const CommandChanges& changes)
{
    bool changed = d->retries.follow(changes);
    // A failed mail taken back from the deleted folder waits for its retries again, from the start.
    const MailTables& tables = d->store.tables();
    for (const MailChange& move : changes.moves) {
        if (move.kind != MailChange::Kind::Moved || move.fromFolder != DeletedFolder || move.folder != FailedFolder)
            continue;
        const qint16 id = changes.newIdOf(move.id);
        if (id >= 1 && id <= tables.MailCount() && mayRetry(tables.mail(id)) && d->store.kadmelIni().read().retry) {
            d->retries.failed(id, tables.mail(id), d->clock.elapsed(), true);
            changed = true;
        }
    }
    if (changed)
        retriesChanged();
}

void Filing::setServiceActive(bool active)
{
    d->serviceActive = active;
    showRetryTimes();
}

void Filing::noteRetryOutcome(qint16 id, bool sent, bool manual, bool left,
                              const std::optional<ThrottleReply>& throttle)
{
    const MailRecord& mail = d->store.tables().mail(id);
    if (throttle) {
        d->retries.throttled(id, mail, d->clock.elapsed(), pauseMs(*throttle));
        retriesChanged();
        if (d->saveOwed) // the failed save stays said
            return;
        const QByteArray said = pauseMessage();
        d->view.setMessage(said);
        if (d->view.inTray())
            d->view.SetAlertText(said);
        return;
    }
    const bool wait = !sent && mayRetry(mail) && d->store.tables().folder(FailedFolder).entries().contains(id) &&
                      d->store.kadmelIni().read().retry;
    if (wait)
        d->retries.failed(id, mail, d->clock.elapsed(), manual);
    else if (!d->retries.forget(id) && !left)
        return;
    retriesChanged();
}

void Filing::retriesChanged()
{
    const qint64 now = d->clock.elapsed();
    const QDateTime wallNow = QDateTime::currentDateTime();
    QString error;
    if (!saveRetryFile(d->store.programFolder(), d->retries.toFile(now, wallNow.toMSecsSinceEpoch()), &error))
        d->view.setMessage("Wiederholungsplan konnte nicht gespeichert werden: " + toAnsi(error));
    showRetryTimes();
}

QMap<qint16, QDateTime> Filing::retryTimes() const
{
    // Retries run only while the service is active; a stopped service promises no next attempt.
    QMap<qint16, QDateTime> times;
    if (d->serviceActive) {
        const qint64 now = d->clock.elapsed();
        const QDateTime wallNow = QDateTime::currentDateTime();
        const QMap<qint16, qint64> next = d->retries.nextAttempts();
        for (auto it = next.cbegin(); it != next.cend(); ++it)
            times.insert(it.key(), wallNow.addMSecs(it.value() - now));
    }
    return times;
}

Filing::Pause Filing::pause() const
{
    const std::optional<RetrySchedule::Pause> pause = d->retries.pause();
    if (!pause)
        return Pause::None;
    return pause->end > d->clock.elapsed() ? Pause::Holding : Pause::Over;
}

QByteArray Filing::pauseMessage() const
{
    const std::optional<RetrySchedule::Pause> pause = d->retries.pause();
    const MailTables& tables = d->store.tables();
    if (!pause || pause->id < 1 || pause->id > tables.MailCount())
        return {};
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime until = now.addMSecs(std::max<qint64>(0, pause->end - d->clock.elapsed()));
    const QString form = until.date() == now.date() ? QStringLiteral("HH:mm") : QStringLiteral("dd.MM.yyyy HH:mm");
    const QByteArray reply = failureReason(tables.mail(pause->id));
    return "Versand pausiert bis " + until.toString(form).toLatin1() + ": der Server meldet zu viele E-Mails" +
           (reply.isEmpty() ? reply : " (" + reply + ')');
}

void Filing::setDayFrees(std::function<std::optional<QDateTime>()> dayFrees)
{
    d->dayFrees = std::move(dayFrees);
}

std::optional<qint64> Filing::pauseMs(const ThrottleReply& throttle) const
{
    // The schedule's minute is the unit of a named wait too, so that tests shorten it alike.
    const qint64 minute = d->timings.retryMinuteMs;
    if (throttle.seconds)
        return *throttle.seconds * minute / 60;
    if (throttle.kind != ThrottleReply::Kind::DayLimit)
        return std::nullopt; // the growing pause
    const std::optional<QDateTime> frees = d->dayFrees ? d->dayFrees() : std::nullopt;
    const qint64 ms = frees ? QDateTime::currentDateTime().msecsTo(*frees) : 0;
    return ms > 0 ? ms : 60 * minute;
}

void Filing::showRetryTimes()
{
    d->view.setRetryTimes(retryTimes());
}

} // namespace kadmel
