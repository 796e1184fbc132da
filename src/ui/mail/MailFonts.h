#pragma once

#include <QFont>

namespace kadmel {

// Lucida Console 8.25 pt, or the nearest fixed-pitch font where it is not installed.
QFont monospaceFont();

// Arial 8.25 pt (or the desktop's sans-serif stand-in).
QFont labelFont(bool bold);

} // namespace kadmel
