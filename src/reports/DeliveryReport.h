#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace kadmel {

enum class ReportKind
{
    Failure, // the recipient's server gave up: the mail did not arrive
    Delay,   // still being tried: nothing is decided yet
};

// One recipient a report speaks of; texts are Windows-1252 bytes.
struct ReportedRecipient
{
    QByteArray address;    // as the report names it; empty where a report in words names none
    QByteArray status;     // e.g. "5.1.1"; or empty
    QByteArray diagnostic; // the refusing server's words on one line, at most MaxDiagnosticBytes; or empty
};

// A delivery report of one of the mails this program may have sent. At least one of the two IDs is set:
// nothing is a report that does not name its original.
struct DeliveryReport
{
    ReportKind kind = ReportKind::Failure;
    QByteArray envelopeId;               // the ENVID the mail went out with (compare with envelopeIdOf()); or empty
    QByteArray messageId;                // the original's "<…@…>" as its returned header gave it; or empty
    QList<ReportedRecipient> recipients; // those of the kind: the failed ones, or the delayed ones
};

// Only so much of a message is read: a report is small, the original it returns comes after its findings.
inline constexpr qsizetype MaxReportBytes = 4 * 1024 * 1024;
inline constexpr qsizetype MaxDiagnosticBytes = 400;

// The delivery report a message is, from its bytes: RFC 3464's multipart/report of delivery-status (the form of
// Microsoft, Google, Postfix and Exim's newer ones), or a mailer daemon's bounce in words that quotes the original's
// header (Exim's classic one). None for anything else, a report without an ID of its original, one that reports a
// delivery, or a message GMime cannot take apart.
std::optional<DeliveryReport> readDeliveryReport(const QByteArray& message);

} // namespace kadmel
