#pragma once

// The window menu of a top-level window (the one under its icon), where the desktop has one:
// Windows. Other desktops keep that menu to themselves, so there these calls do nothing.

#include <QByteArray>
#include <QString>

class QWidget;

namespace platform {

// Appends a separator and then an item with the command to the window's menu. False where the
// desktop has no such menu or the item could not be added.
bool AppendSystemMenuItem(QWidget* window, int command, const QString& text);

// The command of a window-menu message with its low four bits cleared (the desktop keeps
// those for itself); -1 for every other native message.
int SystemMenuCommand(const QByteArray& eventType, void* message);

}  // namespace platform
