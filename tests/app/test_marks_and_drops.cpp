// The main dialog's side of exact marking and drag and drop, on real clips: marks taken
// between two position ticks, with the frame in the tooltip; input reaching the video window
// while the dialog runs; dropped files opening as Open Video opens them, and drags refused.

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "controls/hover_button.h"
#include "platform/dropped_files.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "player/player_test_support.h"
#include "player/preview_window.h"
#include "support/main_dialog_driver.h"
#include "support/test_main.h"

using testing_support::DialogControl;
using testing_support::Press;

using namespace player_tests;
using testing_support::TestEnvironment;

namespace {

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
        [&] {
            return !dialog.isOpeningVideo() && currentPlayer && currentPlayer->clipName == path;
        },
        15000);
}

}  // namespace

class MarksAndDropsTest : public QObject {
    Q_OBJECT

private slots:
    void marksTakeThePictureOnShowBetweenTicks() {
        TestEnvironment environment;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->toolTip(),
                 QStringLiteral("00:00:03.000 (frame 75)"));
        // One tick, then none: the cached position and the display stay at 0.
        currentPlayer->m_hWnd->positionTimer.stop();
        Tick(dialog);

        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(20'000'000)));
        DialogControl<QPushButton>(dialog, MainDialogIds::kStartTime)->click();
        QCOMPARE(dialog.marks().start, 20'000'000);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->toolTip(),
                 QStringLiteral("00:00:02.000 (frame 50)"));
        QTest::keyClick(currentPlayer->m_hWnd, Qt::Key_Right);
        DialogControl<QPushButton>(dialog, MainDialogIds::kEndTime)->click();
        QCOMPARE(dialog.marks().end, 20'400'000);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->text(),
                 QStringLiteral("00:00:02"));
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->toolTip(),
                 QStringLiteral("00:00:02.040 (frame 51)"));
        QCOMPARE(currentPlayer->currentPosition, 0);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(),
                 QStringLiteral("00:00:00 / 00:00:03"));

        // While playing, a mark is the start of the frame then on show.
        DialogControl<QPushButton>(dialog, MainDialogIds::kPlay)->click();
        QTRY_VERIFY_WITH_TIMEOUT(currentPlayer->LivePosition() > 20'400'000, 5000);
        DialogControl<QPushButton>(dialog, MainDialogIds::kStartTime)->click();
        const media::FrameRate rate = currentPlayer->frameRate();
        QVERIFY(dialog.marks().start > 20'400'000);
        QCOMPARE(media::FrameStart(media::FrameIndexAt(dialog.marks().start, rate), rate),
                 dialog.marks().start);
    }

    void inputReachesTheVideoWindowWhileTheDialogRuns() {
        TestEnvironment environment;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        dialogAbove = 1;
        QTimer::singleShot(100, &dialog, [&] {
            // Through the window system, which drops input to windows that a modal one blocks.
            QWindow* window = currentPlayer->m_hWnd->windowHandle();
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(20, 20));
            QTest::keyClick(window, Qt::Key_Right);
            QTest::keyClick(window, Qt::Key_Right);
            dialog.reject();
        });
        dialog.exec();
        QCOMPARE(dialogAbove, 0);
        QCOMPARE(currentPlayer->LivePosition(), 800'000);
    }

    void droppedFilesOpenAsOpenVideoOpensThem() {
        TestEnvironment environment;
        ConverterDialog dialog;
        dialog.show();
        const QString first = QDir::toNativeSeparators(SmallClip());
        const QString folder = QFileInfo(first).absolutePath();
        testing_support::ClipSpec spec;
        spec.seconds = 2.0;
        const QString second = QDir::toNativeSeparators(testing_support::MakeClip(spec));

        // On the dialog: no file dialog, and the state Open Video leaves.
        QVERIFY(Drop(&dialog, {QUrl::fromLocalFile(first)}));
        QVERIFY(Opened(dialog, first));
        QVERIFY(environment.files.requests.isEmpty());
        QVERIFY(environment.messages.boxes.isEmpty());
        QCOMPARE(dialog.soundClips()[0].fileName, first);
        QCOMPARE(dialog.marks().end, 30'000'000);
        QCOMPARE(platform::SettingsStore().readString(QStringLiteral("Option"),
                                                      QStringLiteral("LastPhotoFolder"), QString()),
                 platform::FolderOf(first));
        QVERIFY(DialogControl<HoverButton>(dialog, MainDialogIds::kConvert)->isEnabled());

        // On the video window, several items: the first file opens, the rest is ignored.
        QVERIFY(
            Drop(currentPlayer->m_hWnd, {QUrl::fromLocalFile(folder), QUrl::fromLocalFile(second),
                                         QUrl::fromLocalFile(first)}));
        QVERIFY(Opened(dialog, second));
        QCOMPARE(dialog.videoClips()[0].fileName, second);
        QCOMPARE(dialog.marks().end, 20'000'000);

        // Refused: no file among the items, a move (the source would delete its file), and
        // any drop while a file is being measured.
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(10'000'000)));
        Press(dialog, MainDialogIds::kStartTime);  // until the next open
        QVERIFY(!Drop(&dialog, {QUrl::fromLocalFile(folder)}));
        QVERIFY(!Drop(currentPlayer->m_hWnd, {QUrl(QStringLiteral("https://example.com/a.avi"))}));
        QVERIFY(!Drop(&dialog, {QUrl::fromLocalFile(first)}, Qt::MoveAction));
        QVERIFY(!Drop(&dialog, {QUrl::fromLocalFile(folder + QStringLiteral("/gone.avi"))}));
        dialog.OpenVideoFile(second);
        QVERIFY(dialog.isOpeningVideo());
        QVERIFY(!Drop(&dialog, {QUrl::fromLocalFile(first)}));
        QVERIFY(!Drop(currentPlayer->m_hWnd, {QUrl::fromLocalFile(first)}));
        QVERIFY(Opened(dialog, second));
        QCOMPARE(dialog.marks().start, 0);
        QTest::qWait(50);
        QCOMPARE(currentPlayer->clipName, second);
        QVERIFY(environment.messages.boxes.isEmpty());

        // Plain text naming a file is no file; a link is taken as a link.
        QMimeData text;
        text.setText(first);
        QCOMPARE(platform::DroppedFilePath(&text), QString());
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(first)});
        QDropEvent link(QPointF(5, 5), Qt::LinkAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QVERIFY(platform::AcceptFileDrop(&link));
        QCOMPARE(link.dropAction(), Qt::LinkAction);
    }
};

FRAMEWELL_TEST_MAIN(MarksAndDropsTest)
#include "test_marks_and_drops.moc"
