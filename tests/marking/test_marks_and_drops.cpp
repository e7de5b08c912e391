// The main dialog's side of exact marking and drag and drop, on real clips: marks taken
// between two position ticks, with the frame in the tooltip; keys reaching the video window
// while the dialog runs; dropped files opening as Open Video opens them, and drags refused.

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "media/frame_time.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "player/player_test_support.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "source/source_player.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace player_tests;
using testing_support::TestEnvironment;

namespace {

bool OpenVideo(ConverterDialog& dialog, TestEnvironment& environment, const QString& path) {
    environment.files.openAnswers.push_back(path);
    dialog.OnOpenVideo();
    return QTest::qWaitFor([&] { return !dialog.openingVideo; }, 15000);
}

// A drag over the target and its drop, as the window system delivers them; true when both
// were taken. The file opens after the drop.
bool Drop(QWidget* target, const QList<QUrl>& urls,
          Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), actions, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(10, 10), actions, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

bool Opened(ConverterDialog& dialog, const QString& path) {
    return QTest::qWaitFor(
        [&] { return !dialog.openingVideo && currentPlayer && currentPlayer->clipName == path; },
        15000);
}

}  // namespace

class MarksAndDropsTest : public QObject {
    Q_OBJECT

private slots:
    void marksTakeThePictureOnShowBetweenTicks() {
        TestEnvironment environment;
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));  // 3 s at 25 frames a second
        QCOMPARE(dialog.endMarkDisplay->toolTip(), QStringLiteral("00:00:03.000 (frame 75)"));
        // One tick, then none: the cached position and the display stay at 0.
        currentPlayer->m_hWnd->positionTimer.stop();
        currentPlayer->OnPositionTimer();
        QCoreApplication::sendPostedEvents(&dialog);

        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(20'000'000)));
        dialog.startTimeButton->click();
        QCOMPARE(dialog.startMark, 20'000'000);
        QCOMPARE(dialog.startMarkDisplay->toolTip(), QStringLiteral("00:00:02.000 (frame 50)"));
        QTest::keyClick(currentPlayer->m_hWnd, Qt::Key_Right);
        dialog.endTimeButton->click();
        QCOMPARE(dialog.endMark, 20'400'000);
        QCOMPARE(dialog.endMarkDisplay->text(), QStringLiteral("00:00:02"));
        QCOMPARE(dialog.endMarkDisplay->toolTip(), QStringLiteral("00:00:02.040 (frame 51)"));
        QCOMPARE(currentPlayer->currentPosition, 0);
        QCOMPARE(dialog.positionDisplay->text(), QStringLiteral("00:00:00 / 00:00:03"));

        // While playing, a mark is the start of the frame then on show.
        dialog.playButton->click();
        QTest::qWait(300);
        dialog.startTimeButton->click();
        const media::FrameRate rate = currentPlayer->frameRate();
        QVERIFY(dialog.startMark > 20'400'000);
        QCOMPARE(media::FrameStart(media::FrameIndexAt(dialog.startMark, rate), rate),
                 dialog.startMark);
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_marks"));

        // Closing the clip takes the frames out of the tooltips.
        currentPlayer->OnWindowClose();
        QCoreApplication::sendPostedEvents(&dialog);
        QVERIFY(!currentPlayer);
        QCOMPARE(dialog.startMarkDisplay->toolTip(), QString());
        QCOMPARE(dialog.endMarkDisplay->toolTip(), QString());
    }

    void keysReachTheVideoWindowWhileTheDialogRuns() {
        TestEnvironment environment;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        QTimer::singleShot(100, &dialog, [&] {
            // Through the window system, which drops input to windows that a modal one blocks.
            QWindow* window = currentPlayer->m_hWnd->windowHandle();
            QTest::keyClick(window, Qt::Key_Right);
            QTest::keyClick(window, Qt::Key_Right);
            dialog.reject();
        });
        dialog.exec();
        QCOMPARE(currentPlayer->LivePosition(), 800'000);
    }

    void droppedFilesOpenAsOpenVideoOpensThem() {
        TestEnvironment environment;
        ConverterDialog dialog;
        dialog.show();
        const QString first = QDir::toNativeSeparators(SmallClip());
        testing_support::ClipSpec spec;
        spec.seconds = 2.0;
        const QString second = QDir::toNativeSeparators(testing_support::MakeClip(spec));

        // On the dialog: no file dialog, and the state Open Video leaves.
        QVERIFY(Drop(&dialog, {QUrl::fromLocalFile(first)}));
        QVERIFY(Opened(dialog, first));
        QVERIFY(environment.files.requests.isEmpty());
        QVERIFY(environment.messages.boxes.isEmpty());
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(dialog.musicList[0].fileName, first);
        QCOMPARE(dialog.endMark, 30'000'000);
        QCOMPARE(dialog.positionDisplay->text(), QStringLiteral("00:00:00 / 00:00:03"));
        QCOMPARE(dialog.outputSettings.outputWidth, 320);
        QCOMPARE(platform::SettingsStore().readString(QStringLiteral("Option"),
                                                      QStringLiteral("LastPhotoFolder"), QString()),
                 platform::FolderOf(first));
        QVERIFY(dialog.convertButton->isEnabled());

        // On the video window, several items: the first file opens, the rest is ignored.
        QVERIFY(
            Drop(currentPlayer->m_hWnd, {QUrl::fromLocalFile(QFileInfo(first).absolutePath()),
                                         QUrl::fromLocalFile(second), QUrl::fromLocalFile(first)}));
        QVERIFY(Opened(dialog, second));
        QCOMPARE(dialog.clipList[0].fileName, second);
        QCOMPARE(dialog.endMark, 20'000'000);
        QVERIFY(environment.messages.boxes.isEmpty());

        // Refused: no file among the items, a move the source would follow by deleting its
        // file, and any drop while a file is being measured.
        PreviewPlayer* playing = currentPlayer;
        const QList<QList<QUrl>> noFile = {{QUrl(QStringLiteral("https://example.com/clip.avi"))},
                                           {QUrl::fromLocalFile(QFileInfo(first).absolutePath())}};
        for (const QList<QUrl>& urls : noFile) {
            QVERIFY(!Drop(&dialog, urls));
            QVERIFY(!Drop(currentPlayer->m_hWnd, urls));
        }
        QVERIFY(!Drop(&dialog, {QUrl::fromLocalFile(first)}, Qt::MoveAction));
        dialog.OpenVideoFile(second);
        QVERIFY(dialog.openingVideo);
        QVERIFY(!Drop(&dialog, {QUrl::fromLocalFile(first)}));
        QVERIFY(!Drop(currentPlayer->m_hWnd, {QUrl::fromLocalFile(first)}));
        QVERIFY(Opened(dialog, second));
        QVERIFY(currentPlayer != playing);
        QTest::qWait(50);
        QCOMPARE(currentPlayer->clipName, second);
    }
};

FRAMEWELL_TEST_MAIN(MarksAndDropsTest)
#include "test_marks_and_drops.moc"
