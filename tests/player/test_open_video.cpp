// Open Video and the transport of the main dialog on real clips: what an open leaves behind,
// the position display and slider after ticks, the marks, seeking by the slider, the end of
// the clip, refused files and closing the clip.

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/converter_app.h"
#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "platform/dialog_template.h"
#include "platform/settings_store.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "player_test_support.h"
#include "source/position_slider.h"
#include "source/source_player.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace player_tests;
using testing_support::ClipSpec;
using testing_support::MakeClip;
using testing_support::TestEnvironment;

namespace {

const QString kNoDuration = QStringLiteral("Can not get the duration of the clip!");
const QString kCannotOpen = QStringLiteral(
    "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt.");

// Picks the file in the scripted dialog and waits until the open has finished.
bool OpenVideo(ConverterDialog& dialog, TestEnvironment& environment, const QString& path) {
    environment.files.openAnswers.push_back(path);
    dialog.OnOpenVideo();
    return QTest::qWaitFor([&] { return !dialog.openingVideo; }, 15000);
}

// One position tick of the player, delivered to the dialog.
void Tick(ConverterDialog& dialog) {
    if (currentPlayer) currentPlayer->OnPositionTimer();
    QCoreApplication::sendPostedEvents(&dialog);
}

QString Text(ConverterDialog& dialog, int id) {
    auto* label = platform::Control<QLabel>(&dialog, id);
    return label ? label->text() : QStringLiteral("<missing>");
}

bool TransportEnabled(ConverterDialog& dialog) {
    return dialog.convertButton->isEnabled() && dialog.playButton->isEnabled() &&
           dialog.positionSlider->isEnabled() && dialog.startTimeButton->isEnabled();
}

QString CorruptFile(TestEnvironment& environment) {
    const QString path = environment.scratchPath(QStringLiteral("broken.avi"));
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

constexpr ReferenceTime kSecond = 10'000'000;

}  // namespace

class OpenVideoTest : public QObject {
    Q_OBJECT

private slots:
    void openingAClipMakesItTheWholeProject() {
        TestEnvironment environment;
        platform::SettingsStore().writeInt(QStringLiteral("Settings"),
                                           QStringLiteral("OutputFrameRateIndex"), 2);  // "24"
        ClipSpec spec;
        spec.seconds = 3.5;
        spec.width = 720;
        spec.height = 576;
        const QString clip = MakeClip(spec);
        QVERIFY(!clip.isEmpty());

        ConverterDialog dialog;
        dialog.show();
        QVERIFY(!TransportEnabled(dialog));
        QVERIFY(OpenVideo(dialog, environment, clip));
        QVERIFY2(environment.messages.boxes.isEmpty(),
                 qPrintable(environment.messages.texts().join('|')));

        const platform::FileRequest& request = environment.files.requests.front();
        QCOMPARE(request.title, QStringLiteral("Select a video file..."));
        QCOMPARE(request.initialFolder, QString());
        QCOMPARE(request.filters.size(), 2);
        QCOMPARE(
            request.filters[0].name,
            QStringLiteral(
                "Video Files (*.mpeg;*.mpg;*.avi;*.wmv;*.dat;*.asf;*.vob;*.ogm;*.divx;*.div)"));
        QCOMPARE(request.filters[0].pattern,
                 QStringLiteral("*.mpeg;*.mpg;*.avi;*.asf;*.wmv;*.dat;*.vob;*.ogm;*.divx;*.div"));
        QCOMPARE(request.filters[1].name, QStringLiteral("Any Files (*.*)"));
        QCOMPARE(request.selectedFilter, 0);

        // Whole seconds for the clip and the marks, the exact length for the music.
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(dialog.clipList[0].fileName, clip);
        QCOMPARE(dialog.clipList[0].duration, 3 * kSecond);
        QCOMPARE(dialog.clipDefaults.clipDuration, 3);
        QCOMPARE(dialog.musicList.count, 1);
        QCOMPARE(dialog.musicList[0].fileName, clip);
        QVERIFY(qAbs(dialog.musicList[0].duration - 35 * kSecond / 10) < kSecond / 20);
        QCOMPARE(dialog.startMark, 0);
        QCOMPARE(dialog.endMark, 3 * kSecond);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:00 / 00:00:03"));
        QCOMPARE(Text(dialog, MainDialogIds::kEndMarkDisplay), QStringLiteral("00:00:03"));
        QCOMPARE(Text(dialog, MainDialogIds::kStartMarkDisplay), QStringLiteral("00:00:00"));

        // The source size becomes the output size; the chosen rate "24" stays.
        QCOMPARE(dialog.outputSettings.sourceWidth, 720);
        QCOMPARE(dialog.outputSettings.sourceHeight, 576);
        QCOMPARE(dialog.outputSettings.outputWidth, 720);
        QCOMPARE(dialog.outputSettings.outputHeight, 576);
        QCOMPARE(dialog.outputSettings.sourceFrameRate, 25.0);
        QCOMPARE(dialog.outputSettings.outputFrameRate, 24.0);
        QVERIFY(Text(dialog, MainDialogIds::kStatusLine)
                    .endsWith(QStringLiteral("     Resolution: 720*576")));

        QCOMPARE(platform::SettingsStore().readString(QStringLiteral("Option"),
                                                      QStringLiteral("LastPhotoFolder"), QString()),
                 QFileInfo(clip).absolutePath() + QLatin1Char('/'));
        QVERIFY(TransportEnabled(dialog));
        QVERIFY(currentPlayer && currentPlayer->playState == Stopped);
        QCOMPARE(currentPlayer->clipName, clip);
        QVERIFY(currentPlayer->m_hWnd->isVisible());
        QCOMPARE(currentPlayer->m_hWnd->size(), QSize(720, 576));
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_clip_open"));

        // Start Time set on the first clip; a second open puts the marks over the new clip,
        // starts in the remembered folder and keeps one entry per list.
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(2 * kSecond)));
        Tick(dialog);
        dialog.OnStartTime();
        QCOMPARE(dialog.startMark, 2 * kSecond);
        PreviewPlayer* first = currentPlayer;

        spec = ClipSpec();
        spec.seconds = 2.0;
        spec.frameRate = QStringLiteral("30000/1001");
        const QString second = MakeClip(spec);
        dialog.outputSettings.frameRateIndex = 0;  // "Original frame rate"
        QVERIFY(OpenVideo(dialog, environment, second));
        QCOMPARE(environment.files.requests.back().initialFolder,
                 QFileInfo(clip).absolutePath() + '/');
        QVERIFY(currentPlayer && currentPlayer->clipName == second);
        Q_UNUSED(first);
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(dialog.musicList.count, 1);
        QCOMPARE(dialog.musicList[0].fileName, second);
        QCOMPARE(dialog.startMark, 0);
        QCOMPARE(Text(dialog, MainDialogIds::kStartMarkDisplay), QStringLiteral("00:00:00"));
        QCOMPARE(dialog.outputSettings.outputWidth, 160);
        QVERIFY(qAbs(dialog.outputSettings.outputFrameRate - 29.97) < 0.001);

        // Cancelling the file dialog changes nothing.
        environment.files.openAnswers.push_back(QString());
        dialog.OnOpenVideo();
        QVERIFY(!dialog.openingVideo);
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(currentPlayer->clipName, second);
    }

    void clipShorterThanASecondHasNoWholeSecond() {
        TestEnvironment environment;
        ClipSpec spec;
        spec.seconds = 0.6;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, MakeClip(spec)));
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(dialog.clipList[0].duration, 0);
        QCOMPARE(dialog.endMark, 0);
        QVERIFY(dialog.musicList[0].duration > kSecond / 2);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:00 / 00:00:00"));
        QCOMPARE(Text(dialog, MainDialogIds::kEndMarkDisplay), QStringLiteral("00:00:00"));
    }

    void displaySliderAndMarksFollowTheTicks() {
        TestEnvironment environment;
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));

        // Before the first tick the marks read the starting position.
        dialog.OnEndTime();
        QCOMPARE(dialog.endMark, 0);
        QCOMPARE(Text(dialog, MainDialogIds::kEndMarkDisplay), QStringLiteral("00:00:00"));

        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(2 * kSecond)));
        Tick(dialog);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:02 / 00:00:03"));
        QCOMPARE(dialog.sliderPos, 400);
        QCOMPARE(dialog.positionSlider->value(), 400);
        dialog.OnEndTime();
        QCOMPARE(dialog.endMark, 2 * kSecond);
        QCOMPARE(Text(dialog, MainDialogIds::kEndMarkDisplay), QStringLiteral("00:00:02"));

        // A mark takes the picture on show at once, without waiting for the tick: 2.5 s shows
        // frame 62, which starts at 2.48 s.
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(25 * kSecond / 10)));
        dialog.OnStartTime();
        QCOMPARE(dialog.startMark, 248 * kSecond / 100);
        Tick(dialog);
        QCOMPARE(dialog.sliderPos, 500);
        // An end before the start is stored as pressed.
        dialog.OnStartTime();
        QCOMPARE(dialog.startMark, 248 * kSecond / 100);
        QCOMPARE(Text(dialog, MainDialogIds::kStartMarkDisplay), QStringLiteral("00:00:02"));
        QCOMPARE(dialog.endMark, 2 * kSecond);

        // Holding the thumb freezes the text and the thumb; releasing seeks.
        QTest::mousePress(dialog.positionSlider, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(theApp()->sliderDragging, 1);
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(kSecond / 2)));
        dialog.positionSlider->setValue(300);  // where the drag left the thumb
        Tick(dialog);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:02 / 00:00:03"));
        QCOMPARE(dialog.positionSlider->value(), 300);
        QTest::mouseRelease(dialog.positionSlider, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(theApp()->sliderDragging, 0);
        Tick(dialog);
        const ReferenceTime half = currentPlayer->stopPosition / 2;
        QVERIFY2(qAbs(currentPlayer->currentPosition - half) < kSecond / 20,
                 qPrintable(QString::number(currentPlayer->currentPosition)));
        QCOMPARE(dialog.sliderPos, 300);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:01 / 00:00:03"));

        // The keyboard moves the thumb without seeking; the next tick puts it back.
        dialog.positionSlider->setFocus();
        QTest::keyClick(dialog.positionSlider, Qt::Key_End);
        QCOMPARE(dialog.positionSlider->value(), 600);
        Tick(dialog);
        QCOMPARE(dialog.positionSlider->value(), 300);
    }

    void playingToTheEndRewindsTheDisplay() {
        TestEnvironment environment;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(26 * kSecond / 10)));
        dialog.OnPlay();
        QCOMPARE(currentPlayer->playState, Running);
        QTRY_COMPARE_WITH_TIMEOUT(currentPlayer->playState, Stopped, 5000);
        Tick(dialog);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:00 / 00:00:03"));
        QCOMPARE(dialog.positionSlider->value(), 0);
        // Pause and Stop through the dialog's buttons.
        QTest::mouseClick(dialog.playButton, Qt::LeftButton);
        QCOMPARE(currentPlayer->playState, Running);
        QTest::mouseClick(dialog.pauseButton, Qt::LeftButton);
        QCOMPARE(currentPlayer->playState, Paused);
        QTest::mouseClick(dialog.stopButton, Qt::LeftButton);
        QCOMPARE(currentPlayer->playState, Stopped);
    }

    void refusedFilesLeaveThePreviousClipPlaying() {
        TestEnvironment environment;
        ConverterDialog dialog;
        ClipSpec longer;  // long enough to play on through everything below
        longer.seconds = 30.0;
        QVERIFY(OpenVideo(dialog, environment, MakeClip(longer)));
        dialog.OnPlay();
        PreviewPlayer* playing = currentPlayer;

        // A path longer than a stored name holds is refused before anything changes.
        const QString tooLong =
            QStringLiteral("/tmp/") + QString(260, QLatin1Char('a')) + QStringLiteral(".avi");
        environment.files.openAnswers.push_back(tooLong);
        dialog.OnOpenVideo();
        QVERIFY(!dialog.openingVideo);
        QCOMPARE(environment.messages.boxes.size(), 1);
        QVERIFY(environment.messages.boxes[0].text.contains(QStringLiteral("too long")));
        QCOMPARE(environment.messages.boxes[0].caption, QStringLiteral("Error"));
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(dialog.musicList.count, 1);

        // Sound only: the one message; the old clip stays the project and plays on.
        environment.messages.clear();
        QVERIFY(OpenVideo(dialog, environment, AudioOnlyFile()));
        QCOMPARE(environment.messages.texts(), QStringList{kNoDuration});
        QCOMPARE(environment.messages.boxes[0].caption, QStringLiteral("Error"));
        QVERIFY(environment.messages.boxes[0].owner == &dialog);
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(dialog.musicList.count, 1);
        QCOMPARE(currentPlayer, playing);
        QCOMPARE(currentPlayer->playState, Running);
        QVERIFY(TransportEnabled(dialog));
        QCOMPARE(Text(dialog, MainDialogIds::kEndMarkDisplay), QStringLiteral("00:00:30"));

        // A corrupt file: the decoders' message, then the dialog's.
        environment.messages.clear();
        QVERIFY(OpenVideo(dialog, environment, CorruptFile(environment)));
        QCOMPARE(environment.messages.texts(), (QStringList{kCannotOpen, kNoDuration}));
        QCOMPARE(environment.messages.boxes[0].caption, QStringLiteral("Framewell"));
        QVERIFY(environment.messages.boxes[0].owner == nullptr);
        QCOMPARE(currentPlayer, playing);
        QCOMPARE(currentPlayer->playState, Running);

        // While a file is measured a second Open Video does not ask for another.
        const int asked = environment.files.requests.size();
        environment.files.openAnswers = {SmallClip(), SmallClip()};
        dialog.OnOpenVideo();
        dialog.OnOpenVideo();
        QCOMPARE(environment.files.requests.size(), asked + 1);
        QVERIFY(QTest::qWaitFor([&] { return !dialog.openingVideo; }, 15000));
        QCOMPARE(dialog.clipList.count, 1);
    }

    void videoWindowTakesInputWhileTheDialogRunsModally() {
        TestEnvironment environment;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        dialogAbove = 1;
        bool clicked = false;
        QTimer::singleShot(100, &dialog, [&] {
            // Through the window system, where input to windows blocked by a modal one is
            // dropped.
            QTest::mouseClick(currentPlayer->m_hWnd->windowHandle(), Qt::LeftButton, {},
                              QPoint(20, 20));
            clicked = dialogAbove == 0;
            dialog.reject();
        });
        dialog.exec();
        QVERIFY(clicked);
    }

    void closingTheWindowClosesTheClip() {
        TestEnvironment environment;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(kSecond)));
        Tick(dialog);
        dialog.OnStartTime();

        // The close box asks the dialog, which unloads the clip.
        QVERIFY(!currentPlayer->m_hWnd->close());
        QCoreApplication::sendPostedEvents(&dialog);
        QVERIFY(!currentPlayer);
        QCOMPARE(dialog.clipList.count, 0);
        QCOMPARE(dialog.musicList.count, 1);
        QCOMPARE(dialog.startMark, 0);
        QCOMPARE(dialog.endMark, 0);
        QCOMPARE(Text(dialog, MainDialogIds::kStartMarkDisplay), QStringLiteral("00:00:00"));
        QCOMPARE(Text(dialog, MainDialogIds::kEndMarkDisplay), QStringLiteral("00:00:00"));
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay), QString());
        QCOMPARE(dialog.positionSlider->value(), 0);
        QVERIFY(!dialog.convertButton->isEnabled());
        QVERIFY(!dialog.playButton->isEnabled());

        // Without a player every transport command is ignored.
        dialog.OnPlay();
        dialog.OnPause();
        dialog.OnStop();
        dialog.OnStartTime();
        dialog.OnEndTime();
        QCOMPARE(dialog.SeekFromSlider(300), 0);
        dialog.RefreshPosition();
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay), QString());
        QCOMPARE(dialog.startMark, 0);

        // The next open brings everything back.
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        QVERIFY(TransportEnabled(dialog));
        QVERIFY(currentPlayer);
    }
};

FRAMEWELL_TEST_MAIN(OpenVideoTest)
#include "test_open_video.moc"
