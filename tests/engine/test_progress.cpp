// Progress of a conversion: the share and the time left fed with readings as a render gives
// them, the main dialog's bar, title and status line during real conversions, and
// framewell-convert's progress lines into a pipe and onto a terminal.

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cmath>

#include "app/converter_dialog.h"
#include "engine/conversion_engine.h"
#include "engine/conversion_progress.h"
#include "engine/conversion_runner.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;
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
    u"^ *(\\d+)%  +\\d+\\.\\d fps  Used Time: \\d\\d:\\d\\d:\\d\\d  "
    "Left: (\\d\\d:\\d\\d:\\d\\d|--:--:--)$"_s);

// Enough work for a few seconds: 40 s of 320x240 scaled up to four times the size.
QStringList slowConversion(const QString& source, const QString& output) {
    return {u"--size"_s,
            u"1280x960"_s,
            u"--video-compressor"_s,
            u"avenc_mpeg4"_s,
            u"--audio-compressor"_s,
            u"none"_s,
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
        QVERIFY(OpenVideoAndWait(*dialog, source));
        dialog->SetMarks({start, end});
        ChangeOutput(*dialog, [&](OutputSettings& settings) {
            settings.outputName = output;
            settings.outputWidth = 1280;
            settings.outputHeight = 960;
            settings.outputFrameRate = 25.0;
        });
    }
    QString status() const {
        return DialogControl<QLabel>(*dialog, MainDialogIds::kStatusLine)->text();
    }

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
        QCOMPARE(stopped.FramesPerSecond(25.0), 100.0 / 3);
    }

    void theTimeLeftWaitsForEnoughThenMovesSmoothly() {
        // 10% a second, first seen moving at 250 ms: two windows of one second later the pace
        // is known, and 7.75 s are left.
        ConversionProgress fast(seconds(100));
        runSteadily(fast, 10.0, 250, 2000);
        QVERIFY(!fast.RemainingSeconds());
        fast.Sample(milliseconds(2250), seconds(22.5));
        QVERIFY(std::fabs(*fast.RemainingSeconds() - 7.75) < 0.01);
        // 0.5% a second: 2% must have been converted since it began to move.
        ConversionProgress slow(seconds(200));
        runSteadily(slow, 1.0, 250, 4000);
        QVERIFY(!slow.RemainingSeconds());
        slow.Sample(milliseconds(4250), seconds(4.25));
        QVERIFY(std::fabs(*slow.RemainingSeconds() - 195.75) < 0.01);

        // A leap ahead draws the estimate toward what it suggests, not all the way at once.
        ConversionProgress leap(seconds(100));
        runSteadily(leap, 5.0, 250, 4000);  // 16 s left
        leap.Sample(milliseconds(4250), seconds(40));
        const double raw = 60.0 / ((40.0 - 11.25) / 2.0);  // at the last two seconds' pace
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
        QCOMPARE(ProgressStatusLine(3725, std::nullopt), u"Please wait... Used Time: 01:02:05"_s);
        // The time left rounds up, so that it reads 0 only when nothing is left.
        QCOMPARE(ProgressStatusLine(1, 11.2),
                 u"Please wait... Used Time: 00:00:01     Left: 00:00:12"_s);
        QVERIFY(ProgressStatusLine(1, -4.0).endsWith(u"Left: 00:00:00"_s));
        const QString unknown = ProgressConsoleLine(7, 87.46, 3, std::nullopt);
        QCOMPARE(unknown, u"  7%    87.5 fps  Used Time: 00:00:03  Left: --:--:--"_s);
        // Rewritten in place, a shorter line would leave the end of a longer one behind.
        QCOMPARE(ProgressConsoleLine(100, 1234.5, 59, 0.0).size(), unknown.size());
    }

    void theDialogShowsTheShareOfTheKnownLength() {
        QVERIFY(!DialogControl<QProgressBar>(*dialog, MainDialogIds::kProgressBar)->isVisible());
        const QString output = environment->scratchPath(u"dialog.avi"_s);
        open(2 * kSecond, 40 * kSecond, output);
        QList<std::tuple<qint64, int, QString>> seen;  // ms, bar, status while converting
        QElapsedTimer clock;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (!dialog->isConverting()) return;
            QVERIFY(DialogControl<QProgressBar>(*dialog, MainDialogIds::kProgressBar)->isVisible());
            const int value =
                DialogControl<QProgressBar>(*dialog, MainDialogIds::kProgressBar)->value();
            QCOMPARE(dialog->windowTitle(), u"%1% - Framewell"_s.arg(value));
            seen.push_back({clock.elapsed(), value, status()});
        });
        clock.start();
        watcher.start(100);
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(QTest::qWaitFor([this] { return status().startsWith(u"Done."_s); }, 90000));
        watcher.stop();
        QCOMPARE(dialog->progress().Length(), 38 * kSecond);
        QCOMPARE(dialog->progress().Percent(), 100);
        QVERIFY(!DialogControl<QProgressBar>(*dialog, MainDialogIds::kProgressBar)->isVisible());
        QCOMPARE(dialog->windowTitle(), u"Framewell"_s);

        QVERIFY2(seen.size() >= 15, qPrintable(QString::number(seen.size())));
        const qint64 first = std::get<0>(seen.first()), span = std::get<0>(seen.last()) - first;
        const QRegularExpression form(
            u"^Please wait\\.\\.\\. Used Time: \\d\\d:\\d\\d:\\d\\d(     Left: 00:(\\d\\d):(\\d\\d))?$"_s);
        int previous = 0, offPace = 0, withTimeLeft = 0;
        for (const auto& [ms, value, line] : seen) {
            QVERIFY(value >= previous && value <= 99);
            previous = value;
            // One pace all along: the share is roughly the share of the time taken.
            if (std::abs(value - 100.0 * double(ms - first) / double(span)) > 25.0) ++offPace;
            if (!line.startsWith(u"Please"_s)) continue;  // before the first tick
            const QRegularExpressionMatch match = form.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            if (!match.hasCaptured(1)) continue;
            // How near the estimate comes depends on the machine's pace, so its accuracy is
            // measured by bench_progress_refresh; here it only has to appear in its form.
            ++withTimeLeft;
        }
        QVERIFY2(offPace <= seen.size() / 4, qPrintable(QString::number(offPace)));
        QVERIFY(previous >= 75);
        // The estimate waits until the pace has settled, which on a machine busy with other
        // tests can take most of a short conversion.
        QVERIFY2(withTimeLeft > 0 || span < 10000, qPrintable(QString::number(span)));
        QCOMPARE(CountVideoFrames(output), 950);
    }

    void stoppedTheDialogIsIdleAgain() {
        // The dialog converted before: this conversion counts its time from nothing again.
        QString firstCount;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (firstCount.isEmpty() && status().startsWith(u"Please wait"_s))
                firstCount = status();
        });
        watcher.start(50);
        open(0, 40 * kSecond, environment->scratchPath(u"stopped.avi"_s));
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return dialog->isConverting() && !firstCount.isEmpty() &&
                       DialogControl<QProgressBar>(*dialog, MainDialogIds::kProgressBar)->value() >=
                           5;
            },
            30000));
        SaveScreenshot(dialog.get(), u"progress_running"_s);
        QVERIFY2(firstCount.startsWith(u"Please wait... Used Time: 00:00:01"_s),
                 qPrintable(firstCount));
        Press(
            *dialog,
            MainDialogIds::kConvert);  // Stop: the file is finished first, then the dialog is idle
        QVERIFY(QTest::qWaitFor([this] { return !dialog->isConverting(); }, 30000));
        QVERIFY(!DialogControl<QProgressBar>(*dialog, MainDialogIds::kProgressBar)->isVisible() &&
                dialog->progress().Percent() < 100);
        QCOMPARE(dialog->windowTitle(), u"Framewell"_s);
    }

    void theConverterWritesALineASecondIntoAPipeAndOneLineOnATerminal() {
        const QString convert = QStringLiteral(FRAMEWELL_CONVERT_PATH);
        const QString output = environment->scratchPath(u"piped.avi"_s);
        const ProcessResult piped = RunProcess(convert, slowConversion(source, output), 90000);
        QCOMPARE(piped.exitCode, 0);
        const QString log = QString::fromUtf8(piped.standardError);
        QVERIFY2(!log.contains(u'\r'), qPrintable(log));
        QList<int> percents;
        for (const QString& line : log.split(u'\n').filter(u" fps "_s)) {
            const QRegularExpressionMatch match = kConsoleLine.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            QVERIFY(percents.isEmpty() || match.captured(1).toInt() >= percents.last());
            percents << match.captured(1).toInt();
        }
        QVERIFY2(percents.size() >= 3 && percents.count(100) == 1 && percents.last() == 100,
                 qPrintable(log));
        QVERIFY(log.contains(QRegularExpression(u"Left: \\d\\d:\\d\\d:\\d\\d\n"_s)));

        QStringList quiet = slowConversion(source, environment->scratchPath(u"quiet.avi"_s));
        quiet << u"--quiet"_s << u"--end=2"_s;
        QVERIFY(!RunProcess(convert, quiet, 60000).standardError.contains("fps"));

        // script(1) gives the converter a terminal of its own, which ends lines with "\r\n".
        const QString script = QStandardPaths::findExecutable(u"script"_s);
        if (script.isEmpty()) QSKIP("script(1) is not installed");
        QStringList command{convert};
        command << slowConversion(source, environment->scratchPath(u"tty.avi"_s));
        for (QString& word : command) word = u'\'' + word + u'\'';
        const ProcessResult terminal =
            RunProcess(script, {u"-qec"_s, command.join(u' '), u"/dev/null"_s}, 90000);
        QCOMPARE(terminal.exitCode, 0);
        const QStringList lines = QString::fromUtf8(terminal.standardOutput)
                                      .replace(u"\r\n"_s, u"\n"_s)
                                      .split(u'\n')
                                      .filter(u" fps "_s);
        QCOMPARE(lines.size(), 1);
        const QStringList updates = lines.first().split(u'\r', Qt::SkipEmptyParts);
        QVERIFY2(updates.size() >= 4, qPrintable(lines.first()));
        for (const QString& update : updates) {
            QVERIFY2(kConsoleLine.match(update).hasMatch(), qPrintable(update));
            QCOMPARE(update.size(), updates.first().size());
        }
        QVERIFY(updates.last().startsWith(u"100%"_s));
    }
};

FRAMEWELL_TEST_MAIN(ProgressTest)
#include "test_progress.moc"
