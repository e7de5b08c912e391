// Progress of a conversion: the share and the time left fed with readings as a render gives
// them, the main dialog's bar, title and status line during real conversions, and
// framewell-convert's progress lines into a pipe and onto a terminal.

#include <algorithm>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <cmath>

#include "app/converter_dialog.h"
#include "engine/conversion_engine.h"
#include "engine/conversion_progress.h"
#include "engine/conversion_runner.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using std::chrono::milliseconds;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

ReferenceTime seconds(double s) {
    return std::llround(s * kSecond);
}

// A render keeping one pace (timeline seconds per second), read every 250 ms.
void runSteadily(ConversionProgress& progress, double pace, int fromMs, int toMs) {
    for (int t = fromMs; t <= toMs; t += 250)
        progress.Sample(milliseconds(t), seconds(pace * t / 1000.0));
}

const QRegularExpression kConsoleLine(
    QStringLiteral("^ *(\\d+)%  +\\d+\\.\\d fps  Used Time: \\d\\d:\\d\\d:\\d\\d  "
                   "Left: (\\d\\d:\\d\\d:\\d\\d|--:--:--)$"));

// Enough work for a few seconds: 40 s of 320x240 scaled up to four times the size.
QStringList slowConversion(const QString& source, const QString& output) {
    return {QStringLiteral("--size"),
            QStringLiteral("1280x960"),
            QStringLiteral("--video-compressor"),
            QStringLiteral("avenc_mpeg4"),
            QStringLiteral("--audio-compressor"),
            QStringLiteral("none"),
            source,
            output};
}

}  // namespace

class ProgressTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<ConverterDialog> dialog;
    QString source;

    void open(ReferenceTime start, ReferenceTime end, const QString& output) {
        OpenAsClip(source, dialog->clipList, dialog->musicList);
        dialog->startMark = start;
        dialog->endMark = end;
        OutputSettings& settings = dialog->outputSettings;
        settings.outputName = output;
        settings.sourceWidth = 320;
        settings.sourceHeight = 240;
        settings.outputWidth = 1280;
        settings.outputHeight = 960;
        settings.sourceFrameRate = settings.outputFrameRate = 25.0;
        dialog->SetTransportEnabled(true);
    }
    QString status() const { return dialog->statusLine->text(); }

private slots:
    void initTestCase() {
        environment = std::make_unique<TestEnvironment>();
        // framewell-convert reads the dialog's settings branch: the test's, not a user's.
        qputenv("XDG_CONFIG_HOME", environment->settingsFolder().toLocal8Bit());
        ClipSpec spec;
        spec.seconds = 40.0;
        spec.width = 320;
        spec.height = 240;
        source = MakeClip(spec);
        QVERIFY(!source.isEmpty());
        dialog = std::make_unique<ConverterDialog>();
        dialog->show();
    }
    void cleanupTestCase() {
        dialog.reset();
        environment.reset();
    }

    void theShareNeverGoesBackAndReachesAllOnlyAtTheEnd() {
        ConversionProgress progress(seconds(10));
        progress.Sample(milliseconds(250), seconds(2.9));
        QCOMPARE(progress.Percent(), 29);                  // whole numbers: not 28
        progress.Sample(milliseconds(500), seconds(1));    // an older reading arriving late
        progress.Sample(milliseconds(750), std::nullopt);  // a failed query
        progress.Sample(milliseconds(600), seconds(5));    // a clock going back
        QCOMPARE(progress.Position(), seconds(2.9));
        progress.Sample(milliseconds(1000), seconds(12));  // reading the end is not the end
        QCOMPARE(progress.Percent(), 99);
        progress.Complete();
        progress.Interrupt();
        QCOMPARE(progress.Percent(), 100);

        ConversionProgress stopped(seconds(10));
        stopped.Sample(milliseconds(3000), seconds(4));
        stopped.Interrupt();
        stopped.Complete();  // the completion a stop's drain sends
        QCOMPARE(stopped.Percent(), 40);

        ConversionProgress unknown(0);
        unknown.Sample(milliseconds(5000), seconds(3));
        QVERIFY(unknown.Percent() == 0 && !unknown.RemainingSeconds());

        QCOMPARE(ConversionProgress(seconds(10)).FramesPerSecond(25.0), 0.0);
        progress = ConversionProgress(seconds(10));
        progress.Sample(milliseconds(2000), seconds(4));
        QCOMPARE(progress.FramesPerSecond(25.0), 50.0);
    }

    void theTimeLeftWaitsForEnoughThenMovesSmoothly() {
        // 10% a second: one second in is too early; two seconds in, 8 s are left.
        ConversionProgress fast(seconds(100));
        runSteadily(fast, 10.0, 250, 1750);
        QVERIFY(!fast.RemainingSeconds());
        fast.Sample(milliseconds(2000), seconds(20));
        QVERIFY(std::fabs(*fast.RemainingSeconds() - 8.0) < 0.01);
        // 0.5% a second: 1% is too little to go on, 2% is enough.
        ConversionProgress slow(seconds(200));
        runSteadily(slow, 1.0, 250, 3750);
        QVERIFY(!slow.RemainingSeconds());
        slow.Sample(milliseconds(4000), seconds(4));
        QVERIFY(std::fabs(*slow.RemainingSeconds() - 196.0) < 0.01);

        // A leap ahead draws the estimate toward what it suggests, not all the way at once.
        ConversionProgress leap(seconds(100));
        runSteadily(leap, 5.0, 250, 4000);  // 16 s left
        leap.Sample(milliseconds(4250), seconds(40));
        const double raw = 4.25 * 0.6 / 0.4;
        QVERIFY(*leap.RemainingSeconds() < 15.5 && *leap.RemainingSeconds() > (16.0 + raw) / 2);
        // A stall makes it grow, a little at a time.
        ConversionProgress stall(seconds(100));
        runSteadily(stall, 10.0, 250, 3000);  // 7 s left
        double last = *stall.RemainingSeconds();
        for (int t = 3250; t <= 8000; t += 250) {
            stall.Sample(milliseconds(t), seconds(30));
            QVERIFY(*stall.RemainingSeconds() - last < 1.0);
            last = *stall.RemainingSeconds();
        }
        QVERIFY(last > 10.0);
        // Reading past the end early: nothing left, never less.
        ConversionProgress early(seconds(10));
        runSteadily(early, 2.0, 250, 2000);
        early.Sample(milliseconds(2250), seconds(10.4));
        QCOMPARE(*early.RemainingSeconds(), 0.0);
    }

    void theTextsKeepTheirForms() {
        QCOMPARE(ProgressWindowTitle(42, QStringLiteral("Framewell")),
                 QStringLiteral("42% - Framewell"));
        QCOMPARE(ProgressStatusLine(3725, std::nullopt),
                 QStringLiteral("Please wait... Used Time: 01:02:05"));
        QCOMPARE(ProgressStatusLine(1, 11.2),
                 QStringLiteral("Please wait... Used Time: 00:00:01     Left: 00:00:12"));
        QCOMPARE(ProgressStatusLine(1, -4.0),
                 QStringLiteral("Please wait... Used Time: 00:00:01     Left: 00:00:00"));
        const QString unknown = ProgressConsoleLine(7, 87.46, 3, std::nullopt);
        QCOMPARE(unknown, QStringLiteral("  7%    87.5 fps  Used Time: 00:00:03  Left: --:--:--"));
        // Rewritten in place, a shorter line would leave the end of a longer one behind.
        QCOMPARE(ProgressConsoleLine(100, 1234.5, 59, 0.0).size(), unknown.size());
    }

    void theDialogShowsTheShareOfTheKnownLength() {
        QVERIFY(!dialog->progressBar->isVisible());
        const QString output = environment->scratchPath(QStringLiteral("dialog.avi"));
        open(2 * kSecond, 40 * kSecond, output);
        QList<std::tuple<qint64, int, QString>> seen;  // ms, bar, status while converting
        QElapsedTimer clock;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (dialog->converting != 1) return;
            QVERIFY(dialog->progressBar->isVisible());
            const int value = dialog->progressBar->value();
            QCOMPARE(dialog->windowTitle(), QStringLiteral("%1% - Framewell").arg(value));
            seen.push_back({clock.elapsed(), value, status()});
        });
        clock.start();
        watcher.start(100);
        dialog->OnConvert();
        QVERIFY(QTest::qWaitFor([this] { return status().startsWith(QStringLiteral("Done.")); },
                                90000));
        watcher.stop();
        QCOMPARE(dialog->conversionProgress.Length(), 38 * kSecond);
        QCOMPARE(dialog->conversionProgress.Percent(), 100);
        QVERIFY(!dialog->progressBar->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Framewell"));

        QVERIFY2(seen.size() >= 15, qPrintable(QString::number(seen.size())));
        const qint64 first = std::get<0>(seen.first()), span = std::get<0>(seen.last()) - first;
        const QRegularExpression form(
            QStringLiteral("^Please wait\\.\\.\\. Used Time: \\d\\d:\\d\\d:\\d\\d(     Left: "
                           "00:(\\d\\d):(\\d\\d))?$"));
        // How far the estimate may be off: a few seconds, more when a loaded or instrumented
        // machine makes the pace itself uneven.
        const double allowedError = std::max(4.0, 0.3 * double(span) / 1000.0);
        int previous = 0, offPace = 0, withTimeLeft = 0;
        for (const auto& [ms, value, line] : seen) {
            QVERIFY(value >= previous && value <= 99);
            previous = value;
            // One pace all along: the share is roughly the share of the time taken.
            if (std::abs(value - 100.0 * double(ms - first) / double(span)) > 25.0) ++offPace;
            if (!line.startsWith(QStringLiteral("Please"))) continue;  // before the first tick
            const QRegularExpressionMatch match = form.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            if (!match.hasCaptured(1)) continue;
            ++withTimeLeft;  // and near what really was left (the line is up to a second old)
            const int left = match.captured(2).toInt() * 60 + match.captured(3).toInt();
            QVERIFY2(std::abs(left - double(first + span - ms) / 1000.0) <= allowedError,
                     qPrintable(line));
        }
        QVERIFY2(offPace <= seen.size() / 4, qPrintable(QString::number(offPace)));
        QVERIFY(previous >= 75);
        QVERIFY(withTimeLeft > 0 || span < 3500);
        QCOMPARE(CountVideoFrames(output), 950);
    }

    void stoppedOrFailedTheDialogIsIdleAgain() {
        open(0, 40 * kSecond, environment->scratchPath(QStringLiteral("stopped.avi")));
        dialog->OnConvert();
        QVERIFY(QTest::qWaitFor(
            [this] { return dialog->converting == 1 && dialog->progressBar->value() >= 5; },
            30000));
        SaveScreenshot(dialog.get(), QStringLiteral("progress_running"));
        dialog->OnConvert();  // Stop: the file is finished first, then the dialog is idle
        QVERIFY(QTest::qWaitFor([this] { return dialog->converting == 0; }, 30000));
        QVERIFY(!dialog->progressBar->isVisible() && dialog->conversionProgress.Percent() < 100);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Framewell"));

        dialog->StartProgress();
        dialog->FailConversion(QStringLiteral("No space left on device"));
        QVERIFY(!dialog->progressBar->isVisible() && !dialog->progressRefreshTimer.isActive());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Framewell"));
    }

    void theConverterWritesALineASecondIntoAPipeAndOneLineOnATerminal() {
        const QString convert = QStringLiteral(FRAMEWELL_CONVERT_PATH);
        const QString output = environment->scratchPath(QStringLiteral("piped.avi"));
        const ProcessResult piped = RunProcess(convert, slowConversion(source, output), 90000);
        QCOMPARE(piped.exitCode, 0);
        const QString log = QString::fromUtf8(piped.standardError);
        QVERIFY2(!log.contains(QLatin1Char('\r')), qPrintable(log));
        QList<int> percents;
        for (const QString& line : log.split(QLatin1Char('\n')).filter(QStringLiteral(" fps "))) {
            const QRegularExpressionMatch match = kConsoleLine.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            QVERIFY(percents.isEmpty() || match.captured(1).toInt() >= percents.last());
            percents << match.captured(1).toInt();
        }
        QVERIFY2(percents.size() >= 3 && percents.count(100) == 1 && percents.last() == 100,
                 qPrintable(log));
        QVERIFY(log.contains(QRegularExpression(QStringLiteral("Left: \\d\\d:\\d\\d:\\d\\d\n"))));

        QStringList quiet =
            slowConversion(source, environment->scratchPath(QStringLiteral("quiet.avi")));
        quiet << QStringLiteral("--quiet") << QStringLiteral("--end=2");
        QVERIFY(!RunProcess(convert, quiet, 60000).standardError.contains("fps"));

        // script(1) gives the converter a terminal of its own, which ends lines with "\r\n".
        const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
        if (script.isEmpty()) QSKIP("script(1) is not installed");
        QStringList command{convert};
        command << slowConversion(source, environment->scratchPath(QStringLiteral("tty.avi")));
        for (QString& word : command) word = QLatin1Char('\'') + word + QLatin1Char('\'');
        const ProcessResult terminal = RunProcess(
            script,
            {QStringLiteral("-qec"), command.join(QLatin1Char(' ')), QStringLiteral("/dev/null")},
            90000);
        QCOMPARE(terminal.exitCode, 0);
        const QStringList lines = QString::fromUtf8(terminal.standardOutput)
                                      .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                      .split(QLatin1Char('\n'))
                                      .filter(QStringLiteral(" fps "));
        QCOMPARE(lines.size(), 1);
        const QStringList updates = lines.first().split(QLatin1Char('\r'), Qt::SkipEmptyParts);
        QVERIFY2(updates.size() >= 4, qPrintable(lines.first()));
        for (const QString& update : updates) {
            QVERIFY2(kConsoleLine.match(update).hasMatch(), qPrintable(update));
            QCOMPARE(update.size(), updates.first().size());
        }
        QVERIFY(updates.last().startsWith(QStringLiteral("100%")));
    }
};

FRAMEWELL_TEST_MAIN(ProgressTest)
#include "test_progress.moc"
