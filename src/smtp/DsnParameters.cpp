#include "smtp/DsnParameters.h"

#include <algorithm>

namespace kadmel {

namespace {

constexpr qsizetype MaxEnvelopeId = 100; // RFC 3461 4.4: a server need not take a longer ENVID

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

QByteArray xtext(QByteArrayView bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        const auto u = uchar(c);
        if (u < 33 || u > 126 || c == '+' || c == '=')
            out += '+' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

QByteArray fromXtext(QByteArrayView text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '+' ? hexValue(text[i + 1]) : -1;
        const int low = high < 0 ? -1 : hexValue(text[i + 2]);
        if (low < 0) {
            out += text[i];
            continue;
        }
        out += char(high * 16 + low);
        i += 2;
    }
    return out;
}

QByteArray envelopeIdOf(const QByteArray& messageId)
{
    const QByteArray id =
        messageId.startsWith('<') && messageId.endsWith('>') ? messageId.mid(1, messageId.size() - 2) : messageId;
    return xtext(id).size() > MaxEnvelopeId ? QByteArray() : id;
}

QByteArray mailFromParameters(const EhloReply& ehlo, const Envelope& envelope)
{
    if (!ehlo.offers("DSN"))
        return {};
    const QByteArray id = envelopeIdOf(envelope.messageId);
    return " RET=HDRS" + (id.isEmpty() ? QByteArray() : " ENVID=" + xtext(id));
}

QByteArray rcptToParameters(const EhloReply& ehlo, const QByteArray& recipient)
{
    if (!ehlo.offers("DSN"))
        return {};
    const bool ascii = std::all_of(recipient.cbegin(), recipient.cend(), [](char c) { return uchar(c) < 128; });
    return " NOTIFY=FAILURE,DELAY" + (ascii ? " ORCPT=rfc822;" + xtext(recipient) : QByteArray());
}

} // namespace kadmel
