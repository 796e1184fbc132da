#include "engine/Receipt.h"

#include "engine/ByteText.h"
#include "engine/FailureReason.h"
#include "engine/MailExport.h"
#include "engine/ReportFindings.h"
#include "smtp/Addresses.h"
#include "store/Ansi.h"
#include "store/AttachmentCopies.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"

#include <QFile>
#include <QHash>

#include <cstdlib>

namespace kadmel {
namespace {

// A log line stays readable in a journal, however long the server's reply or the address.
constexpr qsizetype MaxLogField = 300;

QByteArray statusWord(const MailRecord& mail)
{
    if (isResult(mail.Status, ResultCode::Sent))
        return "gesendet";
    if (isResult(mail.Status, ResultCode::Throttled))
        return "wartet"; // not yet tried: it goes after the server's pause
    if (isResult(mail.Status, ResultCode::Undeliverable))
        return "unzustellbar"; // accepted, then refused by the recipient's server
    return isResult(mail.Status, ResultCode::DeliveryUnclear) ? "unklar" : "fehlgeschlagen";
}

// A value on its line: a line break in a job's subject must not start a key of its own. The typographic
// quotes and dashes of the program's texts have no place in code page 858 and become their plain forms.
QByteArray line(const char* key, QByteArray value)
{
    for (char& c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = ' ';
        else if (byte == 0x84 || byte == 0x93 || byte == 0x94)
            c = '"';
        else if (byte == 0x96 || byte == 0x97)
            c = '-';
    }
    return key + ('=' + value) + "\r\n";
}

QByteArray receipt(const QByteArray& id, const QByteArray& status, const QByteArray& code, const QByteArray& text,
                   const QByteArray& reply, const QByteArray& time, const MailRecord& mail)
{
    return line("ID", id) + line("Status", status) + line("Code", code) + line("Text", text) + line("Antwort", reply) +
           line("Zeit", time) + line("Nachrichten-ID", messageIdOf(mail)) + line("Empfaenger", fieldValue(mail.To)) +
           line("Betreff", fieldValue(mail.Subject));
}

// After the keys every receipt has: the copies where the mail has them, and with several recipients each one's
// answer to RCPT TO ("Empfaenger2=b@example.org 550 5.1.1 unknown"; the address alone when not asked).
QByteArray recipientLines(const MailRecord& mail)
{
    const MailExtras extras = extrasOf(mail);
    QByteArray text;
    if (!fieldValue(extras.copyTo).isEmpty())
        text += line("Kopie", fieldValue(extras.copyTo));
    if (!fieldValue(extras.blindCopyTo).isEmpty())
        text += line("Blindkopie", fieldValue(extras.blindCopyTo));
    QByteArrayList names;
    for (const QByteArray& value : extras.attachments)
        names.append(shownNameOf(value));
    if (!names.isEmpty())
        text += line("Anhaenge", names.join(", "));
    SmtpMail smtp = smtpMailOf(mail, 0);
    const QList<QByteArray> recipients = envelopeOf(smtp).recipients;
    if (recipients.size() < 2)
        return text;
    // Each command is answered by the reply after it; the greeting comes first.
    QHash<QByteArray, QByteArray> answers;
    for (qsizetype i = 0; i < mail.Log.Sent.size() && i + 1 < mail.Log.Received.size(); ++i) {
        const QByteArray& sent = mail.Log.Sent.at(i);
        if (sent.startsWith("RCPT TO: <") && sent.endsWith(">\r\n"))
            answers.insert(sent.mid(10, sent.size() - 13), oneLine(mail.Log.Received.at(i + 1).trimmed(), 200));
    }
    for (qsizetype k = 0; k < recipients.size(); ++k) {
        const QByteArray answer = answers.value(recipients[k]);
        text += line(("Empfaenger" + QByteArray::number(k + 1)).constData(),
                     toAnsi(QString::fromUtf8(recipients[k])) + (answer.isEmpty() ? answer : ' ' + answer));
    }
    return text;
}

// What explains the outcome: the server's reply, or for a mail a report refused, that report's diagnostic.
QByteArray answerOf(const MailRecord& mail)
{
    if (!isResult(mail.Status, ResultCode::Undeliverable))
        return outcomeReply(mail);
    const std::optional<ReportFinding> finding = firstFindingIn(storedOutcome(mail).reply);
    return !finding ? QByteArray() : finding->diagnostic.isEmpty() ? finding->status : finding->diagnostic;
}

QByteArray logText(const QByteArray& ansi)
{
    return fromAnsi(oneLine(ansi, MaxLogField)).toUtf8();
}

} // namespace

QByteArray zonedTime(const QDateTime& localTime)
{
    const int offset = localTime.offsetFromUtc() / 60;
    const QString zone = QStringLiteral("%1%2:%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
                             .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
    return (localTime.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + zone).toLatin1();
}

QByteArray mailReceipt(qint16 id, const MailRecord& mail, const std::optional<QDateTime>& nextAttempt)
{
    // The time of the attempt, as the list shows it: writing the receipt again says the same.
    const QDateTime attempt = dateOfText(mail.Date);
    QByteArray text =
        receipt(id > 0 ? QByteArray::number(id) : QByteArray(), statusWord(mail), mail.Status, ResultText(mail.Status),
                answerOf(mail), attempt.isValid() ? zonedTime(attempt) : QByteArray(), mail);
    if (nextAttempt)
        text += line("NaechsterVersuch", zonedTime(*nextAttempt));
    return AnsiToOem(text + recipientLines(mail));
}

QByteArray undeliverableReceipt(const QByteArray& receipt, const QByteArray& answer)
{
    const ResultCode code = ResultCode::Undeliverable;
    const std::pair<const char*, QByteArray> changed[] = {
        {"Status", "unzustellbar"}, {"Code", codeBytes(code)}, {"Text", ResultText(code)}, {"Antwort", answer}};
    QByteArray text;
    for (const QByteArray& row : receipt.split('\n')) {
        if (row.isEmpty())
            continue;
        QByteArray kept = row + '\n';
        for (const auto& [key, value] : changed) {
            if (row.startsWith(key + QByteArray("=")))
                kept = AnsiToOem(line(key, value));
        }
        text += kept;
    }
    return text;
}

QByteArray refusalReceipt(const QByteArray& reason, const MailRecord& job, const QDateTime& when)
{
    return AnsiToOem(receipt({}, "abgewiesen", {}, reason, {}, zonedTime(when), job) + recipientLines(job));
}

QByteArray outcomeLogLine(qint16 id, const MailRecord& mail, const std::optional<QDateTime>& nextAttempt)
{
    // The addresses alone, each in its brackets; a field that reads as no address list stands as it is.
    QByteArrayList to;
    QByteArray problem;
    if (const auto boxes = parseAddressList(fieldValue(mail.To), "Der Empf\xE4nger", &problem);
        boxes && !boxes->isEmpty())
        for (const Mailbox& box : *boxes)
            to << '<' + logText(box.address) + '>';
    else
        to << '<' + logText(fieldValue(mail.To)) + '>';
    QByteArray text = "kadmel: ID " + QByteArray::number(id) + " an " + to.join(", ") + ": " + statusWord(mail);
    if (!isResult(mail.Status, ResultCode::Sent) && !mail.Status.isEmpty())
        text += ", " + logText(mail.Status);
    const QByteArray reply = outcomeReply(mail);
    const QByteArray why =
        !reply.isEmpty() || isResult(mail.Status, ResultCode::Sent) ? reply : ResultText(mail.Status);
    if (!why.isEmpty())
        text += " (" + logText(why) + ')';
    if (nextAttempt)
        text += ", n\xC3\xA4"
                "chster Versuch " +
                zonedTime(*nextAttempt);
    return text;
}

QByteArray refusalLogLine(const QByteArray& jobName, const QByteArray& reason)
{
    return "kadmel: Auftrag \xE2\x80\x9E" + logText(toAnsi(QFile::decodeName(jobName))) +
           "\xE2\x80\x9C abgewiesen: " + logText(reason);
}

} // namespace kadmel
