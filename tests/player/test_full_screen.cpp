// Full screen, the idle cursor, the context menu and the click stacking of the video window.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include "media/media_framework.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "player_test_support.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace player_tests;

namespace {

struct MenuState {
    QStringList greyed;
    bool fullScreenChecked = false;
};

MenuState ReadMenu(PreviewPlayer& player) {
    MenuState state;
    std::unique_ptr<QMenu> menu = player.BuildPlayerMenu();
    if (!menu) return state;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        if (!action->isEnabled()) state.greyed << action->text();
        if (action->data().toInt() == ID_FULL_SCREEN) state.fullScreenChecked = action->isChecked();
    }
    return state;
}

// A mouse move without a button, as the window system delivers it to a tracking window.
void MoveMouse(QWidget* widget, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

bool Topmost(const QWidget& widget) {
    return widget.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

}  // namespace

class FullScreenTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }
    void cleanup() { SetMultimediaClockForTesting(nullptr); }

    void pictureIsPlacedByTheTenfoldRule() {
        const QSize screen(1024, 768);
        // 3200 x 2400 exceeds both sides with equal ratios: fills the screen.
        QCOMPARE(FullScreenPictureRect(screen, QSize(320, 240)), QRect(0, 0, 1024, 768));
        // Wider than the screen: full width, centred vertically.
        QCOMPARE(FullScreenPictureRect(screen, QSize(1280, 720)), QRect(0, 96, 1024, 576));
        // A tenth of the screen or less: ten times its size, centred.
        QCOMPARE(FullScreenPictureRect(screen, QSize(64, 48)), QRect(192, 144, 640, 480));
        // Taller than the screen only: full height, centred horizontally.
        QCOMPARE(FullScreenPictureRect(screen, QSize(40, 100)), QRect(358, 0, 308, 768));
        // Larger both ways, relatively taller: full height.
        QCOMPARE(FullScreenPictureRect(screen, QSize(480, 640)), QRect(224, 0, 576, 768));
        // No size known: the whole screen.
        QCOMPARE(FullScreenPictureRect(screen, QSize()), QRect(0, 0, 1024, 768));
    }

    void idleRuleCountsOnAWrappingClock() {
        QVERIFY(!CursorIdleExpired(100000, 0));
        QVERIFY(CursorIdleExpired(100001, 0));
        QVERIFY(!CursorIdleExpired(50, 0xFFFFFFF0u));  // 66 ms across the wrap
        QVERIFY(CursorIdleExpired(100000, 0xFFFFFFF0u));
    }

    void fullScreenHidesAnIdleCursorAndEscapeReturns() {
        testing_support::TestEnvironment environment;
        std::uint32_t now = 5000;
        SetMultimediaClockForTesting([&now] { return now; });
        RecordingOwner owner;
        owner.show();
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);
        const QRect windowed = player.m_hWnd->geometry();
        // A bright picture (frame 46) for the screenshot.
        QVERIFY(SUCCEEDED(player.SeekAbsolute(46 * 400000)));

        player.OnCommand(ID_FULL_SCREEN);
        QCOMPARE(player.fullScreen, 1);
        QCOMPARE(player.ownerHidden, 1);
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        QCOMPARE(player.m_hWnd->geometry(), QRect(QPoint(0, 0), screen));
        QCOMPARE(player.pictureRect, FullScreenPictureRect(screen, QSize(320, 240)));
        QVERIFY(player.m_hWnd->cursorTimer.isActive());
        QCOMPARE(player.lastMouseTime, 5000u);
        QCOMPARE(ReadMenu(player).fullScreenChecked, true);
        QTRY_VERIFY(player.m_hWnd->paintedPictures() > 0);
        player.m_hWnd->repaint();
        testing_support::SaveScreenshot(player.m_hWnd, QStringLiteral("video_window_full_screen"));

        // Ticks of the cursor timer: idle for 50 s and exactly 100 s keeps the cursor.
        now += 50000;
        player.OnCursorTimer();
        QCOMPARE(player.cursorCount, 0);
        now += 50000;
        player.OnCursorTimer();
        QCOMPARE(player.cursorCount, 0);
        now += 50000;  // 150 s idle: hidden once, however often the timer ticks
        player.OnCursorTimer();
        player.OnCursorTimer();
        QCOMPARE(player.cursorCount, -1);
        QCOMPARE(player.m_hWnd->cursor().shape(), Qt::BlankCursor);
        // A mouse move brings it back and restarts the idle time.
        MoveMouse(player.m_hWnd, QPoint(10, 10));
        QCOMPARE(player.cursorCount, 0);
        QVERIFY(player.m_hWnd->cursor().shape() != Qt::BlankCursor);
        QCOMPARE(player.lastMouseTime, now);
        now += 60000;
        player.OnCursorTimer();
        QCOMPARE(player.cursorCount, 0);

        // Escape returns to the window as it was.
        QTest::keyClick(player.m_hWnd, Qt::Key_Escape);
        QCOMPARE(player.fullScreen, 0);
        QVERIFY(!player.m_hWnd->cursorTimer.isActive());
        QCOMPARE(player.m_hWnd->geometry(), windowed);
        QCOMPARE(player.pictureRect, QRect(0, 0, 320, 240));
        QVERIFY(player.m_hWnd->isVisible());
        QVERIFY(owner.isVisible() && !owner.isMinimized());
        // Escape in a window does nothing.
        QTest::keyClick(player.m_hWnd, Qt::Key_Escape);
        QCOMPARE(player.m_hWnd->geometry(), windowed);

        // "Normal size" from full screen also returns to the window.
        player.SwitchScreenMode();
        QCOMPARE(player.fullScreen, 1);
        player.OnCommand(ID_NORMAL_SIZE);
        QCOMPARE(player.fullScreen, 0);
        QCOMPARE(player.m_hWnd->size(), QSize(320, 240));
        player.UnloadClip();
    }

    void clicksToggleWhichWindowLiesOnTop() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        owner.show();
        PreviewPlayer player(&owner);
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);

        // Windowed: the toggle is process-wide and survives the player.
        dialogAbove = 1;
        QTest::mouseClick(player.m_hWnd, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(dialogAbove, 0);
        QVERIFY(!Topmost(owner));
        QTest::mouseClick(player.m_hWnd, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(dialogAbove, 1);
        QVERIFY(Topmost(owner));
        QVERIFY(owner.isVisible() && player.m_hWnd->isVisible());

        // Full screen: the first click sends the dialog away, the next brings it back on top.
        player.GoFullScreen();
        QTest::mouseClick(player.m_hWnd, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(player.ownerHidden, 0);
        QVERIFY(owner.isMinimized());
        QVERIFY(!Topmost(owner));
        QTest::mouseClick(player.m_hWnd, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(player.ownerHidden, 1);
        QVERIFY(!owner.isMinimized() && owner.isVisible());
        QVERIFY(Topmost(owner));
        QCOMPARE(dialogAbove, 1);  // untouched in full screen

        // Escape shows the dialog whatever the toggle says.
        QTest::mouseClick(player.m_hWnd, Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(owner.isMinimized());
        QTest::keyClick(player.m_hWnd, Qt::Key_Escape);
        QVERIFY(!owner.isMinimized() && owner.isVisible());

        // Unloading in full screen returns to the window first, which shows the dialog.
        player.GoFullScreen();
        QTest::mouseClick(player.m_hWnd, Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(owner.isMinimized());
        player.UnloadClip();
        QCOMPARE(player.fullScreen, 0);
        QVERIFY(!owner.isMinimized() && owner.isVisible());
    }

    void menuGreysByPlayStateAndSendsItsCommand() {
        testing_support::TestEnvironment environment;
        RecordingOwner owner;
        PreviewPlayer player(&owner);
        QCOMPARE(ReadMenu(player).greyed, QStringList());  // Closed: nothing greyed
        player.clipName = SmallClip();
        QCOMPARE(player.LoadClipFile(), 1);

        const QStringList stoppedGrey{QStringLiteral("Pause"), QStringLiteral("Stop")};
        QCOMPARE(ReadMenu(player).greyed, stoppedGrey);
        QCOMPARE(ReadMenu(player).fullScreenChecked, false);
        player.PausePlayback();  // a stopped clip stays stopped
        QCOMPARE(ReadMenu(player).greyed, stoppedGrey);
        player.StartPlayback();
        QCOMPARE(ReadMenu(player).greyed, QStringList{QStringLiteral("Play")});
        player.PausePlayback();
        QCOMPARE(ReadMenu(player).greyed, QStringList{QStringLiteral("Pause")});

        // A right click opens the menu at the pointer; the chosen item arrives as a command
        // after the menu has closed.
        QStringList shown;
        QTimer::singleShot(200, this, [&shown] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions())
                if (!action->isSeparator()) shown << action->text();
            for (QAction* action : menu->actions())
                if (action->data().toInt() == ID_PLAY) {
                    menu->setActiveAction(action);
                    QTest::keyClick(menu, Qt::Key_Return);
                }
        });
        player.ownerHidden = 0;
        QTest::mouseClick(player.m_hWnd, Qt::RightButton, {}, QPoint(30, 40));
        QCOMPARE(shown,
                 (QStringList{"Full screen", "Normal size", "Play", "Pause", "Stop", "Close"}));
        QCOMPARE(player.ownerHidden, 1);
        QCOMPARE(player.playState, Paused);
        DeliverPosted();
        QCOMPARE(player.playState, Running);

        // Full screen does nothing for sound alone.
        player.UnloadClip();
        PreviewPlayer audio(&owner);
        audio.clipName = AudioOnlyFile();
        QCOMPARE(audio.LoadClipFile(), 1);
        audio.SwitchScreenMode();
        QCOMPARE(audio.fullScreen, 0);
        audio.UnloadClip();
    }
};

FRAMEWELL_TEST_MAIN(FullScreenTest)
#include "test_full_screen.moc"
