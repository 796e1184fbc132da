#pragma once

#include "smtp/EhloReply.h"
#include "smtp/Message.h"

#include <QByteArray>
#include <QByteArrayView>

namespace kadmel {

// RFC 3461 xtext: every byte outside "!" to "~", and "+" and "=", as "+" and two upper-case hex digits.
QByteArray xtext(QByteArrayView bytes);
// The bytes an xtext stands for; a "+" not followed by two hex digits stays as it is.
QByteArray fromXtext(QByteArrayView text);

// The ENVID a mail goes out with, unencoded: its Message-ID without the angle brackets. Empty without one, or
// when its xtext would pass the 100 characters a server must take; the returned headers still carry the ID.
QByteArray envelopeIdOf(const QByteArray& messageId);

// What follows "MAIL FROM: <…>" and "RCPT TO: <…>" to ask for a report of a failure or a delay, headers only.
// Empty unless the EHLO reply offers DSN: a server without it must not see the parameters. An address that
// needs SMTPUTF8 gets no ORCPT (xtext carries only ASCII); its Final-Recipient still names it.
QByteArray mailFromParameters(const EhloReply& ehlo, const Envelope& envelope);
QByteArray rcptToParameters(const EhloReply& ehlo, const QByteArray& recipient);

} // namespace kadmel
