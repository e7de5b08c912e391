#pragma once

// The program's numbered resources (icons, bitmaps, cursors, sounds), compiled into the
// program from res/.

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace platform {

// ":/icons/<id>.svg" where a drawing exists, else ":/icons/<id>.png" (or .wav for a sound);
// empty when neither.
QString ResourcePath(const char* folder, int id);

QIcon LoadIconResource(int id);
QPixmap LoadBitmapResource(int id);
// A cursor resource with its hot spot in image pixels; the arrow cursor when the resource is
// missing.
QCursor LoadCursorResource(int id, QPoint hotSpot = QPoint(1, 1));

}  // namespace platform
