#include "open_video_driver.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "platform/settings_store.h"
#include "player/preview_player.h"
#include "source/position_slider.h"
#include "source/source_player.h"
#include "support/test_environment.h"

namespace reliability_tests {
namespace {

QString TextOf(const QLabel* label) {
    return label ? label->text() : QStringLiteral("<none>");
}

}  // namespace

QString DialogSnapshot::differences(const DialogSnapshot& other) const {
    QStringList out;
    auto note = [&](const char* name, const auto& mine, const auto& theirs) {
        if (mine != theirs)
            out << QStringLiteral("%1: %2 -> %3")
                       .arg(QLatin1String(name), QVariant::fromValue(mine).toString(),
                            QVariant::fromValue(theirs).toString());
    };
    note("clipCount", clipCount, other.clipCount);
    note("clipFile", clipFile, other.clipFile);
    note("clipDuration", clipDuration, other.clipDuration);
    note("musicCount", musicCount, other.musicCount);
    note("musicFile", musicFile, other.musicFile);
    note("musicDuration", musicDuration, other.musicDuration);
    note("startMark", startMark, other.startMark);
    note("endMark", endMark, other.endMark);
    note("startText", startText, other.startText);
    note("endText", endText, other.endText);
    note("statusText", statusText, other.statusText);
    note("sourceWidth", sourceWidth, other.sourceWidth);
    note("sourceHeight", sourceHeight, other.sourceHeight);
    note("outputWidth", outputWidth, other.outputWidth);
    note("outputHeight", outputHeight, other.outputHeight);
    note("sourceFrameRate", sourceFrameRate, other.sourceFrameRate);
    note("outputFrameRate", outputFrameRate, other.outputFrameRate);
    note("player", reinterpret_cast<quintptr>(player), reinterpret_cast<quintptr>(other.player));
    note("playState", playState, other.playState);
    note("playerClip", playerClip, other.playerClip);
    note("transportEnabled", transportEnabled, other.transportEnabled);
    note("lastFolder", lastFolder, other.lastFolder);
    return out.join(QStringLiteral("; "));
}

DialogSnapshot TakeSnapshot(const ConverterDialog& dialog) {
    DialogSnapshot s;
    s.clipCount = dialog.clipList.count;
    s.clipFile = dialog.clipList[0].fileName;
    s.clipDuration = dialog.clipList[0].duration;
    s.musicCount = dialog.musicList.count;
    s.musicFile = dialog.musicList[0].fileName;
    s.musicDuration = dialog.musicList[0].duration;
    s.startMark = dialog.startMark;
    s.endMark = dialog.endMark;
    s.startText = TextOf(dialog.startMarkDisplay);
    s.endText = TextOf(dialog.endMarkDisplay);
    s.statusText = TextOf(dialog.statusLine);
    s.sourceWidth = dialog.outputSettings.sourceWidth;
    s.sourceHeight = dialog.outputSettings.sourceHeight;
    s.outputWidth = dialog.outputSettings.outputWidth;
    s.outputHeight = dialog.outputSettings.outputHeight;
    s.sourceFrameRate = dialog.outputSettings.sourceFrameRate;
    s.outputFrameRate = dialog.outputSettings.outputFrameRate;
    s.player = currentPlayer;
    s.playState = currentPlayer ? currentPlayer->playState : -1;
    s.playerClip = currentPlayer ? currentPlayer->clipName : QString();
    s.transportEnabled = dialog.convertButton && dialog.convertButton->isEnabled() &&
                         dialog.playButton && dialog.playButton->isEnabled() &&
                         dialog.positionSlider && dialog.positionSlider->isEnabled();
    s.lastFolder = platform::SettingsStore().readString(
        QStringLiteral("Option"), QStringLiteral("LastPhotoFolder"), QString());
    return s;
}

qint64 OpenThroughDialog(ConverterDialog& dialog, testing_support::TestEnvironment& environment,
                         const QString& path, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    environment.files.openAnswers.push_back(path);
    dialog.OnOpenVideo();
    if (!QTest::qWaitFor([&] { return !dialog.openingVideo; }, timeoutMs)) return -1;
    return clock.elapsed();
}

}  // namespace reliability_tests
