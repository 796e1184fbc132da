#include "engine/ByteText.h"

#include <array>
#include <iconv.h>

namespace kadmel {
namespace {

using ByteTable = std::array<char, 256>;

// One entry per byte of `from`, made once through iconv; a byte `to` cannot hold becomes "?".
ByteTable buildTable(const char* to, const char* from)
{
    ByteTable table;
    table.fill('?');
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (int b = 0; b < 128; ++b)
            table[b] = static_cast<char>(b);
        return table;
    }
    for (int b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        char out[8] = {};
        char* inPtr = &in;
        char* outPtr = out;
        size_t inLeft = 1;
        size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && outPtr - out == 1)
            table[b] = out[0];
    }
    iconv_close(cd);
    return table;
}

QByteArray mapped(const ByteTable& table, const QByteArray& text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = table[static_cast<unsigned char>(text[i])];
    return out;
}

} // namespace

QByteArray OemToAnsi(const QByteArray& oem)
{
    static const ByteTable table = buildTable("WINDOWS-1252", "CP858");
    return mapped(table, oem);
}

QByteArray AnsiToOem(const QByteArray& ansi)
{
    static const ByteTable table = buildTable("CP858", "WINDOWS-1252");
    return mapped(table, ansi);
}

QByteArray FormatByteSize(qint64 bytes)
{
    if (bytes < 1024)
        return QByteArray::number(bytes) + " Bytes";

    static const char* const Units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    int unit = 0;
    qint64 divisor = 1024;
    while (unit < 5 && bytes / divisor >= 1024) {
        divisor *= 1024;
        ++unit;
    }
    // Hundredths of the unit, cut off; the size decides how many of the digits are shown.
    const auto hundredths = static_cast<qint64>(static_cast<__int128>(bytes) * 100 / divisor);
    const qint64 whole = hundredths / 100;
    QByteArray text = QByteArray::number(whole);
    if (whole < 10)
        text += ',' + QByteArray::number(hundredths % 100).rightJustified(2, '0');
    else if (whole < 100)
        text += ',' + QByteArray::number((hundredths % 100) / 10);
    return text + ' ' + Units[unit];
}

// Explicit formats of digits only: neither the system locale nor the language changes them.
QByteArray dateText(const QDateTime& localTime)
{
    return dayText(localTime.date()) + ' ' + clockText(localTime.time());
}

QDateTime dateOfText(const QByteArray& text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QByteArray dayText(QDate day)
{
    return day.toString(QStringLiteral("dd.MM.yyyy")).toLatin1();
}

QByteArray clockText(QTime time)
{
    return time.toString(QStringLiteral("HH:mm:ss")).toLatin1();
}

QByteArray oneLine(QByteArray text, qsizetype maxBytes)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    text = text.simplified();
    if (text.size() > maxBytes)
        text = text.left(maxBytes - 1) + '\x85'; // "…" in Windows-1252
    return text;
}

} // namespace kadmel
