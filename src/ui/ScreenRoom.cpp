#include "ui/ScreenRoom.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace kadmel {

QMargins windowFrame(const QWidget& window)
{
    const QMargins known = window.windowHandle() ? window.windowHandle()->frameMargins() : QMargins();
    // Until the window manager has framed the window, a generous guess: a window a little smaller than
    // it could be is better than one whose title bar or buttons lie off the screen.
    return known.isNull() ? QMargins(8, 32, 8, 8) : known;
}

QRect placeInside(const QRect& wanted, const QMargins& frame, const QRect& available)
{
    const QRect room = available.marginsRemoved(frame);
    const QSize size = wanted.size().boundedTo(room.size());
    const int left = std::clamp(wanted.x(), room.left(), room.left() + room.width() - size.width());
    const int top = std::clamp(wanted.y(), room.top(), room.top() + room.height() - size.height());
    return {QPoint(left, top), size};
}

QRect availableArea(const QWidget& window)
{
    const QScreen* screen = QGuiApplication::screenAt(window.frameGeometry().center());
    if (!screen)
        screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void keepOnScreen(QWidget& window, QSize size)
{
    const QRect available = availableArea(window);
    if (available.isEmpty())
        return window.resize(size);
    const QRect place = placeInside(QRect(window.geometry().topLeft(), size), windowFrame(window), available);
    // The window's own minimum may still be larger than the room; then at least its top left is on the screen.
    const QSize shown = place.size().expandedTo(window.minimumSize());
    window.setGeometry(QRect(place.topLeft(), shown));
}

} // namespace kadmel
