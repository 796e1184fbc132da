#pragma once

#include "store/MailKey.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <optional>

namespace kadmel {

// "kadmel.herkunft" in the program folder (originFilePathIn): which mails of "Gelöschte Objekte" came from
// "Gesendete Objekte", so that "Wiederherstellen" puts them back there; every other one goes back to the
// failed folder. One file for the whole folder, written once per command, rather than a note in each mail
// file: moving all 32767 sent mails is one write. A text file, a header line, then one MailKey::text() a line.
// Keys of mails that are no longer in the deleted folder are harmless: it is read for those mails alone.
inline constexpr qint64 MaxOriginFileBytes = qint64(32) << 20; // 32767 keys of 250 bytes as "%xx"

QByteArray encodeOriginFile(const QSet<MailKey>& keys);
// Nothing for anything encodeOriginFile cannot have written.
std::optional<QSet<MailKey>> decodeOriginFile(const QByteArray& bytes);

// A missing file holds no keys; one that cannot be read or is damaged gives nothing and the German reason,
// its bytes kept as "kadmel.herkunft.bad".
std::optional<QSet<MailKey>> loadOriginFile(const QString& programFolder, QString* error = nullptr);
// Atomic, owner-only, on the disk when it returns; no keys remove the file.
bool saveOriginFile(const QString& programFolder, const QSet<MailKey>& keys, QString* error = nullptr);

} // namespace kadmel
