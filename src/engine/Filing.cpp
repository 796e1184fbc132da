#include "engine/Filing.h"

#include "engine/FailureReason.h"
#include "engine/MailArchive.h"
#include "engine/OffThread.h"
#include "engine/RetrySchedule.h"
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
    QElapsedTimer clock;  // the schedule's time: it never jumps
    QString retryProblem; // a damaged schedule file, said at the first start
    MailArchive archive;  // copies of the accepted messages
    OffThread worker;     // last: destroyed first, it waits for a file still being written
};

Filing::Filing(Store& store, DispatcherView& view, const EngineTimings& timings, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(store, view, timings))
{}

Filing::~Filing() = default;

void Filing::file(const MailInHand& hand, const DeliveryOutcome& outcome, const SmtpLog& log, bool manual)
{
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
        return saveFiled(hand.id, sent, manual, left);
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
                        saveFiled(hand.id, true, manual, left);
                    });
}

void Filing::oweSave()
{
    d->saveOwed = true;
}

void Filing::saveFiled(qint16 id, bool sent, bool manual, bool left)
{
    const auto done = [this, id, sent, manual, left](bool saved, const QString& error) {
        d->saveOwed = !saved;
        if (!saved)
            d->view.setMessage("E-Mail (ID " + QByteArray::number(id) +
                               ") konnte nicht gespeichert werden: " + toAnsi(error));
        noteRetryOutcome(id, sent, manual, left);
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
        d->retries.clear();
    d->retries.reconcile(d->store.tables());
    retriesChanged();
}

QString Filing::takeLoadProblem()
{
    return std::exchange(d->retryProblem, QString());
}

void Filing::updateRetry()
{
    if (!d->store.kadmelIni().read().retry && !d->retries.isEmpty()) {
        d->retries.clear();
        retriesChanged();
    }
}

std::optional<qint16> Filing::dueRetry()
{
    if (d->retries.isEmpty())
        return std::nullopt;
    bool changed = false;
    const std::optional<qint16> id = d->retries.due(d->store.tables(), d->clock.elapsed(), changed);
    if (id && !d->store.kadmelIni().read().retry) {
        d->retries.clear();
        changed = true;
    }
    if (changed)
        retriesChanged();
    if (!id || d->retries.isEmpty())
        return std::nullopt;
    return id;
}

void Filing::retryNotBegun(qint16 id)
{
    d->retries.failed(id, d->store.tables().mail(id), d->clock.elapsed(), false);
    retriesChanged();
}

void Filing::foldersChanged(const CommandChanges& changes)
{
    if (d->retries.follow(changes))
        retriesChanged();
}

void Filing::setServiceActive(bool active)
{
    d->serviceActive = active;
    showRetryTimes();
}

void Filing::noteRetryOutcome(qint16 id, bool sent, bool manual, bool left)
{
    const MailRecord& mail = d->store.tables().mail(id);
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

void Filing::showRetryTimes()
{
    d->view.setRetryTimes(retryTimes());
}

} // namespace kadmel
