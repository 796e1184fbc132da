#include "reports/ReportFiling.h"

#include "engine/ByteText.h"
#include "engine/FailureReason.h"
#include "engine/LogLine.h"
#include "engine/Receipt.h"
#include "engine/ReportFindings.h"
#include "smtp/DsnParameters.h"
#include "store/Ansi.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"

#include <QTimer>

namespace kadmel {
namespace {

constexpr char CrLf[] = "\r\n";
constexpr qsizetype MaxWaitingReports = 100;

// The folder holding the mail and its 1-based position there; {0, 0} for none.
std::pair<int, qint16> placeOf(const MailTables& tables, qint16 id)
{
    for (const int folder : {SentFolder, FailedFolder, DeletedFolder}) {
        if (const qsizetype at = tables.folder(folder).entries().indexOf(id); at >= 0)
            return {folder, qint16(at + 1)};
    }
    return {0, 0};
}

QList<ReportFinding> findingsOf(const DeliveryReport& report)
{
    QList<ReportFinding> findings;
    for (const ReportedRecipient& r : report.recipients)
        findings.append({r.address, r.status, r.diagnostic});
    return findings;
}

} // namespace

ReportFiling::ReportFiling(Store& store, Dispatcher& dispatcher, DispatcherView& view, int alertMs, QObject* parent)
    : QObject(parent), m_store(store), m_dispatcher(dispatcher), m_view(view), m_alert(view, alertMs)
{
    // Queued, as the housekeeping does: what follows the dispatcher's own change to idle goes first.
    connect(&dispatcher, &Dispatcher::idleChanged, this, [this](bool idle) {
        if (idle)
            QTimer::singleShot(0, this, &ReportFiling::fileWaiting);
    });
    connect(&m_alert, &AlertPause::over, this, &ReportFiling::end);
}

void ReportFiling::take(const QByteArray& message)
{
    const std::optional<DeliveryReport> report = readDeliveryReport(message);
    if (!report)
        return Q_EMIT taken(false);
    take(*report);
}

void ReportFiling::take(const DeliveryReport& report)
{
    if (!mailOf(report))
        return Q_EMIT taken(report.kind == ReportKind::Failure && removedMailRefused(report));
    // The mailbox hands one message at a time; a caller that does not wait is refused rather than held without end.
    if (m_waiting.size() >= MaxWaitingReports)
        return Q_EMIT taken(false);
    m_waiting.append(report);
    fileWaiting();
}

qint16 ReportFiling::mailOf(const DeliveryReport& report) const
{
    // An ID this program never gave (a report of another sender's mail, a forged one) finds nothing here.
    const MailTables& tables = m_store.tables();
    qint16 byEnvelope = 0, byMessageId = 0;
    for (qint16 id = 1; id <= tables.MailCount() && id > 0; ++id) {
        const QByteArray messageId = messageIdOf(tables.mail(id));
        if (messageId.isEmpty())
            continue;
        if (!report.envelopeId.isEmpty() && !byEnvelope && envelopeIdOf(messageId) == report.envelopeId)
            byEnvelope = id;
        if (!report.messageId.isEmpty() && !byMessageId && messageId == report.messageId)
            byMessageId = id;
    }
    if (byEnvelope && byMessageId && byEnvelope != byMessageId)
        return 0;
    // Another system sending from the mailbox may set ENVIDs of its own: the returned Message-ID still counts.
    return byEnvelope ? byEnvelope : byMessageId;
}

bool ReportFiling::removedMailRefused(const DeliveryReport& report)
{
    // The mail is gone, its job's receipt is not: that alone changes, outside the dispatcher's hold.
    const auto names = [&report](const QByteArray& messageId) {
        return (!report.envelopeId.isEmpty() && envelopeIdOf(messageId) == report.envelopeId) ||
               (!report.messageId.isEmpty() && messageId == report.messageId);
    };
    const ReportedRecipient first = report.recipients.value(0);
    if (!m_dispatcher.removedMailRefused(names, first.diagnostic.isEmpty() ? first.status : first.diagnostic))
        return false;
    const ReportFinding finding{first.address, first.status, first.diagnostic};
    writeLogLine(
        LogPriority::Failure,
        "kadmel: R\xC3\xBC"
        "ckmeldung unzustellbar zur endg\xC3\xBCltig entfernten E-Mail " +
            fromAnsi(oneLine(report.messageId.isEmpty() ? report.envelopeId : report.messageId, 300)).toUtf8() + " (" +
            fromAnsi(oneLine(findingReason(finding), 300)).toUtf8() + ')');
    return true;
}

void ReportFiling::fileWaiting()
{
    if (m_holding || m_waiting.isEmpty())
        return;
    if (!m_dispatcher.IdleFlag() || !m_dispatcher.beginCommand())
        return; // again once it is idle
    m_holding = true;
    bool alert = false;
    while (!m_waiting.isEmpty()) {
        const DeliveryReport report = m_waiting.takeFirst();
        // Looked up again: a command may have renumbered or removed the mail meanwhile.
        const qint16 id = mailOf(report);
        m_notSaved = false;
        if (id)
            alert = file(report, id) || alert;
        if (m_notSaved)
            Q_EMIT notTaken();
        else
            Q_EMIT taken(id > 0 || (report.kind == ReportKind::Failure && removedMailRefused(report)));
    }
    if (alert) // in the tray the alert shows the outcome before anything goes on
        return m_alert.begin();
    end();
}

bool ReportFiling::file(const DeliveryReport& report, qint16 id)
{
    const MailRecord& mail = m_store.tables().mail(id);
    const bool failure = report.kind == ReportKind::Failure;
    const QByteArray block = findingsBlock(failure, findingsOf(report), QDateTime::currentDateTime());
    const auto [folder, pos] = placeOf(m_store.tables(), id);
    // A kill between the mail's save and the index's left it refused but among the sent: the move is finished.
    if (failure && folder == SentFolder && isResult(mail.Status, ResultCode::Undeliverable))
        return fail(id, pos, {});
    // A mail a report refused already knows its outcome; the same findings again are the same report.
    if (isResult(mail.Status, ResultCode::Undeliverable) || holdsFindings(mail.Log, block))
        return false;
    if (failure && folder == SentFolder && isResult(mail.Status, ResultCode::Sent))
        return fail(id, pos, block);
    note(id, folder, block, failure);
    return false;
}

bool ReportFiling::fail(qint16 id, qint16 pos, const QByteArray& block)
{
    MailRecord& mail = m_store.tables().mail(id);
    const MailRecord before = mail;
    if (!block.isEmpty()) {
        mail.Status = codeBytes(ResultCode::Undeliverable);
        appendFindings(mail.Log, block);
    }
    QString error;
    if (!m_store.SaveMail(id, &error)) {
        mail = before; // still sent: the report is read again at the next look into the mailbox
        m_notSaved = true;
        m_view.setMessage("R\xFC"
                          "ckmeldung zur E-Mail (ID " +
                          QByteArray::number(id) + ") konnte nicht gespeichert werden: " + toAnsi(error));
        return false;
    }
    const MailChange move{MailChange::Kind::Moved, id, FailedFolder, SentFolder, pos};
    applyMailChange(m_store.tables(), move);
    if (!m_store.SaveFolders(&error))
        m_view.setMessage("Ordner konnten nicht gespeichert werden: " + toAnsi(error));
    m_view.mailChanged(move);
    m_moves.append(move);
    m_dispatcher.outcomeChanged(id);
    writeLogLine(LogPriority::Failure, outcomeLogLine(id, mail, std::nullopt));
    const QByteArray said = "E-Mail (ID " + QByteArray::number(id) + ") unzustellbar: " + failureReason(mail);
    m_view.setMessage(said);
    if (!m_view.inTray())
        return false;
    m_view.ShowAlert(said + CrLf + "Betreff: " + oneLine(mail.Subject, mail.Subject.size()) + CrLf +
                     "An: " + oneLine(mail.To, mail.To.size()));
    return true;
}

void ReportFiling::note(qint16 id, int folder, const QByteArray& block, bool failure)
{
    MailRecord& mail = m_store.tables().mail(id);
    const MailRecord before = mail;
    appendFindings(mail.Log, block);
    QString error;
    if (!m_store.SaveMail(id, &error))
        mail = before;
    const std::optional<ReportFinding> finding = firstFindingIn(block);
    QByteArray line = "kadmel: ID " + QByteArray::number(id) + ": R\xC3\xBC" + "ckmeldung " +
                      (failure ? "unzustellbar" : "verz\xC3\xB6gert");
    if (failure && folder != SentFolder)
        line += ", die E-Mail steht in " + folderTitle(folder).toUtf8();
    if (finding && !findingReason(*finding).isEmpty())
        line += " (" + fromAnsi(oneLine(findingReason(*finding), 300)).toUtf8() + ')';
    writeLogLine(failure ? LogPriority::Failure : LogPriority::Warning, line);
}

void ReportFiling::end()
{
    m_holding = false;
    m_dispatcher.endCommand({std::exchange(m_moves, {})});
}

} // namespace kadmel
