// The share converted and the time left, fed with readings as a render would give them: what
// the share may never do, when an estimate may first be given, how it follows the pace, and
// the texts that show them.

#include <QRegularExpression>
#include <QtTest>

#include <cmath>

#include "engine/conversion_progress.h"
#include "support/test_main.h"

namespace {

using std::chrono::milliseconds;

ReferenceTime seconds(double s) {
    return static_cast<ReferenceTime>(std::llround(s * kReferenceTimePerSecond));
}

// A render going at a steady pace (seconds of timeline per second), read every 250 ms.
void runSteadily(ConversionProgress& progress, double pace, int fromMs, int toMs) {
    for (int t = fromMs; t <= toMs; t += 250)
        progress.Sample(milliseconds(t), seconds(pace * t / 1000.0));
}

}  // namespace

class ProgressEstimateTest : public QObject {
    Q_OBJECT

private slots:
    void theShareNeverGoesBackNorPassesTheEnd() {
        ConversionProgress progress(seconds(10));
        QCOMPARE(progress.Percent(), 0);
        progress.Sample(milliseconds(250), seconds(2));
        QCOMPARE(progress.Percent(), 20);
        progress.Sample(milliseconds(500), seconds(1));  // an earlier reading arriving late
        QCOMPARE(progress.Position(), seconds(2));
        progress.Sample(milliseconds(750), std::nullopt);  // the query failed
        progress.Sample(milliseconds(1000), -5);
        QCOMPARE(progress.Position(), seconds(2));
        QCOMPARE(progress.Elapsed(), milliseconds(1000));
        progress.Sample(milliseconds(900), seconds(5));  // a clock going back is no reading
        QCOMPARE(progress.Position(), seconds(2));

        // Whole percent from whole numbers: 2.9 s of 10 s is 29%, not 28.
        progress.Sample(milliseconds(1250), seconds(2.9));
        QCOMPARE(progress.Percent(), 29);

        // Reading the end (or past it) is not the end: only the completion is.
        progress.Sample(milliseconds(1500), seconds(12));
        QCOMPARE(progress.Position(), seconds(10));
        QCOMPARE(progress.Share(), 1.0);
        QCOMPARE(progress.Percent(), 99);
        QVERIFY(progress.Running());
        progress.Complete();
        QCOMPARE(progress.Percent(), 100);
        QCOMPARE(*progress.RemainingSeconds(), 0.0);
        progress.Sample(milliseconds(2000), seconds(1));
        progress.Interrupt();
        QVERIFY(progress.Completed());
        QCOMPARE(progress.Percent(), 100);

        // Stopped halfway: the share stays where it was, even when the drain's completion follows.
        ConversionProgress stopped(seconds(10));
        stopped.Sample(milliseconds(3000), seconds(4));
        stopped.Interrupt();
        stopped.Sample(milliseconds(3250), seconds(6));
        stopped.Complete();
        QVERIFY(!stopped.Completed() && !stopped.Running());
        QCOMPARE(stopped.Percent(), 40);

        // An unknown length shows nothing rather than dividing by it.
        ConversionProgress unknown(0);
        unknown.Sample(milliseconds(5000), seconds(3));
        QCOMPARE(unknown.Percent(), 0);
        QCOMPARE(unknown.Share(), 0.0);
        QVERIFY(!unknown.RemainingSeconds());
        unknown.Complete();
        QCOMPARE(unknown.Percent(), 100);
    }

    void noEstimateBeforeThereIsEnoughToGoOn() {
        // Fast: 10% a second. A tenth of the way after one second is still too early to tell.
        ConversionProgress fast(seconds(100));
        runSteadily(fast, 10.0, 250, 1750);
        QVERIFY(fast.Percent() >= 17);
        QVERIFY(!fast.RemainingSeconds());
        fast.Sample(milliseconds(2000), seconds(20));
        QVERIFY(fast.RemainingSeconds());
        QVERIFY(std::fabs(*fast.RemainingSeconds() - 8.0) < 0.01);  // 2 s for 20%: 8 s for 80%

        // Slow: 0.5% a second. Two seconds in, 1% says nothing yet; 2% does.
        ConversionProgress slow(seconds(200));
        runSteadily(slow, 1.0, 250, 3750);
        QVERIFY(!slow.RemainingSeconds());
        slow.Sample(milliseconds(4000), seconds(4));
        QVERIFY(slow.RemainingSeconds());
        QVERIFY(std::fabs(*slow.RemainingSeconds() - 196.0) < 0.01);

        // Nothing moving at all: no estimate, however long it runs.
        ConversionProgress stuck(seconds(10));
        for (int t = 250; t <= 30000; t += 250) stuck.Sample(milliseconds(t), std::nullopt);
        QVERIFY(!stuck.RemainingSeconds());
    }

    void theEstimateFollowsThePaceSmoothlyAndStaysPositive() {
        // A steady pace: the estimate counts down with the clock.
        ConversionProgress steady(seconds(60));
        runSteadily(steady, 6.0, 250, 2000);
        double before = *steady.RemainingSeconds();
        for (int t = 2250; t <= 9000; t += 250) {
            steady.Sample(milliseconds(t), seconds(6.0 * t / 1000.0));
            const double now = *steady.RemainingSeconds();
            QVERIFY2(now <= before + 1e-9, qPrintable(QString::number(t)));
            QVERIFY(std::fabs(now - (10.0 - t / 1000.0)) < 0.05);
            before = now;
        }

        // The render leaps ahead once (a burst of easy frames): the estimate moves toward what
        // the leap suggests, not all the way in one reading.
        ConversionProgress leap(seconds(100));
        runSteadily(leap, 5.0, 250, 4000);  // 20% in 4 s: 16 s left
        const double settled = *leap.RemainingSeconds();
        QVERIFY(std::fabs(settled - 16.0) < 0.05);
        leap.Sample(milliseconds(4250), seconds(40));
        const double raw = 4.25 * 0.6 / 0.4;  // what the whole run's pace now says: 6.4 s
        const double smoothed = *leap.RemainingSeconds();
        QVERIFY2(smoothed < settled - 0.25 && smoothed > raw + 0.5 * (settled - raw),
                 qPrintable(QString::number(smoothed)));

        // The render stalls for five seconds: the estimate grows, but a little at a time.
        ConversionProgress stall(seconds(100));
        runSteadily(stall, 10.0, 250, 3000);  // 30% in 3 s
        double last = *stall.RemainingSeconds();
        for (int t = 3250; t <= 8000; t += 250) {
            stall.Sample(milliseconds(t), seconds(30));
            const double now = *stall.RemainingSeconds();
            QVERIFY2(now - last < 1.0, qPrintable(QString::number(t)));
            last = now;
        }
        QVERIFY(last > 10.0);  // the run's pace has halved, and the estimate shows it

        // Readings jumping about, the end read early: never negative, 0 once the end is read.
        ConversionProgress jumpy(seconds(10));
        const double positions[] = {0.3, 0.1, 2.0, 1.5, 2.1, 6.0, 5.0, 9.9, 10.4, 10.0};
        int t = 2000;
        for (double position : positions) {
            jumpy.Sample(milliseconds(t += 250), seconds(position));
            if (jumpy.RemainingSeconds()) QVERIFY(*jumpy.RemainingSeconds() >= 0.0);
        }
        QCOMPARE(*jumpy.RemainingSeconds(), 0.0);
        QCOMPARE(jumpy.Percent(), 99);
    }

    void framesPerSecondAreFramesConvertedOverTheTimeTaken() {
        ConversionProgress progress(seconds(10));
        QCOMPARE(progress.FramesPerSecond(25.0), 0.0);  // no time yet: no pace, no division
        progress.Sample(milliseconds(2000), seconds(4));
        QCOMPARE(progress.FramesPerSecond(25.0), 50.0);  // 100 frames in 2 s
        QCOMPARE(progress.FramesPerSecond(30000.0 / 1001.0) * 2.0, 4.0 * 30000.0 / 1001.0);
        QCOMPARE(progress.FramesPerSecond(0.0), 0.0);
        QCOMPARE(progress.FramesPerSecond(std::nan("")), 0.0);
    }

    void theTextsKeepTheirForms() {
        QCOMPARE(ProgressWindowTitle(42, QStringLiteral("Framewell")),
                 QStringLiteral("42% - Framewell"));
        QCOMPARE(ProgressWindowTitle(0, QStringLiteral("Framewell")),
                 QStringLiteral("0% - Framewell"));

        // The elapsed-time line is unchanged while nothing is known, and stays a prefix after.
        QCOMPARE(ProgressStatusLine(65, std::nullopt),
                 QStringLiteral("Please wait... Used Time: 00:01:05"));
        QCOMPARE(ProgressStatusLine(3725, 12.0),
                 QStringLiteral("Please wait... Used Time: 01:02:05     Left: 00:00:12"));
        QCOMPARE(ProgressStatusLine(1, 11.2),
                 QStringLiteral("Please wait... Used Time: 00:00:01     Left: 00:00:12"));
        QCOMPARE(ProgressStatusLine(1, 0.0),
                 QStringLiteral("Please wait... Used Time: 00:00:01     Left: 00:00:00"));
        QCOMPARE(ProgressStatusLine(1, -4.0),
                 QStringLiteral("Please wait... Used Time: 00:00:01     Left: 00:00:00"));
        QCOMPARE(ProgressStatusLine(1, 1e30),
                 QStringLiteral("Please wait... Used Time: 00:00:01     Left: 999:00:00"));

        const QString unknown = ProgressConsoleLine(7, 87.46, 3, std::nullopt);
        const QString known = ProgressConsoleLine(42, 87.46, 3, 4.1);
        QCOMPARE(unknown, QStringLiteral("  7%    87.5 fps  Used Time: 00:00:03  Left: --:--:--"));
        QCOMPARE(known, QStringLiteral(" 42%    87.5 fps  Used Time: 00:00:03  Left: 00:00:05"));
        // Rewritten in place, a shorter line would leave the end of the longer one behind.
        QCOMPARE(unknown.size(), known.size());
        QCOMPARE(ProgressConsoleLine(100, 1234.5, 59, 0.0).size(), known.size());
        QCOMPARE(ProgressConsoleLine(5, std::nan(""), 0, std::nullopt),
                 QStringLiteral("  5%     0.0 fps  Used Time: 00:00:00  Left: --:--:--"));
    }
};

FRAMEWELL_TEST_MAIN(ProgressEstimateTest)
#include "test_progress_estimate.moc"
