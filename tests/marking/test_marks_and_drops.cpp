// The main dialog's side of exact marking and drag and drop, on real clips: marks taken
// between two position ticks are the picture on show, with its frame in the tooltip; keys
// reach the video window while the dialog runs; a dropped file opens as Open Video opens it,
// on the dialog and on the video window, and drags that name no file are refused.

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
#include "platform/dialog_template.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "player/player_test_support.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "source/source_player.h"
#include "support/picture_frames.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace player_tests;
using testing_support::ClipSpec;
using testing_support::MakeClip;
using testing_support::TestEnvironment;

namespace {

constexpr ReferenceTime kSecond = 10'000'000;

QString Text(ConverterDialog& dialog, int id) {
    auto* label = platform::Control<QLabel>(&dialog, id);
    return label ? label->text() : QStringLiteral("<missing>");
}

QString Tip(ConverterDialog& dialog, int id) {
    auto* label = platform::Control<QLabel>(&dialog, id);
    return label ? label->toolTip() : QStringLiteral("<missing>");
}

bool OpenVideo(ConverterDialog& dialog, TestEnvironment& environment, const QString& path) {
    environment.files.openAnswers.push_back(path);
    dialog.OnOpenVideo();
    return QTest::qWaitFor([&] { return !dialog.openingVideo; }, 15000);
}

// Waits until a drop has been opened: the open starts after the drop and measures the file.
bool Opened(ConverterDialog& dialog, const QString& path) {
    return QTest::qWaitFor(
        [&] { return !dialog.openingVideo && currentPlayer && currentPlayer->clipName == path; },
        15000);
}

struct DropOutcome {
    bool entered = false;
    bool dropped = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// A drag over the target and its drop, as the window system delivers them.
DropOutcome Drop(QWidget* target, const QMimeData& data,
                 Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
    DropOutcome outcome;
    QDragEnterEvent enter(QPoint(10, 10), actions, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    outcome.entered = enter.isAccepted();
    QDropEvent drop(QPointF(10, 10), actions, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &drop);
    outcome.dropped = drop.isAccepted();
    outcome.action = drop.dropAction();
    return outcome;
}

std::unique_ptr<QMimeData> Files(const QList<QUrl>& urls) {
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    return data;
}

QUrl FileUrl(const QString& path) {
    return QUrl::fromLocalFile(path);
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
        QCOMPARE(Tip(dialog, MainDialogIds::kStartMarkDisplay),
                 QStringLiteral("00:00:00.000 (frame 0)"));
        QCOMPARE(Tip(dialog, MainDialogIds::kEndMarkDisplay),
                 QStringLiteral("00:00:03.000 (frame 75)"));

        // No tick from here on: the cached position stays where the first one left it.
        currentPlayer->m_hWnd->positionTimer.stop();
        currentPlayer->OnPositionTimer();
        QCoreApplication::sendPostedEvents(&dialog);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:00 / 00:00:03"));

        // A seek, then Start Time at once: the mark is the new place, not the old tick's.
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(2 * kSecond)));
        dialog.startTimeButton->click();
        QCOMPARE(dialog.startMark, 2 * kSecond);
        QCOMPARE(Text(dialog, MainDialogIds::kStartMarkDisplay), QStringLiteral("00:00:02"));
        QCOMPARE(Tip(dialog, MainDialogIds::kStartMarkDisplay),
                 QStringLiteral("00:00:02.000 (frame 50)"));

        // One frame on with the arrow key in the video window, then End Time.
        QTest::keyClick(currentPlayer->m_hWnd, Qt::Key_Right);
        dialog.endTimeButton->click();
        QCOMPARE(dialog.endMark, 20'400'000);
        QCOMPARE(Text(dialog, MainDialogIds::kEndMarkDisplay), QStringLiteral("00:00:02"));
        QCOMPARE(Tip(dialog, MainDialogIds::kEndMarkDisplay),
                 QStringLiteral("00:00:02.040 (frame 51)"));
        // The display and the cached position still wait for the next tick.
        QCOMPARE(currentPlayer->currentPosition, 0);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:00 / 00:00:03"));

        // While playing, a mark is the start of the frame then on show.
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(0)));
        dialog.playButton->click();
        QTest::qWait(700);
        dialog.startTimeButton->click();
        const media::FrameRate rate = currentPlayer->frameRate();
        QVERIFY2(dialog.startMark >= 5 * kSecond / 10, qPrintable(QString::number(dialog.startMark)));
        QCOMPARE(media::FrameStart(media::FrameIndexAt(dialog.startMark, rate), rate),
                 dialog.startMark);
        dialog.pauseButton->click();
        dialog.endTimeButton->click();
        QVERIFY(dialog.endMark >= dialog.startMark);
        QTRY_COMPARE_WITH_TIMEOUT(
            testing_support::PictureFrameNumber(currentPlayer->m_hWnd->picture()),
            int(media::FrameIndexAt(dialog.endMark, rate)), 3000);
        QCOMPARE(currentPlayer->currentPosition, 0);
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_marks"));

        // Closing the clip takes the frames out of the tooltips with the marks.
        QVERIFY(!currentPlayer->m_hWnd->close());
        QCoreApplication::sendPostedEvents(&dialog);
        QVERIFY(!currentPlayer);
        QCOMPARE(Text(dialog, MainDialogIds::kStartMarkDisplay), QStringLiteral("00:00:00"));
        QCOMPARE(Tip(dialog, MainDialogIds::kStartMarkDisplay), QString());
        QCOMPARE(Tip(dialog, MainDialogIds::kEndMarkDisplay), QString());
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
            QTest::keyClick(window, Qt::Key_Space);
            dialog.reject();
        });
        dialog.exec();
        QCOMPARE(currentPlayer->playState, Running);
        dialog.OnPause();
        QVERIFY(currentPlayer->LivePosition() >= 800'000);
    }

    void droppedFileOpensAsOpenVideoDoes() {
        TestEnvironment environment;
        ConverterDialog dialog;
        dialog.show();
        const QString first = QDir::toNativeSeparators(SmallClip());
        ClipSpec spec;
        spec.seconds = 2.0;
        spec.frameRate = QStringLiteral("30000/1001");
        const QString second = QDir::toNativeSeparators(MakeClip(spec));
        QVERIFY(!first.isEmpty() && !second.isEmpty());

        // On the dialog: taken as a copy, opened without the file dialog.
        auto data = Files({FileUrl(first)});
        DropOutcome outcome = Drop(&dialog, *data);
        QVERIFY(outcome.entered);
        QVERIFY(outcome.dropped);
        QCOMPARE(outcome.action, Qt::CopyAction);
        QVERIFY(Opened(dialog, first));
        QVERIFY(environment.files.requests.isEmpty());
        QVERIFY2(environment.messages.boxes.isEmpty(),
                 qPrintable(environment.messages.texts().join('|')));
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(dialog.clipList[0].fileName, first);
        QCOMPARE(dialog.musicList.count, 1);
        QCOMPARE(dialog.musicList[0].fileName, first);
        QCOMPARE(dialog.endMark, 3 * kSecond);
        QCOMPARE(Text(dialog, MainDialogIds::kPositionDisplay),
                 QStringLiteral("00:00:00 / 00:00:03"));
        QCOMPARE(Text(dialog, MainDialogIds::kEndMarkDisplay), QStringLiteral("00:00:03"));
        QCOMPARE(dialog.outputSettings.outputWidth, 320);
        QCOMPARE(platform::SettingsStore().readString(QStringLiteral("Option"),
                                                      QStringLiteral("LastPhotoFolder"), QString()),
                 platform::FolderOf(first));
        QVERIFY(dialog.convertButton->isEnabled() && dialog.playButton->isEnabled());
        // The Open Video button still starts in the folder of the dropped file.
        environment.files.openAnswers.push_back(QString());
        dialog.OnOpenVideo();
        QCOMPARE(environment.files.requests.size(), 1);
        QCOMPARE(environment.files.requests[0].initialFolder, platform::FolderOf(first));

        // On the video window, several items: the first file opens, the rest is ignored.
        PreviewWindow* window = currentPlayer->m_hWnd;
        data = Files({FileUrl(QFileInfo(first).absolutePath()), FileUrl(second), FileUrl(first)});
        outcome = Drop(window, *data);
        QVERIFY(outcome.entered);
        QVERIFY(outcome.dropped);
        QVERIFY(Opened(dialog, second));
        QCOMPARE(dialog.clipList.count, 1);
        QCOMPARE(dialog.clipList[0].fileName, second);
        QCOMPARE(dialog.musicList[0].fileName, second);
        QCOMPARE(dialog.endMark, 2 * kSecond);
        QCOMPARE(Tip(dialog, MainDialogIds::kEndMarkDisplay),
                 QStringLiteral("00:00:02.000 (frame 59)"));  // 1.969 s to 2.002 s
        QVERIFY(currentPlayer->m_hWnd != window);
        QVERIFY(environment.messages.boxes.isEmpty());
    }

    void dragsThatNameNoFileOrComeTooSoonAreRefused() {
        TestEnvironment environment;
        ConverterDialog dialog;
        const QString clip = QDir::toNativeSeparators(SmallClip());
        QVERIFY(OpenVideo(dialog, environment, clip));
        dialog.OnPlay();
        PreviewPlayer* playing = currentPlayer;
        const auto unchanged = [&] {
            QCoreApplication::processEvents();
            return currentPlayer == playing && dialog.clipList.count == 1 &&
                   !dialog.openingVideo && environment.messages.boxes.isEmpty();
        };

        QMimeData text;
        text.setText(clip);
        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://example.com/clip.avi"))});
        const auto folder = Files({FileUrl(QFileInfo(clip).absolutePath())});
        for (const QMimeData* data : {&text, &web, folder.get()}) {
            for (QWidget* target : {static_cast<QWidget*>(&dialog),
                                    static_cast<QWidget*>(currentPlayer->m_hWnd)}) {
                const DropOutcome outcome = Drop(target, *data);
                QVERIFY(!outcome.entered);
                QVERIFY(!outcome.dropped);
            }
        }
        QVERIFY(unchanged());

        // A drag that offers only to move the file is not taken: the file would be lost.
        const auto file = Files({FileUrl(clip)});
        const DropOutcome moveOnly = Drop(&dialog, *file, Qt::MoveAction);
        QVERIFY(!moveOnly.entered);
        QVERIFY(!moveOnly.dropped);
        QVERIFY(unchanged());

        // While a file is being measured, drops wait as Open Video does.
        dialog.OpenVideoFile(clip);
        QVERIFY(dialog.openingVideo);
        const DropOutcome early = Drop(&dialog, *file);
        QVERIFY(!early.entered);
        QVERIFY(!early.dropped);
        QVERIFY(QTest::qWaitFor([&] { return !dialog.openingVideo; }, 15000));
        QCOMPARE(dialog.clipList.count, 1);
        playing = currentPlayer;

        // A file that is not a video gets Open Video's own message; the clip plays on.
        dialog.OnPlay();
        const auto sound = Files({FileUrl(AudioOnlyFile())});
        const DropOutcome refused = Drop(&dialog, *sound);
        QVERIFY(refused.dropped);
        QVERIFY(QTest::qWaitFor([&] { return !environment.messages.boxes.isEmpty(); }, 15000));
        QVERIFY(QTest::qWaitFor([&] { return !dialog.openingVideo; }, 15000));
        QCOMPARE(environment.messages.texts(),
                 QStringList{QStringLiteral("Can not get the duration of the clip!")});
        QCOMPARE(dialog.clipList.count, 0);
        QCOMPARE(currentPlayer, playing);
        QCOMPARE(currentPlayer->playState, Running);

        // A path longer than a stored name holds is refused before anything changes.
        environment.messages.clear();
        QString deep = environment.scratchPath(QString());
        for (int level = 0; level < 3; ++level) deep += QLatin1Char('/') + QString(90, QLatin1Char('d'));
        QVERIFY(QDir().mkpath(deep));
        const QString longName = deep + QStringLiteral("/clip.avi");
        QVERIFY(QFile::copy(clip, longName));
        const auto tooLong = Files({FileUrl(longName)});
        QVERIFY(Drop(&dialog, *tooLong).dropped);
        QVERIFY(QTest::qWaitFor([&] { return !environment.messages.boxes.isEmpty(); }, 5000));
        QVERIFY(environment.messages.boxes[0].text.contains(QStringLiteral("too long")));
        QVERIFY(!dialog.openingVideo);
        QCOMPARE(currentPlayer, playing);
    }
};

FRAMEWELL_TEST_MAIN(MarksAndDropsTest)
#include "test_marks_and_drops.moc"
