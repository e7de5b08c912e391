#pragma once

// The program's numbered resources (icons, bitmaps, cursors, sounds, menus), compiled into the
// program from res/. Each file is named for what it holds and ends in its id
// ("program_128.svg"): code asks for the id, a reader sees the name.

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace platform {

// ":/icons/<name>_<id>.svg" where a drawing exists, else the .png (or the .wav of a sound, the
// .json of a menu); empty when there is none.
QString ResourcePath(const char* folder, int id);

QIcon LoadIconResource(int id);
QPixmap LoadBitmapResource(int id);
// A cursor resource with its hot spot in image pixels; the arrow cursor when the resource is
// missing.
QCursor LoadCursorResource(int id, QPoint hotSpot = QPoint(1, 1));

}  // namespace platform
