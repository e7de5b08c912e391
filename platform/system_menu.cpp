#include "platform/system_menu.h"

#include <QWidget>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace platform {

bool AppendSystemMenuItem(QWidget* window, int command, const QString& text) {
#if defined(Q_OS_WIN)
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(window->winId()), FALSE);
    if (!menu || text.isEmpty()) return false;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    const std::wstring item = text.toStdWString();
    return AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(command), item.c_str()) != 0;
#else
    Q_UNUSED(window);
    Q_UNUSED(command);
    Q_UNUSED(text);
    return false;
#endif
}

int SystemMenuCommand(const QByteArray& eventType, void* message) {
#if defined(Q_OS_WIN)
    if (eventType != "windows_generic_MSG" || !message) return -1;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_SYSCOMMAND) return -1;
    return static_cast<int>(msg->wParam & 0xFFF0);
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    return -1;
#endif
}

}  // namespace platform
