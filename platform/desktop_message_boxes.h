#pragma once

// The desktop's message boxes: real modal QMessageBoxes for the program's windows.

#include "platform/message_boxes.h"

class QWidget;

namespace platform {

// Each box is owned by TopWindow(owner) and stays on top where that window does.
MessageBoxes& DesktopMessageBoxes();

// The window a box is to stand above: the program's window on top now, which may not be the
// window that asks (the video window in full screen, or the main dialog once a click in the
// video window has made it stay on top). In this order: the active window, unless another
// window stays above it; then a window that stays on top, the modal one or the preferred one
// first; then the modal window, the preferred one's window, any window shown. Hidden and
// minimised windows never own a box, which would be out of sight with them. nullptr when the
// program shows no window.
QWidget* TopWindow(QWidget* preferred);

}  // namespace platform
