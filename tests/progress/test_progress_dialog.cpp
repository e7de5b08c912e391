// The main dialog's progress during real conversions: the bar and the title against the
// conversion's known length and the time it really took, the time left in the status line,
// and what is left of them when the conversion ends, is stopped or fails.

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include "app/converter_dialog.h"
#include "engine/conversion_engine.h"
#include "engine/conversion_runner.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

// What the user could see at one moment of a conversion.
struct Glimpse {
    qint64 atMs = 0;
    bool converting = false;
    bool barVisible = false;
    int barValue = 0;
    QString title;
    QString status;
};

}  // namespace

class ProgressDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<ConverterDialog> dialog;
    QString source;  // 40 s, 320x240: a few seconds to convert at four times the size

    void open(ReferenceTime start, ReferenceTime end, const QString& output) {
        OpenAsClip(source, dialog->clipList, dialog->musicList);
        dialog->startMark = start;
        dialog->endMark = end;
        OutputSettings& settings = dialog->outputSettings;
        settings.outputName = output;
        settings.sourceWidth = 320;
        settings.sourceHeight = 240;
        // Upscaling makes every frame cost enough for the render to take a few seconds.
        settings.outputWidth = 1280;
        settings.outputHeight = 960;
        settings.sourceFrameRate = settings.outputFrameRate = 25.0;
        dialog->SetTransportEnabled(true);
    }

    // Watches the dialog from Convert until it is idle again (or the bound).
    QList<Glimpse> watchConversion(int boundMs = 90000) {
        QList<Glimpse> seen;
        QElapsedTimer clock;
        clock.start();
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            seen.push_back({clock.elapsed(), dialog->converting == 1,
                            dialog->progressBar->isVisible(), dialog->progressBar->value(),
                            dialog->windowTitle(), dialog->statusLine->text()});
        });
        watcher.start(100);
        dialog->OnConvert();
        const bool ended = QTest::qWaitFor(
            [&] { return clock.elapsed() > 500 && dialog->converting == 0 && !conversionEngine; },
            boundMs);
        if (!ended) seen.clear();  // the checks then say that nothing was seen
        return seen;
    }

private slots:
    void initTestCase() {
        ClipSpec spec;
        spec.seconds = 40.0;
        spec.width = 320;
        spec.height = 240;
        source = MakeClip(spec);
        QVERIFY(!source.isEmpty());
    }

    void init() {
        environment = std::make_unique<TestEnvironment>();
        dialog = std::make_unique<ConverterDialog>();
        dialog->show();
    }

    void cleanup() {
        dialog.reset();
        environment.reset();
    }

    void theShareFollowsTheConversionToItsEnd() {
        QVERIFY(dialog->progressBar);
        QVERIFY(!dialog->progressBar->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Framewell"));

        const QString output = environment->scratchPath(QStringLiteral("progress.avi"));
        open(2 * kSecond, 40 * kSecond, output);
        const QList<Glimpse> seen = watchConversion();
        QVERIFY2(dialog->statusLine->text().startsWith(QStringLiteral("Done.")),
                 qPrintable(dialog->statusLine->text()));
        QVERIFY(environment->messages.boxes.isEmpty());

        // The share was measured against the span between the marks.
        QCOMPARE(dialog->conversionProgress.Length(), 38 * kSecond);
        QVERIFY(dialog->conversionProgress.Completed());
        QCOMPARE(dialog->conversionProgress.Percent(), 100);

        QList<Glimpse> running;
        for (const Glimpse& glimpse : seen)
            if (glimpse.converting) running.push_back(glimpse);
        QVERIFY2(running.size() >= 15, qPrintable(QString::number(running.size())));
        const qint64 firstMs = running.first().atMs;
        const qint64 lastMs = running.last().atMs;

        const QRegularExpression statusForm(
            QStringLiteral("^Please wait\\.\\.\\. Used Time: (\\d\\d):(\\d\\d):(\\d\\d)"
                           "(     Left: (\\d\\d):(\\d\\d):(\\d\\d))?$"));
        int previous = 0;
        int withTimeLeft = 0;
        int farFromThePace = 0;
        for (const Glimpse& glimpse : running) {
            const QString at = QStringLiteral("at %1 ms").arg(glimpse.atMs);
            QVERIFY2(glimpse.barVisible, qPrintable(at));
            QVERIFY2(glimpse.barValue >= previous, qPrintable(at));  // never back
            QVERIFY2(glimpse.barValue <= 99, qPrintable(at));        // 100 only at the end
            QCOMPARE(glimpse.title, QStringLiteral("%1% - Framewell").arg(glimpse.barValue));
            previous = glimpse.barValue;
            if (glimpse.status.isEmpty() || !glimpse.status.startsWith(QStringLiteral("Please")))
                continue;  // before the first tick the line still shows the output summary
            const QRegularExpressionMatch match = statusForm.match(glimpse.status);
            QVERIFY2(match.hasMatch(), qPrintable(glimpse.status));
            if (match.hasCaptured(4)) {
                ++withTimeLeft;
                // Within a few seconds of what really was left (the line is up to a second old).
                const int left = match.captured(5).toInt() * 3600 + match.captured(6).toInt() * 60 +
                                 match.captured(7).toInt();
                const double reallyLeft = double(lastMs - glimpse.atMs) / 1000.0;
                QVERIFY2(std::abs(left - reallyLeft) <= 3.0, qPrintable(glimpse.status));
            }
            // Roughly the share of the time the conversion took: the render keeps one pace.
            const double shareOfTime =
                double(glimpse.atMs - firstMs) / double(std::max<qint64>(1, lastMs - firstMs));
            if (std::abs(glimpse.barValue - 100.0 * shareOfTime) > 20.0) ++farFromThePace;
        }
        QVERIFY2(farFromThePace <= running.size() / 5, qPrintable(QString::number(farFromThePace)));
        QVERIFY2(previous >= 75, qPrintable(QString::number(previous)));  // the end came in view
        QVERIFY2(withTimeLeft > 0 || lastMs - firstMs < 3500,
                 "a conversion of several seconds shows the time left");

        // Idle again: no bar, the plain title.
        QVERIFY(!dialog->progressBar->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Framewell"));
        QCOMPARE(CountVideoFrames(output), 950);  // the known length, all of it
    }

    void aStoppedOrFailedConversionLeavesNoProgressBehind() {
        const QString output = environment->scratchPath(QStringLiteral("stopped.avi"));
        open(0, 40 * kSecond, output);
        dialog->OnConvert();
        QVERIFY(QTest::qWaitFor([this] { return dialog->progressBar->value() >= 5; }, 30000));
        QVERIFY(dialog->progressBar->isVisible());
        QVERIFY(dialog->windowTitle().endsWith(QStringLiteral("% - Framewell")));
        SaveScreenshot(dialog.get(), QStringLiteral("progress_running"));
        dialog->OnConvert();  // Stop
        QVERIFY(QTest::qWaitFor(
            [this] { return dialog->statusLine->text().startsWith(QStringLiteral("Done.")); },
            30000));
        QVERIFY(!dialog->progressBar->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Framewell"));
        QVERIFY(!dialog->conversionProgress.Completed());
        QVERIFY(dialog->conversionProgress.Percent() < 100);

        // A second conversion starts from nothing.
        const QString again = environment->scratchPath(QStringLiteral("again.avi"));
        open(0, 2 * kSecond, again);
        dialog->OnConvert();
        QVERIFY(QTest::qWaitFor([this] { return dialog->converting == 1; }, 30000));
        QVERIFY(dialog->conversionProgress.Percent() < 100);
        QCOMPARE(dialog->conversionProgress.Length(), 2 * kSecond);
        QVERIFY(QTest::qWaitFor([this] { return dialog->converting == 0; }, 30000));
        QCOMPARE(dialog->conversionProgress.Percent(), 100);

        // A graph that fails on its way.
        dialog->StartProgress();
        QVERIFY(dialog->progressBar->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("0% - Framewell"));
        dialog->FailConversion(QStringLiteral("No space left on device"));
        QVERIFY(!dialog->progressBar->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Framewell"));
        QVERIFY(!dialog->progressRefreshTimer.isActive());
        QVERIFY(dialog->statusLine->text().startsWith(QStringLiteral("Conversion failed.")));
    }
};

FRAMEWELL_TEST_MAIN(ProgressDialogTest)
#include "test_progress_dialog.moc"
