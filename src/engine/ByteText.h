#pragma once

#include <QByteArray>
#include <QDateTime>

namespace kadmel {

// Code page 858 bytes (850 with "€" at D5, as German DOS programs write it) to Windows-1252 bytes, same
// length; a byte with no counterpart becomes "?". D5 is a dotless i in 850, which no German text holds.
QByteArray OemToAnsi(const QByteArray& oem);
// The way back, for what the producer of the jobs reads: a character 858 lacks (such as "„") becomes "?".
QByteArray AnsiToOem(const QByteArray& ansi);

// "532 Bytes", "1,23 KB", "12,3 KB", "123 KB", "1,00 MB": three significant digits, cut off.
QByteArray FormatByteSize(qint64 bytes);

// "06.12.2026 18:15:11", local time.
QByteArray dateText(const QDateTime& localTime);
// The way back: the local time of such a text, invalid for any other text.
QDateTime dateOfText(const QByteArray& text);
// The two halves of it, "06.12.2026" and "18:15:11": German whatever the user's locale.
QByteArray dayText(QDate day);
QByteArray clockText(QTime time);

// One line of printable text: control bytes and runs of white space become one space, and a text over
// maxBytes ends in "…" at maxBytes.
QByteArray oneLine(QByteArray text, qsizetype maxBytes);

} // namespace kadmel
