#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

#include <optional>

namespace kadmel {

// What a delivery report said of one recipient, as the record keeps it (Windows-1252, each on one line).
struct ReportFinding
{
    QByteArray address;
    QByteArray status;     // "5.1.1", or empty
    QByteArray diagnostic; // the refusing server's words, or empty
};

// A report's findings are kept in the record's conversation, as one more received text after it, so the viewer
// shows them below the conversation and a start reads them back with the mail:
//   "Rückmeldung des Empfängerservers vom 08.12.2026 07:12:03: unzustellbar" CR LF
//   "Empfänger: kunde@example.org" CR LF "Status: 5.1.1" CR LF "Diagnose: 550 5.1.1 User unknown" CR LF …
// `failure` false: "verzögert".
QByteArray findingsBlock(bool failure, const QList<ReportFinding>& findings, const QDateTime& when);
// The block after everything the log holds, both arrays still ending in their one empty element.
void appendFindings(SmtpLog& log, const QByteArray& block);
// True when the log holds a block of the same findings, whenever it came.
bool holdsFindings(const SmtpLog& log, const QByteArray& block);

// The first recipient of a findings block (for an undeliverable mail the reply storedOutcome gives); none for
// any other text.
std::optional<ReportFinding> firstFindingIn(const QByteArray& block);
// "kunde@example.org: 550 5.1.1 User unknown": recipient, status and diagnostic on one line.
QByteArray findingReason(const ReportFinding& finding);

} // namespace kadmel
