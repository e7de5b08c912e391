#pragma once

// Files dragged from the desktop's file manager onto a window.

#include <QString>

class QDropEvent;
class QMimeData;

namespace platform {

// The file a drag names: the first item that is an existing local file, as a path with the
// platform's separators, like the open-file dialog gives. Folders, web addresses and text are
// no file, and every item after the first file is left alone. Empty when there is none.
QString DroppedFilePath(const QMimeData* data);

// Takes the drag or drop as a copy, or failing that as a link, so that the program that
// dragged the file never deletes it as it would after a move. False, with the event ignored,
// when the drag offers neither.
bool AcceptFileDrop(QDropEvent* event);

}  // namespace platform
