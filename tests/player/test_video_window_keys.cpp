// Frame arithmetic, and the video window's keys on real clips: frame steps land on the next
// frame's picture and time, also where the file keeps its times in milliseconds; jumps, play
// and pause, first and last picture; stepping on keeps the sound along.

#include "media/core/media_framework.h"
#include "media/playback/frame_cache.h"
#include "media/playback/playback_session.h"
#include "player/player_test_support.h"
#include "player/preview_window.h"
#include "support/picture_frames.h"
#include "support/test_main.h"

using namespace player_tests;

namespace {

void Press(PreviewPlayer& player, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(player.m_hWnd, key, modifiers);
}

// The frame the window shows once the pictures posted so far are painted.
int Shown(PreviewPlayer& player) {
    DeliverPosted();
    return testing_support::PictureFrameNumber(player.m_hWnd->picture());
}

}  // namespace

class VideoWindowKeysTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }

    void framesTimesAndTimestamps() {
        const media::FrameRate pal{25, 1};
        QCOMPARE(media::FrameIndexAt(20'399'999, pal), 50);  // the frame whose span holds it
        QCOMPARE(media::FrameIndexAt(20'799'999, pal), 51);
        QCOMPARE(media::FrameIndexAt(-5, pal), 0);
        QCOMPARE(media::FrameCount(30'100'000, pal), 76);  // frame 75 starts inside 3.01 s

        // Files in milliseconds give 33 ms and 67 ms for frames 1 and 2 of 30000/1001, whose
        // nominal starts are 33.37 ms and 66.73 ms: as times they lie in frames 0 and 2, as
        // timestamps they start frames 1 and 2.
        const media::FrameRate ntsc{30000, 1001};
        QCOMPARE(media::FrameIndexAt(330'000, ntsc), 0);
        QCOMPARE(media::FrameStartingAt(330'000, ntsc), 1);
        QCOMPARE(media::FrameStartingAt(670'000, ntsc), 2);
        QCOMPARE(media::FrameStartingAt(333'666, ntsc), 1);   // nanoseconds round down
        QCOMPARE(media::FrameIndexAt(20'000'000, ntsc), 59);  // 2 s is inside 1.969-2.002 s
        // Starts are rounded up to the next 100 ns so that they name their own frame, with no
        // drift after an hour (frame 107892 starts at 3599.9964 s).
        QCOMPARE(media::FrameStart(1, ntsc), 333'667);
        QCOMPARE(media::FrameStart(107892, ntsc), 35'999'964'000);
        for (std::int64_t n : {1, 2, 59, 1000, 107892}) {
            QCOMPARE(media::FrameIndexAt(media::FrameStart(n, ntsc), ntsc), n);
            QCOMPARE(media::FrameIndexAt(media::FrameMiddle(n, ntsc), ntsc), n);
            QCOMPARE(media::FrameIndexAt(media::FrameStart(n, ntsc) - 1, ntsc), n - 1);
        }
        QVERIFY(!media::FrameRate{}.known());
        QCOMPARE(media::FrameIndexAt(20'400'000, media::FrameRate{}), 0);

        QCOMPARE(media::FormatClockMilliseconds(9'999'999), std::string("00:00:00.999"));
        QCOMPARE(media::FormatClockMilliseconds(3'600'000'000'000LL + 5'000'000),
                 std::string("100:00:00.500"));
    }

    void keysStepJumpPlayAndGoToEitherEnd() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);

        // Each step is the next frame's picture at that frame's time; none goes before 0.
        Press(player, Qt::Key_Right);
        Press(player, Qt::Key_Right);
        QCOMPARE(player.LivePosition(), 800'000);
        QCOMPARE(Shown(player), 2);
        Press(player, Qt::Key_Left);
        QCOMPARE(player.LivePosition(), 400'000);
        QCOMPARE(Shown(player), 1);
        Press(player, Qt::Key_Left);
        Press(player, Qt::Key_Left);
        QCOMPARE(Shown(player), 0);
        QCOMPARE(player.playState, Stopped);  // a step moves the picture, not the state

        // After a seek late in frame 50 the picture and the time are frame 50's.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(20'390'000)));
        QCOMPARE(player.LivePosition(), 20'000'000);
        Press(player, Qt::Key_Right);
        QCOMPARE(player.LivePosition(), 20'400'000);
        QCOMPARE(Shown(player), 51);
        Press(player, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(Shown(player), 26);
        Press(player, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(Shown(player), 51);

        // End is the last picture and nothing goes past it; Home is the first.
        Press(player, Qt::Key_End);
        QCOMPARE(player.LivePosition(), 29'600'000);
        QCOMPARE(Shown(player), 74);
        Press(player, Qt::Key_Right);
        Press(player, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(Shown(player), 74);
        Press(player, Qt::Key_Home);
        QCOMPARE(Shown(player), 0);

        // Space plays and pauses; a jump keeps playing, a step pauses first.
        Press(player, Qt::Key_Space);
        QCOMPARE(player.playState, Running);
        Press(player, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(player.playState, Running);
        QTest::qWait(200);
        Press(player, Qt::Key_Right);
        QCOMPARE(player.playState, Paused);
        const std::int64_t frame = media::FrameIndexAt(player.LivePosition(), player.frameRate());
        QVERIFY2(frame > 25, qPrintable(QString::number(frame)));
        QCOMPARE(Shown(player), int(frame));
        Press(player, Qt::Key_Space);
        QCOMPARE(player.playState, Running);
        Press(player, Qt::Key_Space);
        QCOMPARE(player.playState, Paused);
        player.UnloadClip();
    }

    void stepsAreExactAtFractionalRatesAndMillisecondTimes() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        // Matroska keeps milliseconds: frame 1 starts at 33 ms and frame 2 at 67 ms, where the
        // nominal starts are 33.37 ms and 66.73 ms. The AVI keeps them exact.
        for (const QString& extension : {QStringLiteral("mkv"), QStringLiteral("avi")}) {
            testing_support::ClipSpec spec;
            spec.seconds = 2.0;
            spec.frameRate = QStringLiteral("30000/1001");
            spec.extension = extension;
            PreviewPlayer player(&owner);
            player.clipName = testing_support::MakeClip(spec);
            QCOMPARE(player.LoadClipFile(), 1);
            const media::FrameRate rate = player.frameRate();
            QCOMPARE(rate.numerator * 1001, 30000 * rate.denominator);

            for (int frame = 1; frame <= 6; ++frame) {
                Press(player, Qt::Key_Right);
                QCOMPARE(Shown(player), frame);
                QCOMPARE(player.LivePosition(), media::FrameStart(frame, rate));
            }
            for (int frame = 5; frame >= 0; --frame) {
                Press(player, Qt::Key_Left);
                QCOMPARE(Shown(player), frame);
                QCOMPARE(player.LivePosition(), media::FrameStart(frame, rate));
            }
            // One second on is frame 29, on show from 0.968 s to 1.001 s; the last is 59.
            Press(player, Qt::Key_Right, Qt::ShiftModifier);
            QCOMPARE(Shown(player), 29);
            Press(player, Qt::Key_End);
            QCOMPARE(Shown(player), 59);
            player.UnloadClip();
        }
    }

    void steppingOnKeepsTheSoundAlong() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);
        QCOMPARE(player.graph->StepForward(30), S_OK);
        QCOMPARE(Shown(player), 30);
        ReferenceTime position = 0;
        QVERIFY(SUCCEEDED(player.graph->GetCurrentPosition(position)));
        QCOMPARE(position, 30 * 400'000);
        // Playing goes on from there at its pace, neither held back nor rushing to catch up.
        player.StartPlayback();
        QTest::qWait(600);
        player.PausePlayback();
        const int played = Shown(player);
        QVERIFY2(played > 30 + 5 && played < 30 + 30, qPrintable(QString::number(played)));
        // At the last picture there is none to step to, and the step says so at once.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(media::FrameMiddle(74, player.frameRate()))));
        QCOMPARE(player.graph->StepForward(1, std::chrono::milliseconds(3000)), S_FALSE);
        QCOMPARE(Shown(player), 74);
        player.UnloadClip();
    }

    // A long group of pictures (one key frame in 8 s): steps and jumps back come from the
    // pictures decoded ahead, and they are the right ones; play and steps on go on from the
    // picture on show, wherever the graph stood. Also in a file whose first picture is not at
    // its time 0 (ffmpeg's MPEG-TS starts at 1.4 s).
    void stepsBackInALongGroupShowTheRightPictures_data() {
        QTest::addColumn<QString>("extension");
        QTest::newRow("AVI from 0") << QStringLiteral("avi");
        QTest::newRow("MPEG-TS from 1.4 s") << QStringLiteral("ts");
    }
    void stepsBackInALongGroupShowTheRightPictures() {
        QFETCH(QString, extension);
        testing_support::TestEnvironment environment;
        testing_support::ClipSpec spec;
        spec.seconds = 8.0;
        spec.extension = extension;
        if (extension == u"ts") spec.audioCodec = QStringLiteral("mp2");
        spec.extraArguments = {QStringLiteral("-g"), QStringLiteral("200"),
                               QStringLiteral("-sc_threshold"), QStringLiteral("1000000000")};
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = testing_support::MakeClip(spec);
        QCOMPARE(player.LoadClipFile(), 1);
        const media::FrameRate rate = player.frameRate();
        QVERIFY(SUCCEEDED(player.SeekAbsolute(media::FrameMiddle(150, rate))));
        QCOMPARE(Shown(player), 150);
        QTest::qWait(300);  // the user looks at it; the pictures before it are decoded

        for (int frame = 149; frame >= 146; --frame) {
            Press(player, Qt::Key_Left);
            QCOMPARE(Shown(player), frame);
            QCOMPARE(player.LivePosition(), media::FrameStart(frame, rate));
        }
        ReferenceTime position = 0;
        QVERIFY(SUCCEEDED(player.graph->GetCurrentPosition(position)));
        QCOMPARE(media::FrameIndexAt(position, rate), 146);
        Press(player, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(Shown(player), 121);
        Press(player, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(Shown(player), 96);
        Press(player, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(Shown(player), 121);
        Press(player, Qt::Key_Right);
        QCOMPARE(Shown(player), 122);
        // Play starts from the picture on show.
        Press(player, Qt::Key_Space);
        QTest::qWait(200);
        Press(player, Qt::Key_Space);
        const int played = Shown(player);
        QVERIFY2(played > 122 && played < 122 + 25, qPrintable(QString::number(played)));
        player.UnloadClip();
    }

    // The cache on its own: it keeps within its budget the pictures just before the anchor and
    // one a second back, in the decoder's picture, handed out as RGBx.
    void theCacheKeepsWhatStepsBackAskFor() {
        testing_support::ClipSpec spec;
        spec.seconds = 8.0;
        spec.extraArguments = {QStringLiteral("-g"), QStringLiteral("200"),
                               QStringLiteral("-sc_threshold"), QStringLiteral("1000000000")};
        const QString clip = testing_support::MakeClip(spec);
        const std::size_t picture = 160 * 120 * 3 / 2;
        media::FrameCache cache(30 * picture);  // room for 20 before the anchor and 10 marks
        cache.Open(clip.toStdString(), 160, 120);
        const media::FrameRate rate{25, 1};
        cache.Anticipate(media::FrameStart(180, rate), media::FrameStart(181, rate));
        auto frameAt = [&](std::int64_t n, int waitMs) {
            const media::VideoFrame frame =
                cache.Find(media::FrameMiddle(n, rate), std::chrono::milliseconds(waitMs));
            if (frame.isNull()) return -1;
            return testing_support::PictureFrameNumber(QImage(
                frame.pixels, frame.width, frame.height, frame.stride, QImage::Format_RGBX8888));
        };
        QCOMPARE(frameAt(179, 10000), 179);  // waits for the decode on its way
        QCOMPARE(frameAt(180, 10000), 180);
        for (std::int64_t n : {170, 161, 155, 130, 105}) QCOMPARE(frameAt(n, 0), int(n % 256));
        QCOMPARE(frameAt(150, 0), -1);  // neither close before the anchor nor a mark
        QCOMPARE(frameAt(181, 0), -1);  // after it
        QVERIFY(cache.ByteCount() <= 30 * picture);
        QVERIFY(cache.PictureCount() >= 20 + 7);
    }
};

FRAMEWELL_TEST_MAIN(VideoWindowKeysTest)
#include "test_video_window_keys.moc"
