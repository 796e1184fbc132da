#pragma once

#include <QByteArray>
#include <QString>

namespace kadmel {

// Store texts, SMTP bytes and Base64 input are Windows-1252 bytes; QString appears only at the window.
// These two functions are the one place where the two meet.

// Decodes Windows-1252 bytes. The five bytes Windows-1252 leaves unassigned map to the C1 controls
// of the same value, so every byte survives a round trip.
QString fromAnsi(const QByteArray& bytes);

// Encodes to Windows-1252; a character that Windows-1252 cannot hold becomes "?".
QByteArray toAnsi(const QString& text);

} // namespace kadmel
