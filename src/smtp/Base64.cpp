#include "smtp/Base64.h"

namespace kadmel {

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr qsizetype LineLength = 74;

} // namespace

qsizetype EncodedSize(qsizetype n)
{
    const qsizetype encodedLength = 4 * ((n + 2) / 3);
    return encodedLength + 2 * (encodedLength / LineLength);
}

QByteArray Encode(const QByteArray& bytes)
{
    const qsizetype n = bytes.size();
    QByteArray out(EncodedSize(n), Qt::Uninitialized);

    const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData());
    char* dst = out.data();
    qsizetype column = 0;
    // Writes one output character and breaks the line after every 74th.
    const auto put = [&](char c) {
        *dst++ = c;
        if (++column == LineLength) {
            *dst++ = '\r';
            *dst++ = '\n';
            column = 0;
        }
    };

    const qsizetype whole = n - n % 3;
    for (qsizetype i = 0; i < whole; i += 3) {
        const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        put(Alphabet[b0 >> 2]);
        put(Alphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        put(Alphabet[((b1 & 15) << 2) | (b2 >> 6)]);
        put(Alphabet[b2 & 63]);
    }
    if (n % 3 == 1) {
        const unsigned b0 = in[whole];
        put(Alphabet[b0 >> 2]);
        put(Alphabet[(b0 & 3) << 4]);
        put('=');
        put('=');
    } else if (n % 3 == 2) {
        const unsigned b0 = in[whole], b1 = in[whole + 1];
        put(Alphabet[b0 >> 2]);
        put(Alphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        put(Alphabet[(b1 & 15) << 2]);
        put('=');
    }
    return out;
}

} // namespace kadmel
