// The video window's player on real clips: placement, loading, the caption, the transport and
// the context menu, full screen with its idle cursor, click stacking, and files it refuses.

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include "media/core/media_framework.h"
#include "player/preview_window.h"
#include "player/window_placement.h"
#include "player_test_support.h"
#include "support/picture_frames.h"
#include "support/test_main.h"

using namespace player_tests;
using testing_support::PictureFrameNumber;
using testing_support::TestEnvironment;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr ReferenceTime kSecond = 10'000'000;
constexpr ReferenceTime kFrame = kSecond / 25;

const QString kCannotPlay = QStringLiteral(
    "Cannot play the file.  The file is either corrupt or\nthe player does not support the format "
    "you are trying to play.\nYou need to install appropriate decoders.");

struct MenuState {
    QStringList greyed;
    bool fullScreenChecked = false;
};

MenuState ReadMenu(PreviewPlayer& player) {
    MenuState state;
    std::unique_ptr<QMenu> menu = player.BuildPlayerMenu();
    for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
        if (!action->isSeparator() && !action->isEnabled()) state.greyed << action->text();
        if (action->data().toInt() == ID_FULL_SCREEN) state.fullScreenChecked = action->isChecked();
    }
    return state;
}

bool Topmost(const QWidget& widget) {
    return widget.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void Click(PreviewPlayer& player) {
    QTest::mouseClick(player.m_hWnd, Qt::LeftButton, {}, QPoint(20, 20));
}

// A clip loaded into a player whose owner records what it is told.
struct LoadedClip {
    TestEnvironment environment;
    RecordingOwner owner;
    PreviewPlayer player{&owner};
    QString name;  // the clip's file name

    bool load() {
        owner.show();
        player.clipName = SmallClip();
        name = QFileInfo(player.clipName).fileName();
        return player.LoadClipFile() == 1;
    }
};

}  // namespace

class VideoWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }
    void cleanup() { SetMultimediaClockForTesting(nullptr); }

    void placementArithmetic() {
        // Windowed: the picture's own size where it fits the work area, else scaled down with
        // its aspect kept; beside the owner where there is room (right, left, below, above),
        // else covering the least of it; always inside the work area.
        const QMargins frame(1, 20, 1, 1);
        const QRect screen1600(0, 0, 1600, 1000);
        const struct {
            QSize picture;
            QRect available;
            QRect owner;
            QMargins frame;
            QRect client;
        } windowed[] = {
            // right of a centred dialog
            {{320, 240}, screen1600, {575, 300, 450, 340}, frame, {1026, 320, 320, 240}},
            // no room right of it: left
            {{320, 240}, screen1600, {1200, 300, 400, 340}, frame, {879, 320, 320, 240}},
            // a work area below a panel, the owner in its corner
            {{320, 240}, {0, 30, 1366, 738}, {0, 30, 400, 300}, {}, {400, 30, 320, 240}},
            // 720p fits the screen but not beside the dialog: flush right, over it
            {{1280, 720}, screen1600, {575, 322, 450, 340}, frame, {319, 279, 1280, 720}},
            // 1080p on 1366x768: scaled to the work area less the frame, 16:9 kept
            {{1920, 1080}, {0, 0, 1366, 768}, {449, 187, 452, 335}, frame, {37, 20, 1328, 747}},
            // no owner: centred
            {{640, 360}, screen1600, {}, {}, {480, 320, 640, 360}},
        };
        for (const auto& row : windowed) {
            const QRect client =
                VideoWindowPlacement(row.picture, row.available, row.owner, row.frame);
            QCOMPARE(client, row.client);
            QVERIFY(row.available.contains(client.marginsAdded(row.frame)));
        }
        // "Normal size" after the user moved the window half off the screen: moved back.
        QCOMPARE(KeepInside(QRect(1500, 900, 320, 240), screen1600, frame),
                 QRect(1279, 759, 320, 240));
        // A window resized by the user shows the whole picture, centred, its aspect kept.
        QCOMPARE(WindowedPictureRect(QSize(400, 400), QSize(320, 240)), QRect(0, 50, 400, 300));
        QCOMPARE(WindowedPictureRect(QSize(320, 240), QSize()), QRect(0, 0, 320, 240));

        // Full screen on 1024x768: the picture taken ten times, then fitted one way.
        const struct {
            QSize video;
            QRect picture;
        } fullScreen[] = {
            {{320, 240}, {0, 0, 1024, 768}},    // exceeds both ways, same ratio
            {{1280, 720}, {0, 96, 1024, 576}},  // wider
            {{64, 48}, {192, 144, 640, 480}},   // a tenth or less: ten times, centred
            {{40, 100}, {358, 0, 308, 768}},    // taller only
            {{480, 640}, {224, 0, 576, 768}},   // exceeds both ways, relatively taller
            {{}, {0, 0, 1024, 768}},            // size unknown
        };
        for (const auto& row : fullScreen)
            QCOMPARE(FullScreenPictureRect(QSize(1024, 768), row.video), row.picture);
    }

    void captionNamesTheFileAndThePause() {
        PreviewPlayer player(nullptr);
        player.clipName = u"movie.avi"_s;
        player.playState = Paused;
        QCOMPARE(player.windowCaption(), u"movie.avi  (Paused)"_s);
        // Percent signs and long names are text, never format directives or a cut buffer.
        player.clipName = u"%1 %s "_s + QString(250, 'x');
        player.playState = Stopped;
        QCOMPARE(player.windowCaption(), player.clipName + "  ");
    }

    void loadingCuesTheFirstPictureBesideTheOwner() {
        LoadedClip clip;
        PreviewPlayer& player = clip.player;
        RecordingOwner& owner = clip.owner;
        QCOMPARE(ReadMenu(player).greyed, QStringList());  // Closed: nothing greyed
        QVERIFY(clip.load());

        // Cued at the first picture, in a window of its size beside the owner, on the screen,
        // and resizable.
        QVERIFY(clip.environment.messages.boxes.isEmpty());
        QCOMPARE(player.playState, Stopped);
        QVERIFY(player.m_hWnd->isVisible());
        QCOMPARE(player.m_hWnd->size(), QSize(320, 240));
        QVERIFY(!player.m_hWnd->frameGeometry().intersects(owner.frameGeometry()));
        QVERIFY(owner.screen()->availableGeometry().contains(player.m_hWnd->frameGeometry()));
        QVERIFY(player.m_hWnd->minimumSize() != player.m_hWnd->maximumSize());
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 0, 5000);
        // The tick reads the position and tells the owner.
        player.OnPositionTimer();
        QCOMPARE(player.currentPosition, 0);
        QVERIFY(qAbs(player.stopPosition - 75 * kFrame) < kSecond / 20);
        DeliverPosted();
        QCOMPARE(owner.messages, QList<int>{WM_POSITIONNOTIFY});
    }

    void transportFollowsPlayPauseSeekAndStop() {
        LoadedClip clip;
        QVERIFY(clip.load());
        PreviewPlayer& player = clip.player;
        const QString& name = clip.name;
        // The state, the caption and the menu's greying follow Play and Pause.
        player.PausePlayback();  // nothing to pause
        QCOMPARE(player.playState, Stopped);
        QCOMPARE(ReadMenu(player).greyed, (QStringList{"Pause", "Stop"}));
        player.StartPlayback();
        player.StartPlayback();  // only refreshes
        QCOMPARE(player.playState, Running);
        QCOMPARE(ReadMenu(player).greyed, QStringList{"Play"});
        QTRY_VERIFY_WITH_TIMEOUT((player.OnPositionTimer(), player.currentPosition > 3 * kFrame),
                                 5000);
        player.PausePlayback();
        player.PausePlayback();  // does not resume
        QCOMPARE(player.playState, Paused);
        QCOMPARE(player.m_hWnd->windowTitle(), name + "  (Paused)");
        QCOMPARE(ReadMenu(player).greyed, QStringList{"Pause"});
        QCOMPARE(ReadMenu(player).fullScreenChecked, false);

        // A seek while paused moves the picture, not the state; a negative time is the start.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(50 * kFrame)));
        QCOMPARE(player.playState, Paused);
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 50, 5000);
        player.OnPositionTimer();
        QVERIFY(qAbs(player.currentPosition - 50 * kFrame) < kSecond / 20);
        QVERIFY(SUCCEEDED(player.SeekAbsolute(-5)));
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 0, 5000);
        // Frame 46 has the brightest left half that RGB does not clip.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(46 * kFrame)));
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 46, 5000);
        testing_support::SaveScreenshot(player.m_hWnd, u"video_window_frame_46"_s);

        // Stop rewinds to the first picture.
        player.StopPlayback();
        QCOMPARE(player.playState, Stopped);
        QCOMPARE(player.m_hWnd->windowTitle(), name + "  ");
        QTRY_COMPARE_WITH_TIMEOUT(PictureFrameNumber(player.m_hWnd->picture()), 0, 5000);
        player.OnPositionTimer();
        QCOMPARE(player.currentPosition, 0);
    }

    void menuCommandsAndCloseGoThroughTheOwner() {
        LoadedClip clip;
        QVERIFY(clip.load());
        PreviewPlayer& player = clip.player;
        RecordingOwner& owner = clip.owner;
        // A right click opens the menu at the pointer; the chosen item arrives as a command
        // after the menu has closed.
        QStringList shown;
        QTimer::singleShot(200, this, [&shown] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions()) {
                if (!action->isSeparator()) shown << action->text();
                if (action->data().toInt() == ID_PLAY) menu->setActiveAction(action);
            }
            QTest::keyClick(menu, Qt::Key_Return);
        });
        player.ownerHidden = 0;
        QTest::mouseClick(player.m_hWnd, Qt::RightButton, {}, QPoint(30, 40));
        QCOMPARE(shown,
                 (QStringList{"Full screen", "Normal size", "Play", "Pause", "Stop", "Close"}));
        QCOMPARE(player.ownerHidden, 1);
        QCOMPARE(player.playState, Stopped);
        DeliverPosted();
        QCOMPARE(player.playState, Running);

        // The close box and the menu's Close only ask the owner to close the clip.
        QVERIFY(!player.m_hWnd->close());
        player.OnCommand(ID_CLOSE);
        DeliverPosted();
        QCOMPARE(owner.commands, (QList<int>{kCloseClipCommand, kCloseClipCommand}));
        QVERIFY(player.m_hWnd && player.m_hWnd->isVisible());

        // Unloaded, the tick reads nothing and tells nobody.
        player.UnloadClip();
        QCOMPARE(player.playState, Closed);
        QVERIFY(!player.m_hWnd && !player.graph && player.clipName.isEmpty());
        owner.messages.clear();
        player.OnPositionTimer();
        DeliverPosted();
        QVERIFY(owner.messages.isEmpty());
    }

    void fullScreenHidesAnIdleCursor() {
        // The idle time is taken unsigned across the clock's wrap.
        QVERIFY(!CursorIdleExpired(100000, 0));
        QVERIFY(CursorIdleExpired(100001, 0));
        QVERIFY(!CursorIdleExpired(50, 0xFFFFFFF0u));
        QVERIFY(CursorIdleExpired(100000, 0xFFFFFFF0u));

        std::uint32_t now = 5000;
        SetMultimediaClockForTesting([&now] { return now; });
        LoadedClip clip;
        QVERIFY(clip.load());
        PreviewPlayer& player = clip.player;
        player.OnCommand(ID_FULL_SCREEN);
        QCOMPARE(player.fullScreen, 1);
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        QCOMPARE(player.m_hWnd->geometry(), QRect(QPoint(0, 0), screen));
        QCOMPARE(player.pictureRect, FullScreenPictureRect(screen, QSize(320, 240)));
        QVERIFY(player.m_hWnd->cursorTimer.isActive());
        QCOMPARE(ReadMenu(player).fullScreenChecked, true);

        // Idle for 50 s and exactly 100 s keeps the cursor; 150 s hides it once, however
        // often the timer ticks; a mouse move brings it back and restarts the idle time.
        now += 50000;
        player.OnCursorTimer();
        now += 50000;
        player.OnCursorTimer();
        QCOMPARE(player.cursorCount, 0);
        now += 50000;
        player.OnCursorTimer();
        player.OnCursorTimer();
        QCOMPARE(player.cursorCount, -1);
        QCOMPARE(player.m_hWnd->cursor().shape(), Qt::BlankCursor);
        QMouseEvent move(QEvent::MouseMove, QPointF(10, 10),
                         player.m_hWnd->mapToGlobal(QPointF(10, 10)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(player.m_hWnd, &move);
        QCOMPARE(player.cursorCount, 0);
        QVERIFY(player.m_hWnd->cursor().shape() != Qt::BlankCursor);
        now += 60000;
        player.OnCursorTimer();
        QCOMPARE(player.cursorCount, 0);
    }

    void escapeAndNormalSizeGiveTheWindowBack() {
        LoadedClip clip;
        QVERIFY(clip.load());
        PreviewPlayer& player = clip.player;
        RecordingOwner& owner = clip.owner;
        const QRect windowed = player.m_hWnd->geometry();
        player.OnCommand(ID_FULL_SCREEN);
        QCOMPARE(player.fullScreen, 1);

        // Escape returns to the window as it was, and does nothing there; so does
        // "Normal size".
        QTest::keyClick(player.m_hWnd, Qt::Key_Escape);
        QCOMPARE(player.fullScreen, 0);
        QVERIFY(!player.m_hWnd->cursorTimer.isActive());
        QCOMPARE(player.m_hWnd->geometry(), windowed);
        QCOMPARE(player.pictureRect, QRect(0, 0, 320, 240));
        QVERIFY(player.m_hWnd->isVisible() && owner.isVisible() && !owner.isMinimized());
        QTest::keyClick(player.m_hWnd, Qt::Key_Escape);
        QCOMPARE(player.m_hWnd->geometry(), windowed);
        player.SwitchScreenMode();
        player.OnCommand(ID_NORMAL_SIZE);
        QCOMPARE(player.fullScreen, 0);
        QCOMPARE(player.m_hWnd->size(), QSize(320, 240));
    }

    void clicksSwapWhichWindowLiesOnTop() {
        LoadedClip clip;
        QVERIFY(clip.load());
        PreviewPlayer& player = clip.player;
        RecordingOwner& owner = clip.owner;
        // Windowed, a click toggles which of the two lies on top, process-wide.
        dialogAbove = 1;
        Click(player);
        QCOMPARE(dialogAbove, 0);
        QVERIFY(!Topmost(owner));
        Click(player);
        QCOMPARE(dialogAbove, 1);
        QVERIFY(Topmost(owner));
        QVERIFY(owner.isVisible() && player.m_hWnd->isVisible());

        // In full screen the first click sends the dialog away, the next brings it back on
        // top; the windowed toggle is left alone.
        player.GoFullScreen();
        Click(player);
        QVERIFY(owner.isMinimized() && !Topmost(owner));
        Click(player);
        QVERIFY(!owner.isMinimized() && owner.isVisible() && Topmost(owner));
        QCOMPARE(dialogAbove, 1);

        // Escape, and unloading in full screen, show the dialog whatever the toggle says.
        Click(player);
        QVERIFY(owner.isMinimized());
        QTest::keyClick(player.m_hWnd, Qt::Key_Escape);
        QVERIFY(!owner.isMinimized() && owner.isVisible());
        player.GoFullScreen();
        Click(player);
        QVERIFY(owner.isMinimized());
        player.UnloadClip();
        QCOMPARE(player.fullScreen, 0);
        QVERIFY(!owner.isMinimized() && owner.isVisible());
    }

    void refusedFileUnloadsAtOnce() {
        TestEnvironment environment;
        PreviewPlayer player(nullptr);
        player.clipName = CorruptFile(environment);
        QCOMPARE(player.LoadClipFile(), 0);
        QCOMPARE(environment.messages.texts(), QStringList{kCannotPlay});
        QCOMPARE(environment.messages.boxes.front().caption, u"Framewell"_s);
        QCOMPARE(player.playState, Closed);
        QVERIFY(!player.m_hWnd && player.clipName.isEmpty());
    }
};

FRAMEWELL_TEST_MAIN(VideoWindowTest)
#include "test_video_window.moc"
