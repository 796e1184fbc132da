#pragma once

#include "store/MailKey.h"
#include "store/StorePaths.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace kadmel {

// One mail waiting to be sent again. Times are wall-clock milliseconds since 1970 (UTC).
struct RetryFileEntry
{
    qint16 id = 0;
    MailKey key; // which mail the ID stood for (IDs change when mails are removed)
    qint64 firstFailure = 0;
    qint64 nextAttempt = 0;
    qint32 failures = 0; // failed attempts so far, or a pause's throttled ones
    // The server said too many mails: the mail waits for the pause's end, not for a retry ("pausiert").
    bool throttled = false;

    friend bool operator==(const RetryFileEntry&, const RetryFileEntry&) = default;
};

struct RetryFileContent
{
    qint64 savedAt = 0; // wall clock at the write
    QList<RetryFileEntry> entries;

    friend bool operator==(const RetryFileContent&, const RetryFileContent&) = default;
};

// A line per mail, its key a Message-ID escaped to at most three times its length: 32767 of them fit.
inline constexpr qint64 MaxRetryFileBytes = qint64(32) << 20;

// "kadmel.retry" in the program folder (retryFilePathIn): a text file, one line per waiting mail, its key as
// MailKey::text() gives it (files of older versions hold a hash for every mail, which still finds it); a mail
// waiting for a pause has the word "pausiert" after its five fields.

QByteArray encodeRetryFile(const RetryFileContent& content);
// Nothing for anything encodeRetryFile cannot have written (a damaged or foreign file).
std::optional<RetryFileContent> decodeRetryFile(const QByteArray& bytes);

// A missing file is an empty schedule. Nothing, with a German reason, for a file that cannot be read, is
// too large or is damaged; its bytes are kept as "kadmel.retry.bad" where they can be read.
std::optional<RetryFileContent> loadRetryFile(const QString& programFolder, QString* error = nullptr);
// Written atomically and readable by its owner only; an empty schedule removes the file.
bool saveRetryFile(const QString& programFolder, const RetryFileContent& content, QString* error = nullptr);

} // namespace kadmel
