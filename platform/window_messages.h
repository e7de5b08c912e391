#pragma once

// The program's private window messages, delivered as posted events so that they arrive in
// the order they were sent, after the sender's current work, on the receiver's thread.

#include <QEvent>

class QObject;

#if defined(_WIN32)
#include <windows.h>  // WM_USER, WM_COMMAND
#else
inline constexpr int WM_USER = 0x0400;
inline constexpr int WM_COMMAND = 0x0111;  // a command id in the event's command()
#endif
inline constexpr int WM_POSITIONNOTIFY = WM_USER + 3;  // 1027: the player read its position
inline constexpr int WM_GRAPHNOTIFY = WM_USER + 13;    // 1037: a media graph has events

namespace platform {

class WindowMessageEvent : public QEvent {
public:
    WindowMessageEvent(int message, int command);
    int message() const { return message_; }
    int command() const { return command_; }

    // The one event type used for every window message.
    static QEvent::Type eventType();

private:
    int message_;
    int command_;
};

// Posts a message to a window object; safe from any thread.
void PostWindowMessage(QObject* target, int message);
// Posts WM_COMMAND with a command id.
void PostCommand(QObject* target, int command);

}  // namespace platform
