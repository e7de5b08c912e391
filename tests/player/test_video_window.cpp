// The video window's player on real clips: loading, the caption, the transport, seeking, the
// end of the clip, the position tick, the close box and files it cannot play.

#include <QFile>
#include <QFileInfo>
#include <QScreen>

#include <cmath>

#include "media/media_framework.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "player_test_support.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace player_tests;

namespace {

const QString kCannotPlay = QStringLiteral(
    "Cannot play the file.  The file is either corrupt or\nthe player does not support the format "
    "you are trying to play.\nYou need to install appropriate decoders.");

// Which source frame a painted picture shows (see media_fixtures.h for the encoding). The
// picture is full-range RGB converted from video-range grey levels, so the darkest level (8)
// and black (16) both come out as 0: the rounding leans down by a quarter step.
int PictureFrameNumber(const QImage& picture) {
    auto level = [&](int x) {
        const double red = qRed(picture.pixel(x, picture.height() / 2));
        const double luma = red * 219.0 / 255.0 + 16.0;
        return qBound(0, static_cast<int>((luma - 8.0) / 16.0 + 0.25), 15);
    };
    return level(picture.width() * 3 / 4) * 16 + level(picture.width() / 4);
}

ReferenceTime Seconds(double seconds) {
    return std::llround(seconds * 1e7);
}

}  // namespace

class VideoWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }

    void initialRectangleSitsAboveTheOwner() {
        // Work area 1024 x 768 at the origin, owner's top at 300: left 100, top 5, bottom 300,
        // right (300 - 5) * 4 / 3 = 393.
        QCOMPARE(InitialVideoWindowRect(QRect(0, 0, 1024, 768), QRect(200, 300, 400, 300)),
                 QRect(QPoint(100, 5), QPoint(392, 299)));
        // A work area that does not start at the origin shifts both corners.
        QCOMPARE(InitialVideoWindowRect(QRect(50, 30, 1000, 700), QRect(0, 335, 400, 300)),
                 QRect(QPoint(150, 35), QPoint(449, 334)));
        // An owner at the very top leaves no room: a usable size instead of a negative one.
        QCOMPARE(InitialVideoWindowRect(QRect(0, 0, 1024, 768), QRect(0, 0, 400, 300)).size(),
                 QSize(320, 240));
    }

    void captionNamesTheClipAndItsPauseState() {
        PreviewPlayer player(nullptr);
        player.clipName = QStringLiteral("/clips/summer/movie.avi");
        player.playState = Paused;
        QCOMPARE(player.windowCaption(), QStringLiteral("movie.avi  (Paused)"));
        player.playState = Running;
        QCOMPARE(player.windowCaption(), QStringLiteral("movie.avi  "));
        player.clipName = QStringLiteral("movie.avi");
        player.playState = Paused;
        QCOMPARE(player.windowCaption(), QStringLiteral("movie.avi  (Paused)"));
        player.playState = Stopped;
        QCOMPARE(player.windowCaption(), QStringLiteral("movie.avi  "));
        // Percent signs and long names are text, never format directives or a cut buffer.
        player.clipName = QStringLiteral("/tmp/%1 %s ") + QString(250, QLatin1Char('x'));
        QCOMPARE(player.windowCaption(),
                 QStringLiteral("%1 %s ") + QString(250, QLatin1Char('x')) + "  ");
    }

    void loadingCuesTheFirstPictureInAWindowOfItsSize() {
        testing_support::TestEnvironment environment;
        const QString clip = SmallClip();
        QVERIFY(!clip.isEmpty());
        RecordingOwner owner;
        owner.show();
        PreviewPlayer player(&owner);
        player.clipName = clip;
        QCOMPARE(player.LoadClipFile(), 1);
        QVERIFY(environment.messages.boxes.isEmpty());
        QCOMPARE(player.playState, Stopped);
        QCOMPARE(player.audioOnly, 0);
        QCOMPARE(player.videoShown, 1);
        QVERIFY(player.m_hWnd && player.m_hWnd->isVisible());
        QCOMPARE(player.m_hWnd->size(), QSize(320, 240));
        QCOMPARE(player.pictureRect, QRect(0, 0, 320, 240));
        QCOMPARE(player.m_hWnd->windowTitle(), QFileInfo(clip).fileName() + QStringLiteral("  "));
        QCOMPARE(player.m_hWnd->metaObject()->className(), "PreviewWindow");
        const QRect workArea = owner.screen()->availableGeometry();
        QCOMPARE(player.m_hWnd->pos(), workArea.topLeft() + QPoint(100, 5));

        QTRY_VERIFY_WITH_TIMEOUT(player.m_hWnd->paintedPictures() > 0, 5000);
        QCOMPARE(player.m_hWnd->picture().size(), QSize(320, 240));
        QCOMPARE(PictureFrameNumber(player.m_hWnd->picture()), 0);

        // The tick reads the position and tells the owner, whatever the play state.
        player.OnPositionTimer();
        QCOMPARE(player.currentPosition, 0);
        QVERIFY(qAbs(player.stopPosition - Seconds(3.0)) < Seconds(0.05));
        DeliverPosted();
        QCOMPARE(owner.messages, QList<int>{WM_POSITIONNOTIFY});

        player.UnloadClip();
        QCOMPARE(player.playState, Closed);
        QVERIFY(player.clipName.isEmpty());
        QVERIFY(!player.m_hWnd);
        QVERIFY(!player.graph);
        // A tick after unloading reads nothing and posts nothing.
        owner.messages.clear();
        player.OnPositionTimer();
        DeliverPosted();
        QVERIFY(owner.messages.isEmpty());
    }

    void transportFollowsThePlayState() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        const QString name = QFileInfo(player.clipName).fileName();
        QCOMPARE(player.LoadClipFile(), 1);

        // Pause does nothing to a stopped clip.
        player.PausePlayback();
        QCOMPARE(player.playState, Stopped);
        QCOMPARE(player.m_hWnd->windowTitle(), name + "  ");

        player.StartPlayback();
        QCOMPARE(player.playState, Running);
        // Play while running only refreshes.
        player.StartPlayback();
        QCOMPARE(player.playState, Running);
        QTest::qWait(400);
        player.PausePlayback();
        QCOMPARE(player.playState, Paused);
        QCOMPARE(player.m_hWnd->windowTitle(), name + "  (Paused)");
        player.OnPositionTimer();
        QVERIFY2(player.currentPosition > Seconds(0.1), "the clock ran while playing");
        player.PausePlayback();  // does not resume
        QCOMPARE(player.playState, Paused);

        // A seek while paused moves the picture, not the state.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(Seconds(2.0))));
        QCOMPARE(player.playState, Paused);
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 50, 5000);
        player.OnPositionTimer();
        QVERIFY(qAbs(player.currentPosition - Seconds(2.0)) < Seconds(0.05));
        // Frame 46 has the brightest left half that RGB does not clip: a picture worth looking at.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(Seconds(46 / 25.0))));
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 46, 5000);
        testing_support::SaveScreenshot(player.m_hWnd, QStringLiteral("video_window_frame_46"));
        // A negative time means the start.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(-5)));
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 0, 5000);
        QVERIFY(SUCCEEDED(player.SeekAbsolute(Seconds(1.0))));

        // Stop rewinds and shows the first picture.
        player.StopPlayback();
        QCOMPARE(player.playState, Stopped);
        QCOMPARE(player.m_hWnd->windowTitle(), name + "  ");
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 0, 5000);
        player.OnPositionTimer();
        QCOMPARE(player.currentPosition, 0);
        player.UnloadClip();
    }

    void playingToTheEndRewindsAndWaits() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);
        QVERIFY(SUCCEEDED(player.SeekAbsolute(Seconds(2.5))));
        player.StartPlayback();
        QCOMPARE(player.playState, Running);
        // The end arrives as a posted graph notification and rewinds the clip.
        QTRY_COMPARE_WITH_TIMEOUT(player.playState, Stopped, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 0, 5000);
        player.OnPositionTimer();
        QCOMPARE(player.currentPosition, 0);
        // It plays again from the start.
        player.StartPlayback();
        QTest::qWait(300);
        player.OnPositionTimer();
        QVERIFY(player.currentPosition > 0);
        player.UnloadClip();
    }

    void closeBoxOnlyAsksTheOwner() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);
        QVERIFY(!player.m_hWnd->close());
        player.OnCommand(ID_CLOSE);  // the context menu's "Close"
        DeliverPosted();
        QCOMPARE(owner.commands, (QList<int>{kCloseClipCommand, kCloseClipCommand}));
        QVERIFY(player.m_hWnd && player.m_hWnd->isVisible());
        QCOMPARE(player.playState, Stopped);
        player.UnloadClip();
    }

    void filesItCannotPlayAreRefused() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;

        const QString corrupt = environment.scratchPath(QStringLiteral("corrupt.avi"));
        QFile file(corrupt);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray junk(
            "RIFF\x10\x00\x00\x00"
            "AVI LIST",
            16);
        for (int i = 0; i < 4000; ++i) junk.append(static_cast<char>((i * 7919) % 251));
        file.write(junk);
        file.close();

        PreviewPlayer player(&owner);
        player.clipName = corrupt;
        QCOMPARE(player.LoadClipFile(), 0);
        QCOMPARE(environment.messages.texts(), QStringList{kCannotPlay});
        QCOMPARE(environment.messages.boxes.front().caption, QStringLiteral("Framewell"));
        QVERIFY(environment.messages.boxes.front().owner == nullptr);
        QCOMPARE(player.playState, Closed);
        QVERIFY(!player.m_hWnd);
        QVERIFY(player.windowCreated);
        QVERIFY(player.clipName.isEmpty());

        // A missing file is refused the same way.
        environment.messages.clear();
        PreviewPlayer missing(&owner);
        missing.clipName = environment.scratchPath(QStringLiteral("not-there.avi"));
        QCOMPARE(missing.LoadClipFile(), 0);
        QCOMPARE(environment.messages.texts(), QStringList{kCannotPlay});

        // Sound alone plays with the window hidden.
        environment.messages.clear();
        const QString sound = AudioOnlyFile();
        QVERIFY(!sound.isEmpty());
        PreviewPlayer audio(&owner);
        audio.clipName = sound;
        QCOMPARE(audio.LoadClipFile(), 1);
        QVERIFY(environment.messages.boxes.isEmpty());
        QCOMPARE(audio.audioOnly, 1);
        QCOMPARE(audio.videoShown, 0);
        QVERIFY(!audio.m_hWnd->isVisible());
        audio.StartPlayback();
        QCOMPARE(audio.playState, Running);
        QTest::qWait(300);
        audio.OnPositionTimer();
        QVERIFY(audio.currentPosition > 0);
        audio.UnloadClip();
    }
};

FRAMEWELL_TEST_MAIN(VideoWindowTest)
#include "test_video_window.moc"
