#include "engine/ReportFindings.h"

#include "engine/ByteText.h"

#include <algorithm>

namespace kadmel {
namespace {

// Windows-1252: "\xFC" is "ü", "\xE4" is "ä".
constexpr char Opening[] = "R\xFC"
                           "ckmeldung des Empf\xE4ngerservers vom ";
constexpr char FailureWord[] = ": unzustellbar\r\n";
constexpr char DelayWord[] = ": verz\xF6gert\r\n";
constexpr char AddressKey[] = "Empf\xE4nger: ";
constexpr char StatusKey[] = "Status: ";
constexpr char DiagnosticKey[] = "Diagnose: ";

// A report may name hundreds of recipients; the mail file and the viewer need only the first few.
constexpr qsizetype MaxFindings = 20;
constexpr qsizetype MaxFieldBytes = 400;

QByteArray field(const char* key, const QByteArray& value)
{
    return value.isEmpty() ? QByteArray() : key + oneLine(value, MaxFieldBytes) + "\r\n";
}

// The block without its first line, which holds the time.
QByteArray findingsOf(const QByteArray& block)
{
    const qsizetype end = block.indexOf("\r\n");
    return end < 0 ? QByteArray() : block.mid(end + 2);
}

bool isFailure(const QByteArray& block)
{
    const qsizetype end = block.indexOf("\r\n");
    return end >= 0 && block.first(end + 2).endsWith(FailureWord);
}

} // namespace

QByteArray findingsBlock(bool failure, const QList<ReportFinding>& findings, const QDateTime& when)
{
    QByteArray block = Opening + dateText(when) + (failure ? FailureWord : DelayWord);
    for (qsizetype i = 0; i < findings.size() && i < MaxFindings; ++i) {
        const ReportFinding& f = findings.at(i);
        block += field(AddressKey, f.address) + field(StatusKey, f.status) + field(DiagnosticKey, f.diagnostic);
    }
    return block;
}

void appendFindings(SmtpLog& log, const QByteArray& block)
{
    // The viewer pairs Received[i] with Sent[i]: the block stands where neither array has text yet.
    qsizetype at = std::max(log.Sent.size(), log.Received.size());
    if (at > 0 && log.Sent.value(at - 1).isEmpty() && log.Received.value(at - 1).isEmpty())
        --at;
    log.Sent.resize(at + 2);
    log.Received.resize(at + 2);
    log.Received[at] = block;
}

bool holdsFindings(const SmtpLog& log, const QByteArray& block)
{
    const bool failure = isFailure(block);
    const QByteArray findings = findingsOf(block);
    return std::any_of(log.Received.cbegin(), log.Received.cend(), [&](const QByteArray& received) {
        return received.startsWith(Opening) && isFailure(received) == failure && findingsOf(received) == findings;
    });
}

std::optional<ReportFinding> firstFindingIn(const QByteArray& block)
{
    if (!block.startsWith(Opening))
        return std::nullopt;
    ReportFinding finding;
    for (const QByteArray& line : findingsOf(block).split('\n')) {
        const QByteArray text = line.trimmed();
        if (text.startsWith(AddressKey)) {
            if (!finding.address.isEmpty() || !finding.status.isEmpty() || !finding.diagnostic.isEmpty())
                break; // the next recipient
            finding.address = text.mid(qstrlen(AddressKey));
        } else if (text.startsWith(StatusKey) && finding.status.isEmpty()) {
            finding.status = text.mid(qstrlen(StatusKey));
        } else if (text.startsWith(DiagnosticKey) && finding.diagnostic.isEmpty()) {
            finding.diagnostic = text.mid(qstrlen(DiagnosticKey));
        }
    }
    return finding;
}

QByteArray findingReason(const ReportFinding& finding)
{
    // The diagnostic mostly names the status itself.
    QByteArray words = finding.diagnostic;
    if (!finding.status.isEmpty() && !words.contains(finding.status))
        words = words.isEmpty() ? finding.status : finding.status + ' ' + words;
    if (finding.address.isEmpty())
        return words;
    return words.isEmpty() ? finding.address : finding.address + ": " + words;
}

} // namespace kadmel
