#pragma once

#include <QByteArray>
#include <QList>

namespace kadmel {

// The four texts of a job file, still in the producer's code page.
struct JobFields
{
    QByteArray sender;
    QByteArray recipient;
    QByteArray subject;
    QByteArray body;
    // "@@CC", "@@BC", "@@RT" where they stand before "@@SB", trimmed; a marker given twice adds its value with ",".
    QByteArray copyTo = {};
    QByteArray blindCopyTo = {};
    QByteArray replyTo = {};
    QList<QByteArray> attachments = {}; // "@@AN": one file's path each, trimmed

    friend bool operator==(const JobFields&, const JobFields&) = default;
};

struct ParsedJob
{
    enum class Outcome
    {
        Ok,
        MissingMarker, // "@@FR", "@@TO" or "@@SB" absent: the job is discarded
        Malformed,     // a value without its closing "@@", or a too short tail: the job stays for later
    };
    Outcome outcome = Outcome::Malformed;
    JobFields fields;
};

// Cuts sender, recipient, subject and body out of a job's text. Each marker is searched from the start,
// one separator after it is skipped, a value ends before the next "@@"; the body starts four characters
// after the subject's closing "@@". Nothing is trimmed. The optional markers count only before the subject's
// marker, so older versions still read sender, recipient, subject and body of the same job, and a body's
// "@@CC" means nothing.
ParsedJob parseJobText(const QByteArray& text);

} // namespace kadmel
