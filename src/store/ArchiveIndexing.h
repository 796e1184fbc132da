#pragma once

#include <QByteArray>
#include <QString>

namespace kadmel {

// Gives the copy `file` (below the archive, just written there) its index line, on the disk before this
// returns; a copy the last line names already has it. Then moves the chain's head kept at `headPath` (none
// when empty). False with a German reason.
bool indexCopy(const QString& root, const QString& file, const QByteArray& message, const QString& headPath,
               QString* error);

// The program's own copies written since the chain's last line that lack a line (the program ended between
// the copy and its line) get theirs, oldest first. How many did; a problem in `error`.
int indexMissedCopies(const QString& root, const QString& headPath, QString* error);

} // namespace kadmel
