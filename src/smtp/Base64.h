#pragma once

#include <QByteArray>

namespace kadmel {

// RFC 4648 Base64 with padding, broken into lines of 74 characters; CR LF follows every full line,
// the last one included when the encoded length is a multiple of 74.
QByteArray Encode(const QByteArray& bytes);

// The size of Encode() for `n` input bytes.
qsizetype EncodedSize(qsizetype n);

} // namespace kadmel
