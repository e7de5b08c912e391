#pragma once

// Where the video window goes on the desktop and where its picture goes inside it. Pure
// arithmetic on rectangles, so that every screen size can be tried without one.

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

// The video window's client area (where the picture is painted) for a picture of the given
// size on a screen whose work area is `available`, next to the owner's window (its frame
// rectangle; an invalid rectangle for none). `frame` is what the window manager puts around a
// client area. The picture keeps its size where it fits the work area, and is otherwise scaled
// down to fit, keeping its aspect. The window stands beside the owner, not over it, where the
// work area has room: right of it, else left, below, above, level with the owner's top or
// left edge as far as the work area allows. Where there is no such room it goes where it
// covers the least of the owner. It is always wholly inside the work area.
QRect VideoWindowPlacement(QSize picture, const QRect& available, const QRect& owner,
                           const QMargins& frame);

// The largest size of a client area whose frame fits the work area.
QSize ClientRoom(const QRect& available, const QMargins& frame);

// A client rectangle moved, not resized, so that its frame lies inside the work area as far as
// its size allows.
QRect KeepInside(const QRect& client, const QRect& available, const QMargins& frame);

// The picture of the given size within a client area of the given size: as large as fits,
// aspect kept, centred. The whole area when the picture's size is unknown.
QRect WindowedPictureRect(QSize client, QSize picture);

// What the window manager puts around a window's client area; nothing before it is shown.
QMargins FrameMargins(const QWidget* window);
