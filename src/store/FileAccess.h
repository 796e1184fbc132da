#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <optional>

namespace kadmel {

// Whole-file reads and writes of the store. Reasons are German, for the user.

// Largest files the readers accept; anything bigger is not a store file of ours.
inline constexpr qint64 MaxSettingsFileBytes = 1 << 20;
inline constexpr qint64 MaxIndexFileBytes = 4 << 20;
inline constexpr qint64 MaxMailFileBytes = qint64(64) << 20;

// Whether a write waits until its bytes are on the disk. Only tests that build big stores skip it.
// FileOnly leaves the folder (the new name) to the caller, who syncs it once after many writes.
enum class FileSync
{
    Durable,
    FileOnly,
    Skipped
};

enum class ReadOutcome
{
    Read,
    Missing,
    Failed
};

// Reads the whole file, refusing one larger than maxBytes. Only a regular file is read: a symbolic link,
// a FIFO or a device in its place is refused without being followed or waited for. A file that others
// may read is made owner-only on the way.
ReadOutcome readWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString* error);

// Replaces the file atomically (a crash or a full disk leaves the old file), readable and writable by
// its owner only. A symbolic link in its place is replaced by the file, never written through.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* error, FileSync sync = FileSync::Durable);
// The same with everything `source` gives until its end, read a piece at a time.
bool writeWholeFile(const QString& path, QIODevice& source, QString* error, FileSync sync = FileSync::Durable);

// Replaces the file `name` in `folder` (the file system's bytes, which need not be UTF-8) atomically with
// bytes of the given mode: written under a temporary name starting with "." and ending in neither ".txt"
// nor ".zub", synced, then renamed. A folder that is missing is not made.
bool writeNamedFile(const QByteArray& folder, const QByteArray& name, const QByteArray& bytes, int mode,
                    QString* error);

// A file beside the store that the program can do without: a missing one is no fault (`decodes` is not
// asked). One that cannot
// be read, is larger than maxBytes or that `decodes` refuses gives false and a German reason; its bytes
// are kept as "<name>.bad" where they can be read.
bool readSideFile(const QString& path, qint64 maxBytes, const std::function<bool(const QByteArray&)>& decodes,
                  QString* error);
// The same with the decoder of its content: a missing file gives an empty content.
template <typename Content>
std::optional<Content> loadSideFile(const QString& path, qint64 maxBytes,
                                    std::optional<Content> (*decode)(const QByteArray&), QString* error)
{
    std::optional<Content> content = Content{};
    const auto decodes = [&](const QByteArray& bytes) { return (content = decode(bytes)).has_value(); };
    return readSideFile(path, maxBytes, decodes, error) ? content : std::nullopt;
}

// Puts the folder's names (renames, new and removed files) on the disk.
bool syncFolder(const QString& folder, QString* error);

// Writes the bytes as a new file "<stem><suffix>" in the folder, or "<stem> (2)<suffix>" and so on where the
// name is taken: nothing is ever replaced or written through a link. A file of such a name that holds exactly
// these bytes already counts as written (a copy made again after a crash). Owner-only and on the disk before
// its name appears. The name used, or nothing with a German reason.
std::optional<QString> writeNewFile(const QString& folder, const QString& stem, const QString& suffix,
                                    const QByteArray& bytes, QString* error);

// Makes the folder (owner-only) where it is missing; a link or anything but a folder in its place is refused.
bool makeOwnFolder(const QString& path, QString* error);

// Removes a file; a file that is not there counts as removed.
bool removeFile(const QString& path, QString* error);

// Gives the file a new name; refuses when a file of that name exists.
bool renameFile(const QString& from, const QString& to, QString* error);

// Keeps a copy of a damaged file as "<name>.bad" (replacing an older one) before anything overwrites it.
bool keepAsBad(const QString& path, QString* error);

// The file's name without its folder, quoted for a message.
QString quotedName(const QString& path);

// The German reason of a system error number (errno).
QString systemReason(int code);

} // namespace kadmel
