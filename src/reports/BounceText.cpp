#include "reports/BounceText.h"

#include "reports/ReportFields.h"

namespace kadmel::reports {

namespace {

constexpr qsizetype MaxRecipients = 100;
constexpr qsizetype MaxLines = 4000; // the words and the quoted header come first; the rest is the original's body

bool fromMailerDaemon(const QByteArray& from)
{
    const qsizetype at = from.lastIndexOf('@');
    const qsizetype open = from.lastIndexOf('<', at);
    const QByteArray local = from.mid(open + 1, at - open - 1).trimmed().toLower();
    return at > 0 && (local == "mailer-daemon" || local == "postmaster");
}

QList<QByteArrayView> linesOf(QByteArrayView text)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < text.size() && lines.size() < MaxLines) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        lines.append(line.endsWith('\r') ? line.chopped(1) : line);
        start = end + 1;
    }
    return lines;
}

// The address a line of the words begins with ("  a@b", "<a@b>: host … said: 550 …"), and the rest of the line.
std::optional<std::pair<QByteArray, QByteArrayView>> addressLine(QByteArrayView line)
{
    const bool indented = line.startsWith(' ') || line.startsWith('\t');
    line = line.trimmed();
    const bool bracketed = line.startsWith('<');
    if (!indented && !bracketed)
        return std::nullopt;
    if (bracketed)
        line = line.sliced(1);
    qsizetype end = 0;
    while (end < line.size() && line[end] != '>' && line[end] != ':' && line[end] != ' ' && line[end] != '\t')
        ++end;
    const QByteArrayView address = line.first(end);
    QByteArrayView rest = line.sliced(end);
    if (rest.startsWith('>'))
        rest = rest.sliced(1);
    if (rest.startsWith(':'))
        rest = rest.sliced(1);
    else if (!rest.trimmed().isEmpty())
        return std::nullopt; // a sentence that begins with an address
    const qsizetype at = address.indexOf('@');
    if (at <= 0 || at == address.size() - 1)
        return std::nullopt;
    return std::pair{address.toByteArray(), rest};
}

ReportedRecipient recipientOf(const QByteArray& address, QByteArrayView words)
{
    const qsizetype code = replyCodeIn(words);
    QByteArrayView reply = code < 0 ? QByteArrayView() : words.sliced(code);
    if (const qsizetype end = reply.indexOf('\n'); end >= 0)
        reply = reply.first(end);
    return {storeText(address, MaxDiagnosticBytes), statusIn(words), storeText(reply, MaxDiagnosticBytes)};
}

bool saysDelay(const QByteArray& subject, QByteArrayView words)
{
    const QByteArray s = subject.toLower();
    for (const char* failed : {"fail", "undeliver", "unzustellbar", "returned", "nicht zugestellt"})
        if (s.contains(failed))
            return false;
    const QByteArray text = s + ' ' + words.first(qMin<qsizetype>(words.size(), 4000)).toByteArray().toLower();
    for (const char* delayed : {"delay", "verz\xC3\xB6gert", "still being retried", "not yet been delivered"})
        if (text.contains(delayed))
            return true;
    return false;
}

} // namespace

std::optional<DeliveryReport> readBounceText(const BounceHeader& header, QByteArrayView text,
                                             const QByteArray& returnedId)
{
    if (header.failedRecipients.trimmed().isEmpty() && !fromMailerDaemon(header.from))
        return std::nullopt;
    // The original's header, quoted whole: the block holding its Message-ID line. Else an original returned as a
    // part of its own; the words are then the whole text.
    const QList<QByteArrayView> lines = linesOf(text);
    qsizetype blockStart = 0;
    QByteArray messageId;
    for (qsizetype i = 0; i < lines.size() && messageId.isEmpty(); ++i) {
        QByteArrayView line = lines[i].trimmed();
        while (line.startsWith('>'))
            line = line.sliced(1).trimmed();
        if (line.isEmpty())
            blockStart = i + 1;
        else if (line.size() > 11 && line.first(11).compare("message-id:", Qt::CaseInsensitive) == 0)
            messageId = messageIdIn(line.sliced(11));
    }
    if (messageId.isEmpty()) {
        // A returned original alone could be a postmaster's forward: the words must say a refusal or name whom.
        if (replyCodeIn(text) < 0 && statusIn(text).isEmpty() && header.failedRecipients.trimmed().isEmpty())
            return std::nullopt;
        messageId = returnedId;
        blockStart = lines.size();
    }
    if (messageId.isEmpty())
        return std::nullopt;

    DeliveryReport report;
    report.messageId = messageId;
    QByteArray allWords;
    std::optional<QByteArray> address;
    QByteArray words;
    const auto close = [&] {
        if (address && report.recipients.size() < MaxRecipients)
            report.recipients.append(recipientOf(*address, words));
        address.reset();
    };
    for (qsizetype i = 0; i < blockStart; ++i) {
        allWords += lines[i].toByteArray() + '\n';
        if (const auto found = addressLine(lines[i])) {
            close();
            address = found->first;
            words = found->second.trimmed().toByteArray();
        } else if (lines[i].trimmed().isEmpty()) {
            close();
        } else if (address) {
            words += ' ' + lines[i].trimmed().toByteArray();
        }
    }
    close();
    if (report.recipients.isEmpty()) {
        for (const QByteArray& failed : header.failedRecipients.split(','))
            if (!failed.trimmed().isEmpty() && report.recipients.size() < MaxRecipients)
                report.recipients.append(recipientOf(failed.trimmed(), allWords));
    }
    if (report.recipients.isEmpty())
        report.recipients.append(recipientOf({}, allWords));
    report.kind = saysDelay(header.subject, allWords) ? ReportKind::Delay : ReportKind::Failure;
    return report;
}

} // namespace kadmel::reports
