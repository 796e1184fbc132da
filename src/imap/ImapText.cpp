#include "imap/ImapText.h"

namespace kadmel {

QByteArray imapQuoted(const QByteArray& bytes)
{
    QByteArray quoted = "\"";
    for (const char c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            return {};
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

QByteArray imapMailboxName(const QString& name)
{
    QByteArray encoded;
    QByteArray shifted; // UTF-16 big-endian bytes of the characters waiting for their base64 run
    const auto flush = [&] {
        if (shifted.isEmpty())
            return;
        encoded += '&' + shifted.toBase64(QByteArray::OmitTrailingEquals).replace('/', ',') + '-';
        shifted.clear();
    };
    for (const QChar c : name) {
        if (c.unicode() >= 0x20 && c.unicode() <= 0x7e) {
            flush();
            encoded += c == u'&' ? QByteArray("&-") : QByteArray(1, char(c.unicode()));
        } else {
            shifted += char(c.unicode() >> 8);
            shifted += char(c.unicode() & 0xff);
        }
    }
    flush();
    return imapQuoted(encoded);
}

} // namespace kadmel
