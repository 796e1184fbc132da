#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

namespace kadmel {

// Whether a 250 reply to EHLO names the extension (its keyword, in any letter case, as the first
// word of one of its lines).
bool offersExtension(const QByteArray& ehloReply, QByteArrayView keyword);

// The sign-in mechanisms a 250 reply to EHLO offers on its AUTH lines, in capitals; empty without them.
QByteArrayList authMechanisms(const QByteArray& ehloReply);

// A server's 250 reply to EHLO, kept for the session it opened.
struct EhloReply
{
    QByteArray text;

    bool offers(QByteArrayView keyword) const { return offersExtension(text, keyword); }
    QByteArrayList mechanisms() const { return authMechanisms(text); }
};

} // namespace kadmel
