#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

namespace kadmel {

// The frame the desktop puts around a top-level window: the real one once the desktop has told it,
// else room for a title bar and borders, so that a window placed before it is shown is not too large.
QMargins windowFrame(const QWidget& window);

// Where a window of the wanted place and size goes (frame not included) so that, with its frame, it
// lies inside the available area: no larger than the area, moved in as little as needed.
QRect placeInside(const QRect& wanted, const QMargins& frame, const QRect& available);

// The available area (the screen less its panels) of the screen the window is on.
QRect availableArea(const QWidget& window);

// Gives a top-level window this size as far as its screen's available area allows, and moves it so
// that its frame lies inside that area.
void keepOnScreen(QWidget& window, QSize size);

} // namespace kadmel
