// Open Video and the transport of the main dialog on real clips: what an open leaves behind,
// the position display and slider after ticks, the marks, seeking by the slider, the end of
// the clip, refused files and closing the clip.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/converter_app.h"
#include "app/position_slider.h"
#include "app/program_arguments.h"
#include "controls/hover_button.h"
#include "platform/settings_store.h"
#include "player/preview_window.h"
#include "player_test_support.h"
#include "support/main_dialog_driver.h"
#include "support/picture_frames.h"
#include "support/test_main.h"

using testing_support::ChangeOutput;
using testing_support::DialogControl;
using testing_support::Press;

using namespace player_tests;
using namespace Qt::Literals::StringLiterals;
using testing_support::ClipSpec;
using testing_support::MakeClip;
using testing_support::TestEnvironment;

namespace {

constexpr ReferenceTime kSecond = 10'000'000;

bool TransportEnabled(ConverterDialog& dialog) {
    return DialogControl<HoverButton>(dialog, MainDialogIds::kConvert)->isEnabled() &&
           DialogControl<QPushButton>(dialog, MainDialogIds::kPlay)->isEnabled() &&
           DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->isEnabled() &&
           DialogControl<QPushButton>(dialog, MainDialogIds::kStartTime)->isEnabled();
}

}  // namespace

class OpenVideoTest : public QObject {
    Q_OBJECT

private slots:
    void openingAClipMakesItTheWholeProject() {
        TestEnvironment environment;
        platform::SettingsStore().writeInt(u"Settings"_s, u"OutputFrameRateIndex"_s, 2);  // "24"
        ClipSpec spec;
        spec.seconds = 3.5;
        spec.width = 720;
        spec.height = 576;
        const QString clip = MakeClip(spec);
        const QString folder = QFileInfo(clip).absolutePath() + '/';

        ConverterDialog dialog;
        dialog.show();
        QVERIFY(!TransportEnabled(dialog));
        QVERIFY(OpenVideo(dialog, environment, clip));
        QVERIFY2(environment.messages.boxes.isEmpty(),
                 qPrintable(environment.messages.texts().join('|')));
        QCOMPARE(environment.files.requests.front().initialFolder, QString());

        // Whole seconds for the clip, the exact length for the music and the end mark, so that
        // converting the marks as they stand writes every picture.
        QCOMPARE(dialog.videoClips().count, 1);
        QCOMPARE(dialog.videoClips()[0].fileName, clip);
        QCOMPARE(dialog.videoClips()[0].duration, 3 * kSecond);
        QCOMPARE(dialog.soundClips().count, 1);
        QCOMPARE(dialog.soundClips()[0].fileName, clip);
        QVERIFY(qAbs(dialog.soundClips()[0].duration - 35 * kSecond / 10) < kSecond / 20);
        QCOMPARE(dialog.marks().start, 0);
        QCOMPARE(dialog.marks().end, dialog.soundClips()[0].duration);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(),
                 u"00:00:00 / 00:00:03"_s);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->text(),
                 u"00:00:00"_s);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->text(),
                 u"00:00:03"_s);

        // The source size becomes the output size; the chosen rate "24" stays.
        const OutputSettings& output = dialog.settings();
        QCOMPARE(QSize(output.sourceWidth, output.sourceHeight), QSize(720, 576));
        QCOMPARE(QSize(output.outputWidth, output.outputHeight), QSize(720, 576));
        QCOMPARE(output.sourceFrameRate, 25.0);
        QCOMPARE(output.outputFrameRate, 24.0);
        QVERIFY(DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)
                    ->text()
                    .endsWith(u"     Resolution: 720*576"_s));
        QCOMPARE(platform::SettingsStore().readString(u"Option"_s, u"LastPhotoFolder"_s, {}),
                 folder);
        QVERIFY(TransportEnabled(dialog));
        QVERIFY(currentPlayer && currentPlayer->playState == Stopped);
        QCOMPARE(currentPlayer->clipName, clip);
        QCOMPARE(currentPlayer->m_hWnd->size(), QSize(720, 576));
        testing_support::SaveScreenshot(&dialog, u"main_dialog_clip_open"_s);

        // A second open starts in the remembered folder, replaces the one entry of each list
        // and puts the marks over the new clip; "Original frame rate" takes its rate.
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(2 * kSecond)));
        Press(dialog, MainDialogIds::kStartTime);
        QCOMPARE(dialog.marks().start, 2 * kSecond);
        spec = ClipSpec();
        spec.seconds = 2.0;
        spec.frameRate = u"30000/1001"_s;
        const QString second = MakeClip(spec);
        ChangeOutput(dialog, [&](OutputSettings& settings) { settings.frameRateIndex = 0; });
        QVERIFY(OpenVideo(dialog, environment, second));
        QCOMPARE(environment.files.requests.back().initialFolder, folder);
        QCOMPARE(currentPlayer->clipName, second);
        QCOMPARE(dialog.videoClips().count, 1);
        QCOMPARE(dialog.soundClips().count, 1);
        QCOMPARE(dialog.soundClips()[0].fileName, second);
        QCOMPARE(dialog.marks().start, 0);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->text(),
                 u"00:00:00"_s);
        QCOMPARE(output.outputWidth, 160);
        QVERIFY(qAbs(output.outputFrameRate - 29.97) < 0.001);

        // Cancelling the file dialog changes nothing.
        environment.files.openAnswers.push_back(QString());
        Press(dialog, MainDialogIds::kOpenVideo);
        QVERIFY(!dialog.isOpeningVideo());
        QCOMPARE(currentPlayer->clipName, second);
    }

    void clipShorterThanASecondHasNoWholeSecond() {
        TestEnvironment environment;
        ClipSpec spec;
        spec.seconds = 0.6;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, MakeClip(spec)));
        QCOMPARE(dialog.videoClips().count, 1);
        QCOMPARE(dialog.videoClips()[0].duration, 0);
        QCOMPARE(dialog.marks().end, dialog.soundClips()[0].duration);
        QVERIFY(dialog.soundClips()[0].duration > kSecond / 2);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(),
                 u"00:00:00 / 00:00:00"_s);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->text(),
                 u"00:00:00"_s);
    }

    void displaySliderAndMarksFollowTheTicks() {
        TestEnvironment environment;
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        Press(dialog, MainDialogIds::kEndTime);
        QCOMPARE(dialog.marks().end, 0);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->text(),
                 u"00:00:00"_s);

        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(2 * kSecond)));
        Tick(dialog);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(),
                 u"00:00:02 / 00:00:03"_s);
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(),
                 400);
        Press(dialog, MainDialogIds::kEndTime);
        QCOMPARE(dialog.marks().end, 2 * kSecond);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->text(),
                 u"00:00:02"_s);

        // A mark takes the picture on show at once, without waiting for the tick: 2.5 s shows
        // frame 62, which starts at 2.48 s. A start after the end is kept as pressed.
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(25 * kSecond / 10)));
        Press(dialog, MainDialogIds::kStartTime);
        QCOMPARE(dialog.marks().start, 248 * kSecond / 100);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->text(),
                 u"00:00:02"_s);
        QCOMPARE(dialog.marks().end, 2 * kSecond);
        Tick(dialog);
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(),
                 500);

        // Holding the thumb freezes the text and the thumb; releasing seeks.
        QTest::mousePress(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider),
                          Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(theApp()->sliderDragging, 1);
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(kSecond / 2)));
        DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)
            ->setValue(300);  // where the drag left the thumb
        Tick(dialog);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(),
                 u"00:00:02 / 00:00:03"_s);
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(),
                 300);
        QTest::mouseRelease(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider),
                            Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(theApp()->sliderDragging, 0);
        Tick(dialog);
        const ReferenceTime half = currentPlayer->stopPosition / 2;
        QVERIFY2(qAbs(currentPlayer->currentPosition - half) < kSecond / 20,
                 qPrintable(QString::number(currentPlayer->currentPosition)));
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(),
                 300);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(),
                 u"00:00:01 / 00:00:03"_s);

        // The keyboard moves the thumb without seeking; the next tick puts it back.
        DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->setFocus();
        QTest::keyClick(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider),
                        Qt::Key_End);
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(),
                 600);
        Tick(dialog);
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(),
                 300);
    }

    void playingToTheEndRewindsAndPlaysAgain() {
        TestEnvironment environment;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(26 * kSecond / 10)));
        QTest::mouseClick(DialogControl<QPushButton>(dialog, MainDialogIds::kPlay), Qt::LeftButton);
        QCOMPARE(currentPlayer->playState, Running);
        QTRY_COMPARE_WITH_TIMEOUT(currentPlayer->playState, Stopped, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(
            testing_support::PictureFrameNumber(currentPlayer->m_hWnd->picture()), 0, 5000);
        Tick(dialog);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(),
                 u"00:00:00 / 00:00:03"_s);
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(), 0);
        QTest::mouseClick(DialogControl<QPushButton>(dialog, MainDialogIds::kPlay), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT((Tick(dialog), currentPlayer->currentPosition > 0), 5000);
        QTest::mouseClick(DialogControl<QPushButton>(dialog, MainDialogIds::kPause),
                          Qt::LeftButton);
        QCOMPARE(currentPlayer->playState, Paused);
    }

    void refusedFilesLeaveThePreviousClipPlaying() {
        TestEnvironment environment;
        ConverterDialog dialog;
        ClipSpec longer;  // plays on through everything below
        longer.seconds = 30.0;
        QVERIFY(OpenVideo(dialog, environment, MakeClip(longer)));
        Press(dialog, MainDialogIds::kPlay);
        PreviewPlayer* playing = currentPlayer;

        // Sound only: the dialog's message alone. A corrupt file: the decoders' first.
        const QString noDuration = u"Can not get the duration of the clip!"_s;
        const QString cannotOpen =
            u"Cannot open the file. You need to install appropriate decoders.\n"
            u"Or the file is corrupt."_s;
        const QList<QPair<QString, QStringList>> refused = {
            {AudioOnlyFile(), {noDuration}}, {CorruptFile(environment), {cannotOpen, noDuration}}};
        for (const auto& [path, texts] : refused) {
            environment.messages.clear();
            QVERIFY(OpenVideo(dialog, environment, path));
            QCOMPARE(environment.messages.texts(), texts);
            QVERIFY(environment.messages.boxes.back().owner == &dialog);
            QCOMPARE(dialog.videoClips().count, 1);
            QCOMPARE(dialog.soundClips().count, 1);
            QCOMPARE(currentPlayer, playing);
            QCOMPARE(currentPlayer->playState, Running);
            QVERIFY(TransportEnabled(dialog));
            QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->text(),
                     u"00:00:30"_s);
        }

        // While a file is measured a second Open Video does not ask for another.
        const int asked = environment.files.requests.size();
        environment.files.openAnswers = {SmallClip(), SmallClip()};
        Press(dialog, MainDialogIds::kOpenVideo);
        Press(dialog, MainDialogIds::kOpenVideo);
        QCOMPARE(environment.files.requests.size(), asked + 1);
        QVERIFY(QTest::qWaitFor([&] { return !dialog.isOpeningVideo(); }, 15000));
    }

    // framewell FILE: a name relative to where the program started, among Qt's own options,
    // opens in the dialog with what Open Video makes of the same file, messages and all.
    void aFileOnTheCommandLineOpensAsOpenVideoOpensIt() {
        TestEnvironment environment;
        const QString clip = SmallClip();
        const QString started = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QFileInfo(clip).absolutePath()));
        const ProgramArguments arguments =
            ParseProgramArguments({u"-style"_s, u"fusion"_s, QFileInfo(clip).fileName()});
        QVERIFY(QDir::setCurrent(started));
        QCOMPARE(arguments.file, clip);

        const QStringList files = {arguments.file, AudioOnlyFile(),
                                   environment.scratchPath(u"gone.mpg"_s)};
        for (const QString& file : files) {
            QStringList chosenTexts;
            QString chosenClip;
            {
                ConverterDialog chosen;
                QVERIFY(OpenVideo(chosen, environment, file));
                chosenTexts = environment.messages.texts();
                if (chosen.videoClips().count == 1) chosenClip = chosen.videoClips()[0].fileName;
            }
            if (file == clip) QCOMPARE(chosenClip, clip);
            environment.messages.clear();

            // The program's own start, closed by the user once the file has been measured.
            ConverterApp program;
            program.startFile = file;
            QString startedClip;
            QElapsedTimer clock;
            clock.start();
            QTimer user;
            connect(&user, &QTimer::timeout, this, [&] {
                auto* dialog = qobject_cast<ConverterDialog*>(QApplication::activeModalWidget());
                if (!dialog || dialog->isOpeningVideo()) return;
                const bool done =
                    dialog->videoClips().count == 1 || !environment.messages.boxes.isEmpty();
                if (!done && clock.elapsed() < 15000) return;
                if (dialog->videoClips().count == 1) startedClip = dialog->videoClips()[0].fileName;
                dialog->reject();
            });
            user.start(20);
            QVERIFY(!program.InitInstance());
            QCOMPARE(environment.messages.texts(), chosenTexts);
            QCOMPARE(startedClip, chosenClip);
            environment.messages.clear();
        }
    }

    void closingTheWindowResetsEverything() {
        TestEnvironment environment;
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(kSecond)));
        Press(dialog, MainDialogIds::kStartTime);
        QVERIFY(
            !DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->toolTip().isEmpty());

        // The close box asks the dialog, which unloads the clip.
        QVERIFY(!currentPlayer->m_hWnd->close());
        QCoreApplication::sendPostedEvents(&dialog);
        QVERIFY(!currentPlayer);
        QCOMPARE(dialog.videoClips().count, 0);
        QCOMPARE(dialog.marks().start, 0);
        QCOMPARE(dialog.marks().end, 0);
        for (QLabel* mark : {DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay),
                             DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)}) {
            QCOMPARE(mark->text(), u"00:00:00"_s);
            QCOMPARE(mark->toolTip(), QString());
        }
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(), QString());
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(), 0);
        QVERIFY(!DialogControl<HoverButton>(dialog, MainDialogIds::kConvert)->isEnabled() &&
                !DialogControl<QPushButton>(dialog, MainDialogIds::kPlay)->isEnabled());

        // Without a player every transport command is ignored.
        Press(dialog, MainDialogIds::kPlay);
        Press(dialog, MainDialogIds::kPause);
        Press(dialog, MainDialogIds::kStop);
        Press(dialog, MainDialogIds::kStartTime);
        Press(dialog, MainDialogIds::kEndTime);
        // A position message still on its way finds no player either.
        platform::PostWindowMessage(&dialog, WM_POSITIONNOTIFY);
        DeliverPosted();
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)->text(), QString());

        QVERIFY(OpenVideo(dialog, environment, SmallClip()));
        QVERIFY(TransportEnabled(dialog) && currentPlayer);
    }
};

FRAMEWELL_TEST_MAIN(OpenVideoTest)
#include "test_open_video.moc"
