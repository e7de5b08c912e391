#pragma once

// Helpers shared by the video window's tests: an owner window that records the messages the
// player posts to it, and the clips the tests play.

#include <QCoreApplication>
#include <QList>
#include <QWidget>

#include "platform/window_messages.h"
#include "support/media_fixtures.h"

namespace player_tests {

class RecordingOwner : public QWidget {
public:
    RecordingOwner() {
        setWindowTitle(QStringLiteral("Owner"));
        setGeometry(300, 400, 400, 200);
    }
    QList<int> messages;  // message numbers in arrival order
    QList<int> commands;  // command ids of WM_COMMAND

protected:
    bool event(QEvent* event) override {
        if (event->type() == platform::WindowMessageEvent::eventType()) {
            const auto* message = static_cast<platform::WindowMessageEvent*>(event);
            messages << message->message();
            if (message->message() == WM_COMMAND) commands << message->command();
            return true;
        }
        return QWidget::event(event);
    }
};

// Delivers what is already posted, without waiting for more.
inline void DeliverPosted() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// A 3-second 320x240 clip at 25 frames per second with sound.
inline QString SmallClip() {
    testing_support::ClipSpec spec;
    spec.seconds = 3.0;
    spec.width = 320;
    spec.height = 240;
    return testing_support::MakeClip(spec);
}

// Sound only.
inline QString AudioOnlyFile() {
    testing_support::ClipSpec spec;
    spec.seconds = 2.0;
    spec.extension = QStringLiteral("wav");
    spec.extraArguments = {QStringLiteral("-vn")};
    return testing_support::MakeClip(spec);
}

}  // namespace player_tests
