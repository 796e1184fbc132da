#pragma once

#include <QByteArray>

namespace kadmel {

// The size a message is measured by against a limit: its bytes as they go on the wire (Base64, header,
// CR LF), without the end-of-data line "." CR LF.
qint64 messageSize(const QByteArray& composed);

// Why a message too big for the server's SIZE does not go (German, Windows-1252), naming both sizes.
QByteArray tooLargeForServer(qint64 size, qint64 limit);
// Likewise for the own limit of "kadmel.ini".
QByteArray tooLargeForSettings(qint64 size, qint64 limit);

} // namespace kadmel
