#pragma once

// Helpers shared by the playback tests: an owner window that records what the player posts to
// it, the files they play, and Open Video and the position tick driven through the main dialog.

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QTest>
#include <QWidget>

#include "app/converter_dialog.h"
#include "app/source_player.h"
#include "platform/window_messages.h"
#include "player/preview_player.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"

namespace player_tests {

using testing_support::DialogControl;
using testing_support::Press;

class RecordingOwner : public QWidget {
public:
    RecordingOwner() { setGeometry(300, 400, 400, 200); }
    QList<int> messages;  // message numbers in arrival order
    QList<int> commands;  // command ids of WM_COMMAND

protected:
    bool event(QEvent* event) override {
        if (event->type() != platform::WindowMessageEvent::eventType())
            return QWidget::event(event);
        const auto* message = static_cast<platform::WindowMessageEvent*>(event);
        messages << message->message();
        if (message->message() == WM_COMMAND) commands << message->command();
        return true;
    }
};

// Delivers what is already posted, without waiting for more.
inline void DeliverPosted() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// 3 seconds of 320x240 at 25 frames per second, with sound: frames 0 to 74.
inline QString SmallClip() {
    testing_support::ClipSpec spec;
    spec.width = 320;
    spec.height = 240;
    return testing_support::MakeClip(spec);
}

inline QString AudioOnlyFile() {
    testing_support::ClipSpec spec;
    spec.seconds = 2.0;
    spec.extension = QStringLiteral("wav");
    spec.extraArguments = {QStringLiteral("-vn")};
    return testing_support::MakeClip(spec);
}

// An AVI header followed by noise.
inline QString CorruptFile(const testing_support::TestEnvironment& environment) {
    const QString path = environment.scratchPath(QStringLiteral("corrupt.avi"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    QByteArray junk(
        "RIFF\x10\x00\x00\x00"
        "AVI LIST",
        16);
    for (int i = 0; i < 4000; ++i) junk.append(static_cast<char>((i * 7919) % 251));
    file.write(junk);
    return path;
}

// Picks the file in the scripted file dialog and waits until the open has finished.
inline bool OpenVideo(ConverterDialog& dialog, testing_support::TestEnvironment& environment,
                      const QString& path) {
    environment.files.openAnswers.push_back(path);
    Press(dialog, MainDialogIds::kOpenVideo);
    return QTest::qWaitFor([&] { return !dialog.isOpeningVideo(); }, 15000);
}

// One position tick of the player, delivered to the dialog.
inline void Tick(ConverterDialog& dialog) {
    if (currentPlayer) currentPlayer->OnPositionTimer();
    QCoreApplication::sendPostedEvents(&dialog);
}

}  // namespace player_tests
