#include "store/CryptString.h"

namespace kadmel {
namespace {

// Symbol of each decimal digit 0 … 9; a file scrambled with one table reads only with the same one.
constexpr char Table[] = "KadMeL#zUb";

int digitOf(char symbol)
{
    for (int d = 0; d < 10; ++d) {
        if (Table[d] == symbol)
            return d;
    }
    return -1;
}

QByteArray scramble(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const int code = static_cast<unsigned char>(c);
        out.append(Table[code / 100]);
        out.append(Table[code / 10 % 10]);
        out.append(Table[code % 10]);
    }
    return out;
}

char unscrambleGroup(QByteArrayView group)
{
    int code = 0;
    for (const char symbol : group) {
        const int digit = digitOf(symbol);
        if (digit < 0)
            return '?';
        code = code * 10 + digit;
    }
    return code > 255 ? '?' : static_cast<char>(code);
}

QByteArray unscramble(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size() / 3 + 1);
    for (qsizetype i = 0; i < text.size(); i += 3)
        out.append(unscrambleGroup(QByteArrayView(text).sliced(i, qMin<qsizetype>(3, text.size() - i))));
    return out;
}

} // namespace

QByteArray CryptString(const QByteArray& text, qint16 mode)
{
    switch (mode) {
    case 1:
        return scramble(text);
    case 2:
        return unscramble(text);
    default:
        return {};
    }
}

} // namespace kadmel
