#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace kadmel {

// "2026-12-07T10:38:58+01:00": local time with its offset.
QByteArray zonedTime(const QDateTime& localTime);

// What the producer of a job reads of its outcome: lines "Key=Value" ending in CR LF, in code page 858 as its jobs
// are. `id` 0: the mail was removed for good and has no ID any more. `nextAttempt` only while one is due.
QByteArray mailReceipt(qint16 id, const MailRecord& mail, const std::optional<QDateTime>& nextAttempt);
// The receipt of a mail removed for good (mailReceipt with ID 0) as a delivery report refusing it changes it:
// "Status=unzustellbar", its code and text, `answer` (Windows-1252) the report's diagnostic; the other keys kept.
QByteArray undeliverableReceipt(const QByteArray& receipt, const QByteArray& answer);
// A job that never became a mail: `reason` as panel 2 says it, the recipient and subject where known.
QByteArray refusalReceipt(const QByteArray& reason, const MailRecord& job, const QDateTime& when);

// One line for the system's log (UTF-8, without its line end), never a body, secret or token:
// "kadmel: ID 12 an <kunde@example.org>: gesendet (250 2.0.0 OK)".
QByteArray outcomeLogLine(qint16 id, const MailRecord& mail, const std::optional<QDateTime>& nextAttempt);
QByteArray refusalLogLine(const QByteArray& jobName, const QByteArray& reason);

} // namespace kadmel
