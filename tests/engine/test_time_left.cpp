// The time left on recorded sequences of the render's position, as the main dialog and
// framewell-convert read it four times a second: it waits for the conversion's own pace, and
// the conversion's real end never cuts a value it showed by more than half.

#include <QtTest>

#include <cmath>
#include <optional>
#include <vector>

#include "engine/conversion_progress.h"
#include "support/test_main.h"

using std::chrono::milliseconds;

namespace {

struct Reading {
    int ms;          // since the graph began to run
    double seconds;  // the render's position; negative: the query failed
};

struct Recording {
    const char* name;
    double lengthSeconds;
    std::vector<Reading> readings;
    int endMs;  // when the conversion completed
};

// framewell-convert on this machine: 10 s of 1080p H.264 and AAC to VP8 and PCM. The graph
// runs from 0 ms; the render is first seen moving at 662 ms and goes faster after 2.4 s.
Recording RecordedVp8() {
    return {"recorded VP8 1080p",
            10.0,
            {{189, -1},    {424, -1},     {662, 0.04},  {911, 0.28},  {1158, 0.48},  {1411, 0.68},
             {1658, 0.88}, {1911, 1.12},  {2158, 1.36}, {2408, 1.64}, {2659, 2},     {2908, 2.36},
             {3158, 2.68}, {3408, 2.92},  {3658, 3.16}, {3909, 3.32}, {4158, 3.48},  {4408, 3.76},
             {4658, 4},    {4908, 4.24},  {5159, 4.48}, {5408, 4.76}, {5658, 5.04},  {5908, 5.2},
             {6158, 5.4},  {6408, 5.64},  {6658, 5.8},  {6909, 6},    {7158, 6.16},  {7408, 6.24},
             {7658, 6.36}, {7908, 6.56},  {8158, 6.84}, {8408, 7},    {8659, 7.24},  {8912, 7.44},
             {9158, 7.68}, {9411, 7.84},  {9658, 8.08}, {9911, 8.32}, {10158, 8.64}, {10411, 8.92},
             {10658, 9.2}, {10908, 9.48}, {11158, 9.8}},
            11304};
}

// The reported case: the pipeline crawls for its first two seconds (2% a second) and then
// converts half the length a second: done at 3.9 s. Read as a render gives it, in steps.
Recording SlowStartThenFast() {
    Recording recording{"slow start, then fast", 100.0, {}, 3900};
    double position = 0;
    for (int ms = 250; ms <= 3750; ms += 250) {
        const double pace = ms <= 750 ? 0.0 : ms <= 2000 ? 2.0 : 50.0;
        position = std::min(100.0, position + pace / 4);
        recording.readings.push_back({ms, ms <= 500 ? -1 : position});
    }
    return recording;
}

// A minute of media: a second of start-up, three seconds at a third of the pace, then a steady
// pace whose readings come unevenly (a tenth either way).
Recording SlowStartThenSteady() {
    Recording recording{"slow start, then steady", 60.0, {}, 0};
    const double unevenness[] = {1.1, 0.9, 1.0, 1.2, 0.8, 1.0};
    double position = 0;
    int ms = 250;
    for (int i = 0; position < 60.0; ++i, ms += 250) {
        const double pace = ms <= 1000 ? 0.0 : ms <= 4000 ? 1.0 / 3 : 1.0;
        position = std::min(60.0, position + pace / 4 * unevenness[i % 6]);
        recording.readings.push_back({ms, position});
    }
    recording.endMs = ms;
    return recording;
}

struct Shown {
    int ms;
    double seconds;
};

}  // namespace

class TimeLeftTest : public QObject {
    Q_OBJECT

private slots:
    void theTimeLeftIsTheConversionsOwn() {
        for (const Recording& recording :
             {RecordedVp8(), SlowStartThenFast(), SlowStartThenSteady()}) {
            const QString name = QString::fromLatin1(recording.name);
            ConversionProgress progress(
                std::llround(recording.lengthSeconds * kReferenceTimePerSecond));
            std::optional<int> firstMove;
            std::vector<Shown> shown;
            for (const Reading& reading : recording.readings) {
                std::optional<ReferenceTime> position;
                if (reading.seconds >= 0)
                    position = std::llround(reading.seconds * kReferenceTimePerSecond);
                if (!firstMove && reading.seconds > 0) firstMove = reading.ms;
                progress.Sample(milliseconds(reading.ms), position);
                if (const auto left = progress.RemainingSeconds()) {
                    shown.push_back({reading.ms, *left});
                    // Nothing before two seconds of the render's own progress.
                    QVERIFY2(reading.ms - *firstMove >= 2000, qPrintable(name));
                }
            }
            QString trace;
            for (const Shown& value : shown)
                if (value.ms % 1000 < 250)
                    trace += QStringLiteral(" %1 s: %2 (really %3);")
                                 .arg(value.ms / 1000.0, 0, 'f', 1)
                                 .arg(value.seconds, 0, 'f', 1)
                                 .arg((recording.endMs - value.ms) / 1000.0, 0, 'f', 1);
            qInfo().noquote() << name + QLatin1Char(':') + trace;

            // Whole seconds are shown, so a second is let through either way.
            for (std::size_t i = 0; i < shown.size(); ++i) {
                const double left = (recording.endMs - shown[i].ms) / 1000.0;
                QVERIFY2(shown[i].seconds <= 2 * left + 1, qPrintable(name + trace));
                if (i + 1 < shown.size()) {
                    const double passed = (shown[i + 1].ms - shown[i].ms) / 1000.0;
                    QVERIFY2(shown[i + 1].seconds + 1 >= (shown[i].seconds - passed) / 2,
                             qPrintable(name + trace));
                }
            }
            if (recording.endMs - *firstMove < 3000) {
                // Over before its pace could be known: no estimate at all.
                QVERIFY2(shown.empty(), qPrintable(name + trace));
            } else {
                // Known within a few seconds, and near the truth halfway through.
                QVERIFY2(!shown.empty() && shown.front().ms - *firstMove <= 6000,
                         qPrintable(name + trace));
                const Shown& halfway = shown[shown.size() / 2];
                const double left = (recording.endMs - halfway.ms) / 1000.0;
                QVERIFY2(std::fabs(halfway.seconds - left) <= 0.35 * left + 0.5,
                         qPrintable(name + trace));
            }
        }
    }
};

FRAMEWELL_TEST_MAIN(TimeLeftTest)
#include "test_time_left.moc"
