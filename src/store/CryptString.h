#pragma once

#include <QByteArray>

namespace kadmel {

// The reversible substitution of the settings texts: every byte becomes the three table characters of
// its decimal code ("A", code 065, becomes "K#L"). Mode 1 scrambles, mode 2 unscrambles, any other
// mode gives the empty text. Unscrambling turns a group that is not table characters, or whose number
// is above 255, into "?"; a short last group is read with the places it has.
QByteArray CryptString(const QByteArray& text, qint16 mode);

} // namespace kadmel
