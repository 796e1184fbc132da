#pragma once

#include "store/StorePaths.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace kadmel {

// The times mails went to a server, for the limits of MailsProMinute and MailsProTag across a restart: the
// account they were counted for (a window of another account does not apply) and wall-clock milliseconds
// since 1970 (UTC), oldest first.
struct PaceFileContent
{
    QByteArray server;
    QByteArray user;
    QList<qint64> times;

    friend bool operator==(const PaceFileContent&, const PaceFileContent&) = default;
};

// Never more times than a day's limit can ask for.
inline constexpr qint64 MaxPaceFileBytes = qint64(4) << 20;

// "kadmel.pace" in the program folder (paceFilePathIn): a header line, the account's line, one time a line.
QByteArray encodePaceFile(const PaceFileContent& content);
// Nothing for anything encodePaceFile cannot have written.
std::optional<PaceFileContent> decodePaceFile(const QByteArray& bytes);

// A missing file counts nothing. Nothing, with a German reason, for a file that cannot be read, is too large or
// is damaged; its bytes are kept as "kadmel.pace.bad".
std::optional<PaceFileContent> loadPaceFile(const QString& programFolder, QString* error = nullptr);
// Atomic and owner-only; no times remove the file.
bool savePaceFile(const QString& programFolder, const PaceFileContent& content, QString* error = nullptr);

} // namespace kadmel
