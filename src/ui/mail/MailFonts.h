#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

namespace kadmel {

// Lucida Console 8.25 pt, or the nearest fixed-pitch font where it is not installed.
QFont monospaceFont();

// Arial 8.25 pt (or the desktop's sans-serif stand-in).
QFont labelFont(bool bold);

// The colour for text on this ground: the design's on a light desktop, a lighter one on a dark desktop,
// where the design's dark colours cannot be read.
QColor readableOn(const QColor& ground, const QColor& onLight, const QColor& onDark);

// A plain-text label of the designed windows: at its place, in its font and colour, on the window's ground.
QLabel* placedLabel(QWidget* parent, const QString& name, const QRect& place, const QFont& font, const QColor& colour);

} // namespace kadmel
