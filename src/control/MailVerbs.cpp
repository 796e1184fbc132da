// The verbs that act on mails: senden, alle-senden, entfernen, wiederherstellen.
#include "control/ControlProtocol.h"
#include "control/ControlReply.h"
#include "control/ControlVerbs.h"
#include "control/MailLines.h"
#include "engine/Dispatcher.h"
#include "engine/FailureReason.h"
#include "engine/MailCommands.h"
#include "service/ServiceView.h"
#include "store/Ansi.h"
#include "store/PermanentRemoval.h"

namespace kadmel {
namespace {

const QString Busy = QStringLiteral("Gerade wird eine E-Mail bearbeitet. Bitte danach erneut versuchen.");

} // namespace

// A resend of the mails named, one after the other, or an "Alle Senden" run; each mail's outcome is told as it is
// filed. A mail in hand is waited for (at most ControlTimings::mail, like every mail after it); once the caller
// has hung up, the mail in hand is the last.
class ControlVerbs::SendRun : public QObject
{
public:
    SendRun(ControlVerbs& verbs, const QList<qint16>& ids, ControlReply* reply)
        : QObject(&verbs), m_verbs(verbs), m_ids(ids), m_all(ids.isEmpty()), m_reply(reply)
    {
        Dispatcher& dispatcher = m_verbs.m_dispatcher;
        connect(&dispatcher, &Dispatcher::mailFiled, this, &SendRun::filed);
        connect(&dispatcher, &Dispatcher::resendFinished, this, &SendRun::resent);
        connect(&dispatcher, &Dispatcher::idleChanged, this, [this](bool idle) {
            if (idle && m_waitingIdle) {
                m_waitingIdle = false;
                QTimer::singleShot(0, this, &SendRun::next);
            }
        });
        m_limit.setSingleShot(true);
        m_limit.setInterval(m_verbs.m_timings.mail);
        connect(&m_limit, &QTimer::timeout, this, [this] {
            say(QStringLiteral("Seit %1 s ist keine E-Mail fertig geworden; der Dienst sendet weiter.")
                    .arg(m_verbs.m_timings.mail.count() / 1000));
            end(control::Refused);
        });
        next();
    }

private:
    void say(const QString& text)
    {
        if (m_reply)
            m_reply->say(text);
    }
    void next()
    {
        m_limit.start();
        if (!m_reply) // the caller hung up: nothing more is started for it
            return end(control::Refused);
        if (!m_all && m_ids.isEmpty())
            return end(m_failed ? control::Refused : control::Done);
        Dispatcher& dispatcher = m_verbs.m_dispatcher;
        const MailTables& tables = m_verbs.m_store.tables();
        qint16 pos = 0;
        const qint16 id = m_all ? 0 : m_ids.first();
        if (!m_all && folderHolding(tables, id, &pos) != FailedFolder) {
            say(QStringLiteral("E-Mail (ID %1) steht nicht in „Fehlgeschl. Objekte“ und wurde nicht gesendet.")
                    .arg(id));
            return skip();
        }
        m_inFlight = true; // a resend may end within the call
        m_current = id;
        m_filed = false;
        const Dispatcher::Answer answer = m_all ? dispatcher.resendAllFailed() : dispatcher.resend(FailedFolder, pos);
        if (answer == Dispatcher::Answer::Started) {
            if (!m_all) // a resend that ended within the call went on through the event loop
                m_ids.removeFirst();
            return;
        }
        m_inFlight = false;
        if (answer == Dispatcher::Answer::Busy) {
            m_waitingIdle = true;
            return;
        }
        say(answer == Dispatcher::Answer::Paused
                ? QStringLiteral("Nicht gesendet: ") + fromAnsi(dispatcher.pauseMessage()) + u'.'
                : QStringLiteral("E-Mail (ID %1) nicht gefunden.").arg(id));
        if (m_all || answer == Dispatcher::Answer::Paused)
            return end(control::Refused);
        skip();
    }
    void skip()
    {
        ++m_failed;
        m_ids.removeFirst();
        QTimer::singleShot(0, this, &SendRun::next);
    }
    void filed(qint16 id, bool sent)
    {
        if (!m_inFlight || (!m_all && id != m_current))
            return;
        m_filed = true;
        m_limit.start();
        const MailRecord& mail = m_verbs.m_store.tables().mail(id);
        if (sent) {
            ++m_sent;
            say(QStringLiteral("E-Mail (ID %1) gesendet.").arg(id));
        } else {
            ++m_failed;
            say(QStringLiteral("E-Mail (ID %1) nicht gesendet: %2").arg(id).arg(fromAnsi(resultTextWithReason(mail))));
        }
    }
    void resent(bool stopped, int notTried)
    {
        if (!m_inFlight) {
            if (m_waitingIdle) { // another caller's resend held the dispatcher, idle all along
                m_waitingIdle = false;
                QTimer::singleShot(0, this, &SendRun::next);
            }
            return;
        }
        m_inFlight = false;
        if (!m_all) {
            if (!m_filed) { // its "unclear" mark could not be saved: panel 2 says why
                ++m_failed;
                say(QStringLiteral("E-Mail (ID %1) nicht gesendet: %2")
                        .arg(m_current)
                        .arg(fromAnsi(m_verbs.m_view.status().message)));
            }
            return QTimer::singleShot(0, this, &SendRun::next);
        }
        say(QStringLiteral("%1 gesendet, %2 nicht gesendet.").arg(m_sent).arg(m_failed));
        if (stopped)
            say(QStringLiteral("Angehalten; %1 E-Mails blieben ungesendet.").arg(notTried));
        end(m_failed || stopped ? control::Refused : control::Done);
    }
    void end(int code)
    {
        m_limit.stop();
        disconnect(&m_verbs.m_dispatcher, nullptr, this, nullptr);
        if (m_reply)
            m_reply->finish(code);
        deleteLater();
    }

    ControlVerbs& m_verbs;
    QList<qint16> m_ids;
    bool m_all;
    QPointer<ControlReply> m_reply;
    QTimer m_limit;
    qint16 m_current = 0;
    bool m_inFlight = false;
    bool m_filed = false;
    bool m_waitingIdle = false;
    int m_sent = 0;
    int m_failed = 0;
};

void ControlVerbs::send(const QStringList& args, ControlReply* reply)
{
    if (const std::optional<QList<qint16>> ids = mailIds(args, reply))
        new SendRun(*this, *ids, reply);
}

void ControlVerbs::sendAll(const QStringList& args, ControlReply* reply)
{
    if (!args.isEmpty())
        return reply->refuse(QStringLiteral("„alle-senden“ nimmt keine Angaben."), control::WrongArguments);
    new SendRun(*this, {}, reply);
}

void ControlVerbs::remove(const QStringList& args, ControlReply* reply)
{
    const std::optional<QList<qint16>> ids = mailIds(args, reply);
    if (!ids)
        return;
    if (!m_dispatcher.beginCommand())
        return reply->refuse(QStringLiteral("Es wurde nichts entfernt: ") + Busy);
    // First the moves to the deleted folder, as one command; then those already there go for good, as another.
    // The window's moves: one step on disk per folder.
    CommandChanges changes;
    QList<qint16> forGood, fromFolder[2]; // sent, failed
    bool failed = false;
    for (const qint16 id : *ids) {
        const int folder = folderHolding(m_store.tables(), id);
        if (folder == DeletedFolder) {
            forGood.append(id);
        } else if (folder == SentFolder || folder == FailedFolder) {
            fromFolder[folder - 1].append(id);
        } else {
            failed = true;
            reply->say(QStringLiteral("E-Mail (ID %1) steht in keinem Ordner.").arg(id));
        }
    }
    for (const int folder : {SentFolder, FailedFolder}) {
        if (fromFolder[folder - 1].isEmpty())
            continue;
        const CommandOutcome outcome = moveMailsToDeleted(m_store, folder, fromFolder[folder - 1]);
        changes.moves += outcome.changes.moves;
        for (const MailChange& move : outcome.changes.moves)
            reply->say(QStringLiteral("E-Mail (ID %1) nach „Gelöschte Objekte“ verschoben.").arg(move.id));
        if (!outcome.error.isEmpty()) {
            failed = true;
            reply->say(QStringLiteral("%1 nicht entfernt: %2")
                           .arg(mailsText(int(fromFolder[folder - 1].size()) - outcome.done), outcome.error));
        }
    }
    m_dispatcher.endCommand(changes);
    if (forGood.isEmpty())
        return reply->finish(failed ? control::Refused : control::Done);
    if (!m_dispatcher.beginCommand())
        return reply->refuse(QStringLiteral("Nichts endgültig gelöscht: ") + Busy);
    removeForGood(forGood, reply, failed);
}

void ControlVerbs::restore(const QStringList& args, ControlReply* reply)
{
    const std::optional<QList<qint16>> ids = mailIds(args, reply);
    if (!ids)
        return;
    const QList<qint16> deleted = m_store.tables().folder(DeletedFolder).entries();
    bool missing = false;
    for (const qint16 id : *ids) {
        if (!deleted.contains(id)) {
            missing = true;
            reply->say(QStringLiteral("E-Mail (ID %1) steht nicht in „Gelöschte Objekte“.").arg(id));
        }
    }
    if (!m_dispatcher.beginCommand())
        return reply->refuse(QStringLiteral("Es wurde nichts wiederhergestellt: ") + Busy);
    const CommandOutcome outcome = restoreMails(m_store, *ids);
    m_dispatcher.endCommand(outcome.changes);
    for (const MailChange& move : outcome.changes.moves)
        reply->say(QStringLiteral("E-Mail (ID %1) nach „%2“ wiederhergestellt.")
                       .arg(move.id)
                       .arg(move.folder == SentFolder ? QStringLiteral("Gesendete Objekte")
                                                      : QStringLiteral("Fehlgeschl. Objekte")));
    if (!outcome.error.isEmpty())
        return reply->refuse(outcome.error);
    reply->finish(missing ? control::Refused : control::Done);
}

void ControlVerbs::removeForGood(const QList<qint16>& ids, ControlReply* reply, bool failedBefore)
{
    QList<qint16> positions;
    for (const qint16 id : ids)
        positions.append(qint16(m_store.tables().folder(DeletedFolder).entries().indexOf(id) + 1));
    m_dispatcher.removingForGood(ids);
    m_removal = std::make_unique<PermanentRemoval>(m_store, positions);
    m_removalReply = reply;
    m_removalCount = ids.size();
    m_removalFailed = failedBefore;
    m_removalTimer.start();
}

void ControlVerbs::removalStep()
{
    QString error;
    if (!m_removal->step(m_timings.filesPerStep, &error))
        return;
    m_removalTimer.stop();
    const CommandChanges changes{{}, m_removal->newIds()};
    m_removal.reset();
    m_dispatcher.endCommand(changes);
    if (!m_removalReply)
        return;
    if (!error.isEmpty())
        return m_removalReply->refuse(error);
    m_removalReply->say(
        QStringLiteral("%1 E-Mail(s) endgültig gelöscht; die übrigen E-Mails haben neue Nummern.").arg(m_removalCount));
    m_removalReply->finish(m_removalFailed ? control::Refused : control::Done);
}

} // namespace kadmel
