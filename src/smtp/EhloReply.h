#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace kadmel {

// Whether a 250 reply to EHLO names the extension (its keyword, in any letter case, as the first
// word of one of its lines).
bool offersExtension(const QByteArray& ehloReply, QByteArrayView keyword);

} // namespace kadmel
