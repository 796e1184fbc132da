#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

#include <optional>

namespace kadmel {

// Whether a 250 reply to EHLO names the extension (its keyword, in any letter case, as the first
// word of one of its lines).
bool offersExtension(const QByteArray& ehloReply, QByteArrayView keyword);

// The sign-in mechanisms a 250 reply to EHLO offers on its AUTH lines, in capitals; empty without them.
QByteArrayList authMechanisms(const QByteArray& ehloReply);

// The largest message a 250 reply to EHLO announces with "SIZE <bytes>" (RFC 1870); none without SIZE, for
// "SIZE" alone or "SIZE 0" (no fixed limit), and for a number that is none.
std::optional<qint64> sizeLimit(const QByteArray& ehloReply);

// A server's 250 reply to EHLO, kept for the session it opened.
struct EhloReply
{
    QByteArray text;

    bool offers(QByteArrayView keyword) const { return offersExtension(text, keyword); }
    QByteArrayList mechanisms() const { return authMechanisms(text); }
    std::optional<qint64> maximumSize() const { return sizeLimit(text); }
};

} // namespace kadmel
