#pragma once

#include "store/MailKey.h"
#include "store/StorePaths.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace kadmel {

// Which job a mail came from, for the receipt its producer reads.
struct JobNameEntry
{
    qint16 id = 0;
    bool owed = false;  // its receipt may not show its last outcome yet
    MailKey key;        // finds the mail again should its ID have changed unseen; may be none
    QByteArray jobName; // the job file's name as the file system held it

    friend bool operator==(const JobNameEntry&, const JobNameEntry&) = default;
};

// A line per mail with a name of up to 255 bytes and a key of up to 250, both written as "%xx": 32767 of them fit.
inline constexpr qint64 MaxJobNameFileBytes = qint64(64) << 20;

// "kadmel.jobs" in the program folder (jobNameFilePathIn): a text file, one line per mail, its key as
// MailKey::text() gives it, "-" for none.

QByteArray encodeJobNameFile(const QList<JobNameEntry>& entries);
// Nothing for anything encodeJobNameFile cannot have written.
std::optional<QList<JobNameEntry>> decodeJobNameFile(const QByteArray& bytes);

// A missing file holds no names. Nothing, with a German reason, for a file that cannot be read, is too
// large or is damaged; its bytes are kept as "kadmel.jobs.bad" where they can be read.
std::optional<QList<JobNameEntry>> loadJobNameFile(const QString& programFolder, QString* error = nullptr);
// Written atomically and readable by its owner only; no entries remove the file.
bool saveJobNameFile(const QString& programFolder, const QList<JobNameEntry>& entries, QString* error = nullptr);

// A mail removed for good whose receipt a delivery report may still change: its key, its job's name and the
// receipt written at its removal (code page 858).
struct GoneJob
{
    MailKey key;
    QByteArray jobName;
    QByteArray receipt;

    friend bool operator==(const GoneJob&, const GoneJob&) = default;
};

// The newest so many are kept: a report comes within days, and this many removals take longer.
inline constexpr qsizetype MaxGoneJobs = 500;

// "kadmel.entfernt" (goneJobsFilePathIn): a header line, then one line per mail, oldest first: its key, its job's
// name and its receipt, each "%xx"-escaped as in kadmel.jobs. Missing, none; damaged, nothing and the reason.
std::optional<QList<GoneJob>> loadGoneJobs(const QString& programFolder, QString* error = nullptr);
bool saveGoneJobs(const QString& programFolder, const QList<GoneJob>& jobs, QString* error = nullptr);

} // namespace kadmel
