#pragma once

#include <QColor>

class QWidget;

namespace kadmel {

// The contrast of two colours as the accessibility guidelines count it: 1 (equal) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);

// The wanted colour where it can be read on this ground (4.5 : 1), else black or white, whichever reads better.
QColor readableColour(const QColor& ground, const QColor& wanted);

// Gives a push button's label a colour readable on its own ground, and a disabled one that is clearly
// paler than an enabled one, whatever the desktop's scheme.
void makeLabelReadable(QWidget& button);

} // namespace kadmel
