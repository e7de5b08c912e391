// The video window's keys on real clips: frame steps land on the next frame's picture and
// time, also where the file keeps its times in milliseconds; one-second jumps; play and
// pause; the first and the last picture; the same keys in full screen.

#include <QKeyEvent>

#include "media/frame_time.h"
#include "media/media_framework.h"
#include "media/playback_session.h"
#include "player/player_test_support.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "support/picture_frames.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace player_tests;
using testing_support::ClipSpec;
using testing_support::MakeClip;
using testing_support::PictureFrameNumber;

namespace {

void Press(PreviewPlayer& player, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(player.m_hWnd, key, modifiers);
}

// The frame the window shows once the pictures posted so far are painted.
int ShownFrame(PreviewPlayer& player) {
    DeliverPosted();
    return PictureFrameNumber(player.m_hWnd->picture());
}

// The frame the marks would take now, by its time.
std::int64_t MarkFrame(PreviewPlayer& player) {
    return media::FrameIndexAt(player.LivePosition(), player.frameRate());
}

}  // namespace

class VideoWindowKeysTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }

    void arrowsStepOneFrameAndLandOnItsTime() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();  // 3 s at 25 frames per second: frames 0 to 74
        QCOMPARE(player.LoadClipFile(), 1);
        QCOMPARE(player.frameRate().numerator, 25);
        QTRY_COMPARE_WITH_TIMEOUT(ShownFrame(player), 0, 5000);

        // Forward from the first picture: each step is the next frame, at that frame's time.
        for (int frame = 1; frame <= 3; ++frame) {
            Press(player, Qt::Key_Right);
            QCOMPARE(player.LivePosition(), frame * 400'000);
            QCOMPARE(ShownFrame(player), frame);
        }
        QCOMPARE(player.playState, Stopped);  // a step moves the picture, not the state

        // Back, and not past the first picture.
        Press(player, Qt::Key_Left);
        QCOMPARE(player.LivePosition(), 800'000);
        QCOMPARE(ShownFrame(player), 2);
        Press(player, Qt::Key_Left);
        Press(player, Qt::Key_Left);
        Press(player, Qt::Key_Left);
        QCOMPARE(player.LivePosition(), 0);
        QCOMPARE(ShownFrame(player), 0);

        // From a seek between two frames' starts, the step goes on from the picture shown.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(20'390'000)));  // late in frame 50
        QCOMPARE(player.LivePosition(), 20'000'000);
        QCOMPARE(ShownFrame(player), 50);
        Press(player, Qt::Key_Right);
        QCOMPARE(player.LivePosition(), 20'400'000);
        QCOMPARE(ShownFrame(player), 51);
        testing_support::SaveScreenshot(player.m_hWnd, QStringLiteral("video_window_frame_51"));

        // Shift jumps a second either way.
        Press(player, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(player.LivePosition(), 10'400'000);
        QCOMPARE(ShownFrame(player), 26);
        Press(player, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(ShownFrame(player), 51);

        // End is the last picture, and nothing goes past it; Home is the first.
        Press(player, Qt::Key_End);
        QCOMPARE(player.LivePosition(), 29'600'000);
        QCOMPARE(ShownFrame(player), 74);
        Press(player, Qt::Key_Right);
        Press(player, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(ShownFrame(player), 74);
        QCOMPARE(player.playState, Stopped);
        Press(player, Qt::Key_Home);
        QCOMPARE(player.LivePosition(), 0);
        QCOMPARE(ShownFrame(player), 0);

        // Space plays and pauses.
        Press(player, Qt::Key_Space);
        QCOMPARE(player.playState, Running);
        QTest::qWait(300);
        // A jump keeps the clip running.
        Press(player, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(player.playState, Running);
        // A frame step pauses a running clip; the picture and the time agree afterwards.
        Press(player, Qt::Key_Right);
        QCOMPARE(player.playState, Paused);
        QCOMPARE(player.m_hWnd->windowTitle().endsWith(QStringLiteral("(Paused)")), true);
        const std::int64_t frame = MarkFrame(player);
        QVERIFY2(frame > 25, qPrintable(QString::number(frame)));
        QCOMPARE(player.LivePosition(), media::FrameStart(frame, player.frameRate()));
        QTRY_COMPARE_WITH_TIMEOUT(ShownFrame(player), int(frame), 3000);
        Press(player, Qt::Key_Space);
        QCOMPARE(player.playState, Running);
        Press(player, Qt::Key_Space);
        QCOMPARE(player.playState, Paused);
        // Keys the window does not use change nothing.
        Press(player, Qt::Key_Up);
        Press(player, Qt::Key_A);
        QCOMPARE(player.playState, Paused);
        player.UnloadClip();
    }

    void steppingOnDecodesFromThePictureOnShow() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);
        QVERIFY(SUCCEEDED(player.SeekAbsolute(media::FrameMiddle(10, player.frameRate()))));
        for (int frame = 11; frame <= 13; ++frame) {
            QCOMPARE(player.graph->StepForward(), S_OK);
            QCOMPARE(ShownFrame(player), frame);
            QCOMPARE(player.LivePosition(), frame * 400'000);
        }
        // The sound moves with the pictures: the position follows, and playing goes on from
        // the stepped picture at its pace, neither held back nor rushed to catch up.
        QCOMPARE(player.graph->StepForward(17), S_OK);
        QCOMPARE(ShownFrame(player), 30);
        ReferenceTime position = 0;
        QVERIFY(SUCCEEDED(player.graph->GetCurrentPosition(position)));
        QCOMPARE(position, 30 * 400'000);
        player.StartPlayback();
        QTest::qWait(600);
        player.PausePlayback();
        const int played = ShownFrame(player);
        QVERIFY2(played > 30 + 5 && played < 30 + 30, qPrintable(QString::number(played)));
        // At the last picture there is none to step to, and the step says so at once.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(media::FrameMiddle(74, player.frameRate()))));
        QCOMPARE(player.graph->StepForward(1, std::chrono::milliseconds(3000)), S_FALSE);
        QCOMPARE(ShownFrame(player), 74);
        player.UnloadClip();
    }

    void stepsAreExactAtFractionalRatesAndMillisecondTimes() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        // Matroska keeps its times in milliseconds: frame 1 at 33 ms, frame 2 at 67 ms, where
        // the nominal starts are 33.37 ms and 66.73 ms. The AVI keeps them exact.
        for (const QString& extension : {QStringLiteral("mkv"), QStringLiteral("avi")}) {
            ClipSpec spec;
            spec.seconds = 2.0;
            spec.frameRate = QStringLiteral("30000/1001");
            spec.extension = extension;
            const QString clip = MakeClip(spec);
            QVERIFY(!clip.isEmpty());
            PreviewPlayer player(&owner);
            player.clipName = clip;
            QCOMPARE(player.LoadClipFile(), 1);
            const media::FrameRate rate = player.frameRate();
            QCOMPARE(rate.numerator, 30000);
            QCOMPARE(rate.denominator, 1001);

            // Every frame in turn, none shown twice and none left out, each at its own time.
            for (int frame = 1; frame <= 12; ++frame) {
                Press(player, Qt::Key_Right);
                QCOMPARE(ShownFrame(player), frame);
                QCOMPARE(MarkFrame(player), frame);
                QVERIFY2(qAbs(player.LivePosition() - media::FrameStart(frame, rate)) <= 10'000,
                         qPrintable(extension + ": " + QString::number(player.LivePosition())));
            }
            for (int frame = 11; frame >= 0; --frame) {
                Press(player, Qt::Key_Left);
                QCOMPARE(ShownFrame(player), frame);
                QCOMPARE(MarkFrame(player), frame);
            }
            // A second from frame 0 is frame 29 (0.968 s to 1.001 s), on show at one second.
            Press(player, Qt::Key_Right, Qt::ShiftModifier);
            QCOMPARE(ShownFrame(player), 29);
            // The last picture of 2 s: frame 59 (1.968 s).
            Press(player, Qt::Key_End);
            QCOMPARE(ShownFrame(player), 59);
            player.UnloadClip();
        }
    }

    void keysWorkInFullScreenAndEscapeStillLeavesIt() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        owner.show();
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);
        player.SwitchScreenMode();
        QCOMPARE(player.fullScreen, 1);
        Press(player, Qt::Key_Right);
        QCOMPARE(ShownFrame(player), 1);
        Press(player, Qt::Key_End);
        QCOMPARE(ShownFrame(player), 74);
        testing_support::SaveScreenshot(player.m_hWnd, QStringLiteral("video_window_full_screen_74"));
        QCOMPARE(player.fullScreen, 1);
        Press(player, Qt::Key_Escape);
        QCOMPARE(player.fullScreen, 0);
        Press(player, Qt::Key_Left);
        QCOMPARE(ShownFrame(player), 73);
        player.UnloadClip();
    }

    void soundAloneJumpsByTimeAndDoesNotStep() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = AudioOnlyFile();  // 2 s
        QCOMPARE(player.LoadClipFile(), 1);
        QVERIFY(!player.frameRate().known());
        Press(player, Qt::Key_Right);
        QCOMPARE(player.LivePosition(), 0);
        Press(player, Qt::Key_Right, Qt::ShiftModifier);
        QVERIFY2(qAbs(player.LivePosition() - 10'000'000) < 200'000,
                 qPrintable(QString::number(player.LivePosition())));
        Press(player, Qt::Key_Home);
        QCOMPARE(player.LivePosition(), 0);
        Press(player, Qt::Key_Space);
        QCOMPARE(player.playState, Running);
        Press(player, Qt::Key_Space);
        QCOMPARE(player.playState, Paused);
        player.UnloadClip();
    }
};

FRAMEWELL_TEST_MAIN(VideoWindowKeysTest)
#include "test_video_window_keys.moc"
