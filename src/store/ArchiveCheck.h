#pragma once

#include "store/ArchiveIndex.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kadmel {

struct ArchiveCheck
{
    QStringList findings; // German, one line each: what is missing, changed or added
    qint64 lines = 0;
    qint64 files = 0;
    QString summary() const;
};

// Every copy against its line, every line against the one before it, and the chain's end against `head` where
// it belongs to this archive. Files are hashed a piece at a time; what lies below the archive is never reached
// through a link.
ArchiveCheck checkArchive(const QString& root, const std::optional<ChainHead>& head);

} // namespace kadmel
