#include "platform/window_messages.h"

#include <QCoreApplication>

namespace platform {

WindowMessageEvent::WindowMessageEvent(int message, int command)
    : QEvent(eventType()), message_(message), command_(command) {}

QEvent::Type WindowMessageEvent::eventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostWindowMessage(QObject* target, int message) {
    QCoreApplication::postEvent(target, new WindowMessageEvent(message, 0));
}

void PostCommand(QObject* target, int command) {
    QCoreApplication::postEvent(target, new WindowMessageEvent(WM_COMMAND, command));
}

}  // namespace platform
