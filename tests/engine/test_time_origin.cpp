// One time origin: in every container the file's first picture is time 0 and frame 0, a span
// converts exactly its pictures with sound as long as they are, and a whole file converts every
// picture. From the command line and from marks set in the main dialog.

#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "app/converter_dialog.h"
#include "app/position_slider.h"
#include "media/core/frame_time.h"
#include "media/source/source_timing.h"
#include "platform/settings_store.h"
#include "player/player_test_support.h"
#include "player/preview_window.h"
#include "source_cases.h"
#include "support/avi_checks.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;
using media::FrameRate;

namespace {

QString Seconds(ReferenceTime t) {
    return QString::number(static_cast<double>(t) / kReferenceTimePerSecond, 'f', 7);
}

QList<int> Range(int first, int end) {
    QList<int> numbers;
    for (int n = first; n < end; ++n) numbers << n;
    return numbers;
}

}  // namespace

class TimeOriginTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;

    static void addCases() {
        QTest::addColumn<int>("index");
        const QList<SourceCase> cases = SourceCases();
        for (int i = 0; i < cases.size(); ++i) QTest::newRow(cases[i].name) << i;
    }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", environment.settingsFolder().toLocal8Bit()); }

    // Frame n starts at FrameStart(n), and a clip that long holds n frames: the marks, the
    // lengths and the output's frame count all count alike, at fractional rates too.
    void framesAndLengthsAgree() {
        for (const FrameRate rate : {FrameRate{25, 1}, FrameRate{30000, 1001},
                                     FrameRate{24000, 1001}, FrameRate{60000, 1001}}) {
            for (std::int64_t n = 0; n < 2000; n += 7) {
                QCOMPARE(media::FrameCount(media::FrameStart(n, rate), rate), n);
                QCOMPARE(media::FrameIndexAt(media::FrameStart(n, rate), rate), n);
            }
        }
        // A measured average takes the standard rate within 0.1%, and keeps its own beyond.
        QCOMPARE(media::SnapToStandardRate({456000, 15217}).numerator, 30000);
        QCOMPARE(media::SnapToStandardRate({2997, 100}).denominator, 1001);
        QCOMPARE(media::SnapToStandardRate({2990, 100}).numerator, 2990);
        QCOMPARE(media::SnapToStandardRate({15, 1}).numerator, 15);
    }

    void spansConvertExactlyFromTheCommandLine_data() { addCases(); }
    void spansConvertExactlyFromTheCommandLine() {
        QFETCH(int, index);
        const SourceCase source = SourceCases().at(index);
        const QString clip = MakeCounterClip(source.clip);
        QVERIFY(!clip.isEmpty());
        const QString output = environment.scratchPath(u"cli.avi"_s);

        // Pictures 31 to 72 (the end mark is where picture 73 starts).
        const ProcessResult span =
            RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH),
                       {u"--quiet"_s, u"--overwrite"_s, u"--video-compressor"_s, u"none"_s,
                        u"--audio-compressor"_s, u"none"_s, u"--start"_s,
                        Seconds(media::FrameStart(31, source.rate)), u"--end"_s,
                        Seconds(media::FrameStart(73, source.rate)), clip, output},
                       60000);
        QVERIFY2(span.exitCode == 0, span.standardError.constData());
        QCOMPARE(PictureNumbers(output), Range(31, 73));
        QString why;
        QVERIFY2(SoundFitsPictures(output, &why), qPrintable(why));

        // The whole file: every picture, at the source's own rate, and nothing said about it.
        const ProcessResult whole =
            RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH),
                       {u"--overwrite"_s, u"--video-compressor"_s, u"none"_s,
                        u"--audio-compressor"_s, u"none"_s, clip, output},
                       60000);
        QVERIFY2(whole.exitCode == 0, whole.standardError.constData());
        QVERIFY2(!whole.standardError.contains("warning"), whole.standardError.constData());
        QVERIFY2(whole.standardError.contains("the source's own"), whole.standardError.constData());
        QCOMPARE(PictureNumbers(output), Range(0, source.pictures));
        // The rate in the AVI header, which ffprobe gives as the average; its own guess is
        // r_frame_rate.
        const QJsonObject video = StreamOf(Probe(output), u"video"_s);
        for (const char* key : {"r_frame_rate", "avg_frame_rate"})
            QCOMPARE(video.value(QLatin1String(key)).toString(),
                     u"%1/%2"_s.arg(source.rate.numerator).arg(source.rate.denominator));
        QVERIFY2(SoundFitsPictures(output, &why), qPrintable(why));
    }

    // The dialog from opening to Convert: the displays start at 0 and the first frame, and
    // marks set on pictures 31 and 73 convert pictures 31 to 72.
    void marksSetInTheDialogConvertThePicturesMarked_data() { addCases(); }
    void marksSetInTheDialogConvertThePicturesMarked() {
        QFETCH(int, index);
        const SourceCase source = SourceCases().at(index);
        const QString clip = MakeCounterClip(source.clip);
        QVERIFY(!clip.isEmpty());
        TestEnvironment dialogEnvironment;
        // "Original frame rate"
        platform::SettingsStore().writeInt(u"Settings"_s, u"OutputFrameRateIndex"_s, 0);
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(player_tests::OpenVideo(dialog, dialogEnvironment, clip));
        QVERIFY2(dialogEnvironment.messages.boxes.isEmpty(),
                 qPrintable(dialogEnvironment.messages.texts().join('|')));
        QCOMPARE(dialog.marks().end, media::FrameStart(source.pictures, source.rate));
        player_tests::Tick(dialog);
        QVERIFY(DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)
                    ->text()
                    .startsWith(u"00:00:00 / "_s));
        QCOMPARE(DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider)->value(), 0);
        QCOMPARE(currentPlayer->LivePosition(), 0);

        // Home, then a frame step on: the first picture is frame 0 and the next frame 1.
        QTest::keyClick(currentPlayer->m_hWnd, Qt::Key_Home);
        DialogControl<QPushButton>(dialog, MainDialogIds::kStartTime)->click();
        QCOMPARE(dialog.marks().start, 0);
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->toolTip(),
                 u"00:00:00.000 (frame 0)"_s);
        QTest::keyClick(currentPlayer->m_hWnd, Qt::Key_Right);
        DialogControl<QPushButton>(dialog, MainDialogIds::kStartTime)->click();
        QCOMPARE(dialog.marks().start, media::FrameStart(1, source.rate));

        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(media::FrameMiddle(31, source.rate))));
        DialogControl<QPushButton>(dialog, MainDialogIds::kStartTime)->click();
        QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(media::FrameMiddle(73, source.rate))));
        DialogControl<QPushButton>(dialog, MainDialogIds::kEndTime)->click();
        QVERIFY2(
            DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)
                ->toolTip()
                .endsWith(u"(frame 31)"_s),
            qPrintable(DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->toolTip()));
        QVERIFY2(
            DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)
                ->toolTip()
                .endsWith(u"(frame 73)"_s),
            qPrintable(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->toolTip()));

        const QString output = dialogEnvironment.scratchPath(u"dialog.avi"_s);
        QVERIFY(ConvertUncompressedAndWait(dialog, output));
        QCOMPARE(PictureNumbers(output), Range(31, 73));
        QString why;
        QVERIFY2(SoundFitsPictures(output, &why), qPrintable(why));
    }
};

FRAMEWELL_TEST_MAIN(TimeOriginTest)
#include "test_time_origin.moc"
