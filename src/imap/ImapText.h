#pragma once

#include <QByteArray>
#include <QString>

namespace kadmel {

// An IMAP quoted string: the bytes between double quotes, '"' and '\' escaped. Nothing for bytes a quoted
// string cannot carry (CR, LF, NUL).
QByteArray imapQuoted(const QByteArray& bytes);
// A mailbox name as the server takes it: modified UTF-7 (RFC 3501 5.1.3), quoted.
QByteArray imapMailboxName(const QString& name);

} // namespace kadmel
