// Convert, Stop and the end of a conversion as the user sees them in the main dialog: the
// questions, the button's caption, the status line and the written file.

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QtTest>

#include <sys/resource.h>
#include <csignal>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "conversion_runner.h"
#include "engine/conversion_engine.h"
#include "platform/settings_store.h"
#include "support/avi_checks.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using platform::BoxAnswer;
using platform::BoxButtons;
using platform::BoxIcon;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

ClipSpec clipSpec(double seconds) {
    ClipSpec spec;
    spec.seconds = seconds;
    spec.width = 160;
    spec.height = 120;
    return spec;
}

// Limits the size of every file this process writes, for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a dead process
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace

class ConversionDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<ConverterDialog> dialog;
    QString shortClip;  // 3 s
    QString longClip;   // 60 s

    // What Open Video leaves behind for a file.
    void open(const QString& path, ReferenceTime start, ReferenceTime end, const QString& output) {
        OpenAsClip(path, dialog->clipList, dialog->musicList);
        dialog->startMark = start;
        dialog->endMark = end;
        OutputSettings& settings = dialog->outputSettings;
        settings.outputName = output;
        settings.sourceWidth = settings.outputWidth = 160;
        settings.sourceHeight = settings.outputHeight = 120;
        settings.sourceFrameRate = settings.outputFrameRate = 25.0;
        dialog->SetTransportEnabled(true);
    }
    QString status() const { return dialog->statusLine->text(); }
    QString caption() const { return dialog->convertButton->text(); }
    bool waitUntilRunning() {
        return QTest::qWaitFor([this] { return dialog->converting == 1; }, 30000);
    }
    bool waitForStatus(const QString& start) {
        return QTest::qWaitFor([&] { return status().startsWith(start); }, 60000);
    }

private slots:
    void initTestCase() {
        shortClip = MakeClip(clipSpec(3.0));
        longClip = MakeClip(clipSpec(60.0));
        QVERIFY(!shortClip.isEmpty() && !longClip.isEmpty());
    }

    void init() {
        environment = std::make_unique<TestEnvironment>();
        dialog = std::make_unique<ConverterDialog>();
        dialog->show();
        environment->messages.clear();
    }

    void cleanup() {
        dialog.reset();
        environment.reset();
    }

    void convertWithoutAVideoOnlySaysSo() {
        dialog->OnConvert();
        QCOMPARE(environment->messages.boxes.size(), 1);
        const platform::BoxRequest& box = environment->messages.boxes.first();
        QCOMPARE(box.text, QStringLiteral("Please open a video file first!"));
        QCOMPARE(box.caption, platform::ProgramBaseName());
        QCOMPARE(box.icon, BoxIcon::Exclamation);
        QCOMPARE(dialog->converting, 0);
        QVERIFY(!conversionEngine && !activeTimeline);
    }

    void answeringNoChangesNothing() {
        // An existing output file, and the answer No: it stays, nothing is built.
        const QString output = environment->scratchPath(QStringLiteral("existing.avi"));
        QFile file(output);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
        file.close();
        open(shortClip, 0, kSecond, output);
        environment->messages.answers = {BoxAnswer::No};
        dialog->OnConvert();
        QCOMPARE(environment->messages.boxes.size(), 1);
        const platform::BoxRequest& question = environment->messages.boxes.first();
        QCOMPARE(question.text, output + QStringLiteral(" exists. Do you want to replace it?"));
        QCOMPARE(question.caption, QStringLiteral("Warning"));
        QCOMPARE(question.buttons, BoxButtons::YesNo);
        QCOMPARE(question.icon, BoxIcon::Exclamation);
        QCOMPARE(question.owner, dialog.get());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
        QVERIFY(!conversionEngine && !activeTimeline);
        QCOMPARE(caption(), QStringLiteral("Convert"));

        // No video compressor, and the answer No to the warning.
        environment->messages.clear();
        dialog->outputSettings.outputName = environment->scratchPath(QStringLiteral("new.avi"));
        dialog->outputSettings.videoCompressionOn = 0;
        environment->messages.answers = {BoxAnswer::No};
        dialog->OnConvert();
        QCOMPARE(environment->messages.boxes.size(), 1);
        const platform::BoxRequest& warning = environment->messages.boxes.first();
        const QStringList lines = warning.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QStringLiteral("You do not select a video compressor in Options dialog. "
                                          "The output file will be very big."));
        QCOMPARE(lines[1],
                 QStringLiteral("Strongly recommend you to install DivX codec, then select "
                                "DivX as video compressor."));
        QVERIFY(lines[2].startsWith(QStringLiteral(
            "If there is no DivX codec on your system, please download it at http")));
        QCOMPARE(lines[3], QStringLiteral("Do you want to continue?"));
        QCOMPARE(warning.caption, QStringLiteral("Warning"));
        QCOMPARE(warning.buttons, BoxButtons::YesNo);
        QCOMPARE(warning.icon, BoxIcon::None);
        QVERIFY(!conversionEngine && !QFile::exists(dialog->outputSettings.outputName));
    }

    void theVideoBeingConvertedIsNeverReplaced() {
        const QString copy = environment->scratchPath(QStringLiteral("source.avi"));
        QVERIFY(QFile::copy(shortClip, copy));
        open(copy, 0, kSecond, copy);
        dialog->OnConvert();
        QCOMPARE(environment->messages.boxes.size(), 1);  // no question whether to replace it
        QVERIFY(environment->messages.texts().first().startsWith(
            QStringLiteral("The output file is the video being converted.")));
        QCOMPARE(QFileInfo(copy).size(), QFileInfo(shortClip).size());
        QVERIFY(!conversionEngine && !activeTimeline);
    }

    void elapsedTimeLineCountsSeconds() {
        dialog->OnTimer(PROGRESS_TIMER);
        QCOMPARE(status(), QStringLiteral("Please wait... Used Time: 00:00:01"));
        for (int tick = 1; tick < 3725; ++tick) dialog->OnTimer(PROGRESS_TIMER);
        QCOMPARE(status(), QStringLiteral("Please wait... Used Time: 01:02:05"));
        dialog->OnTimer(PROGRESS_TIMER + 1);  // not the conversion's timer
        QCOMPARE(dialog->elapsedSeconds, 3725);
    }

    void aConversionRunsAndReportsDone() {
        QVERIFY2(heldVideoCompressor && heldVideoCompressor->factoryName == "avenc_mpeg4",
                 "the default search finds the DivX compatible encoder");
        const QString output = environment->scratchPath(QStringLiteral("done.avi"));
        open(shortClip, kSecond, 3 * kSecond, output);
        dialog->elapsedSeconds = 41;  // from an earlier conversion's ticks
        dialog->OnConvert();
        dialog->OnConvert();  // pressed again while the graph is being set up: ignored
        QVERIFY(!dialog->convertButton->isEnabled());
        QVERIFY(waitUntilRunning());
        QCOMPARE(caption(), QStringLiteral("Stop"));
        QVERIFY(dialog->convertButton->isEnabled());
        QVERIFY(dialog->progressTimer.isActive());
        SaveScreenshot(dialog.get(), QStringLiteral("conversion_running"));

        QVERIFY(waitForStatus(QStringLiteral("Done.")));
        QCOMPARE(status(),
                 QStringLiteral("Done. Output File: %1     Resolution: 160*120").arg(output));
        SaveScreenshot(dialog.get(), QStringLiteral("conversion_done"));
        QCOMPARE(caption(), QStringLiteral("Convert"));
        QCOMPARE(dialog->converting, 0);
        QCOMPARE(dialog->elapsedSeconds, 0);
        QVERIFY(!dialog->progressTimer.isActive());
        QVERIFY(!conversionEngine && !activeTimeline);
        QVERIFY(environment->messages.boxes.isEmpty());
        QCOMPARE(CountVideoFrames(output), 50);
        QCOMPARE(StreamOf(Probe(output), QStringLiteral("video"))
                     .value(QLatin1String("codec_name"))
                     .toString(),
                 QStringLiteral("mpeg4"));
        QCOMPARE(dialog->clipList[0].transitionDuration, 0);
    }

    void stopFinishesAPlayableFile() {
        const QString output = environment->scratchPath(QStringLiteral("stopped.avi"));
        open(longClip, 0, 60 * kSecond, output);
        dialog->outputSettings.videoCompressionOn = 0;  // raw, and the warning answered Yes
        dialog->OnConvert();
        QVERIFY(waitUntilRunning());
        QVERIFY(QTest::qWaitFor(
            [] {
                return conversionEngine && conversionEngine->Position().value_or(0) >= 3 * kSecond;
            },
            30000));
        dialog->OnConvert();  // Stop
        QVERIFY(!dialog->progressTimer.isActive());
        QVERIFY(waitForStatus(QStringLiteral("Done.")));
        QCOMPARE(caption(), QStringLiteral("Convert"));
        QCOMPARE(dialog->converting, 0);
        const int frames = CountVideoFrames(output);
        QVERIFY2(frames >= 75 && frames < 1500, qPrintable(QString::number(frames)));
        // The index was written, and the last frame decodes to the right picture.
        QCOMPARE(StreamOf(Probe(output), QStringLiteral("video"))
                     .value(QLatin1String("nb_frames"))
                     .toString(),
                 QString::number(frames));
        QCOMPARE(SourceFrameAt(output, frames - 1), std::optional<int>((frames - 1) % 256));
        QCOMPARE(environment->messages.boxes.size(), 1);  // only the compressor warning
    }

    void anUnwritableFolderIsNoSuccess() {
        const QString summary = status();
        open(shortClip, 0, kSecond, QStringLiteral("/proc/framewell-no-such-folder/out.avi"));
        dialog->OnConvert();
        QVERIFY(QTest::qWaitFor([this] { return environment->messages.boxes.size() >= 2; }, 30000));
        QCOMPARE(environment->messages.texts().value(0),
                 QStringLiteral("can not pControl->Run()!!!"));
        QVERIFY(!environment->messages.texts().value(1).isEmpty());
        QCOMPARE(dialog->converting, 0);
        QCOMPARE(caption(), QStringLiteral("Convert"));
        QVERIFY(dialog->convertButton->isEnabled());
        QCOMPARE(status(), summary);
    }

    void aFailingGraphEndsTheConversion() {
        const QString output = environment->scratchPath(QStringLiteral("full.avi"));
        open(shortClip, 0, 3 * kSecond, output);
        dialog->outputSettings.videoCompressionOn = 0;
        FileSizeLimit limit(200 * 1024);  // room for a few raw frames, as a full disk leaves
        dialog->OnConvert();
        QVERIFY(waitForStatus(QStringLiteral("Conversion failed.")));
        QCOMPARE(status(), QStringLiteral("Conversion failed. Output File: %1").arg(output));
        QCOMPARE(environment->messages.boxes.size(), 2);  // the warning, then the failure
        const platform::BoxRequest& failure = environment->messages.boxes.last();
        QCOMPARE(failure.caption, platform::ProgramBaseName());
        QVERIFY2(failure.text.contains(QStringLiteral("File too large")), qPrintable(failure.text));
        QCOMPARE(caption(), QStringLiteral("Convert"));
        QCOMPARE(dialog->converting, 0);
        QVERIFY(!dialog->progressTimer.isActive());
        QVERIFY(!conversionEngine && !activeTimeline);
    }
};

FRAMEWELL_TEST_MAIN(ConversionDialogTest)
#include "test_conversion_dialog.moc"
