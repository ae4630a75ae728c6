#pragma once

#include <QRect>

#include <algorithm>

// Where a window's frame goes to stay within `room` (a screen's free area):
// moved in from the right and bottom edges first, then from the left and
// top, so that a frame larger than the room keeps its title bar on the
// screen, where the user can still grab it.
inline QPoint topLeftKeptIn(QRect frame, const QRect &room)
{
    frame.moveRight(std::min(frame.right(), room.right()));
    frame.moveBottom(std::min(frame.bottom(), room.bottom()));
    frame.moveLeft(std::max(frame.left(), room.left()));
    frame.moveTop(std::max(frame.top(), room.top()));
    return frame.topLeft();
}
