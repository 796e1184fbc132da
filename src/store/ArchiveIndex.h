#pragma once

#include "store/FolderHandle.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kadmel {

// The archive's index: one line per copy in "<Archiv>/<Jahr>/index.tsv", UTF-8, its fields separated by tabs:
// time, Message-ID, sender, recipients, subject, attachment names, the file below the archive, the SHA-256 of
// the file and the SHA-256 of the line before (for a year's first line the last line of the latest year before,
// for the very first 64 zeros). Tab, CR, LF and backslash in a value are written "\t", "\r", "\n", "\\", so a
// line is always one line; a line is only ever added, never written again.

inline constexpr char IndexFileName[] = "index.tsv";
inline constexpr qint64 MaxArchiveCopyBytes = qint64(128) << 20; // a mail at the store's limit, as Base64
inline constexpr qsizetype MaxIndexLineBytes = 64 << 10;

struct IndexLine
{
    QByteArray time; // "2026-12-07T09:10:32", the time of sending the file's name begins with
    QByteArray messageId;
    QByteArray sender;
    QByteArray recipients;  // To and Cc
    QByteArray subject;     // decoded
    QByteArray attachments; // the names, "; " between them
    QByteArray file;        // "2026/12/2026-12-07 09.10.32 Betreff.eml"
    QByteArray fileHash;
    QByteArray previousHash;
};

// The line's bytes, without its LF.
QByteArray composeLine(const IndexLine& line);
// A line's fields; nothing when it has not all nine or holds an escape that is none.
std::optional<IndexLine> parseLine(const QByteArray& bytes);
// SHA-256 as 64 small hex digits.
QByteArray hashOf(const QByteArray& bytes);
QByteArray hashOf(QIODevice& device);
// What a first line names as the line before it.
QByteArray chainStart();

// The line of the copy `file` (below the archive) from its header; the two hashes are left to the caller.
IndexLine describeCopy(const QString& file, const QByteArray& message);

// The year folders below the archive ("2026"), in order.
QStringList archiveYears(const QString& root);
// The month folders of a year ("01" … "12"), in order.
QStringList archiveMonths(const QString& yearFolder);
// The archive folder itself, opened where a link names it; what lies below it is never reached through one.
FolderHandle openArchive(const QString& root);

enum class IndexRead
{
    Read,
    Missing,
    Unreadable,
};
// The year's index a line at a time, without the LF; `complete` is false for a line cut short (the last one
// of a crash) or longer than MaxIndexLineBytes, whose rest is passed over.
IndexRead readIndexLines(FolderHandle& year, const std::function<void(const QByteArray& line, bool complete)>& each);

// The chain's end as the program last left it, kept in the store (kadmel.archivkette): a chain rewritten from a
// line on, every later hash computed again, no longer ends there.
struct ChainHead
{
    QString archive; // the archive folder it belongs to, canonical
    qint64 lines = 0;
    QByteArray lastHash;
    QByteArray rewritten; // "<lines> <hash>": the head an archiving found no longer matching the index
};

QString canonicalArchive(const QString& root);
// Nothing when the file is missing or not a head.
std::optional<ChainHead> readChainHead(const QString& path);
bool writeChainHead(const QString& path, const ChainHead& head, QString* error);

} // namespace kadmel
