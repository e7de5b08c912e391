// Whole conversions of short generated clips, checked in the written AVI with ffprobe: what
// the user gets from Convert, without the dialog.

#include <QFile>
#include <QtTest>

#include <cmath>

#include "engine/conversion_runner.h"
#include "media/core/media_framework.h"
#include "support/avi_checks.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

ClipSpec clipSpec(double seconds, int width = 160, int height = 120) {
    ClipSpec spec;
    spec.seconds = seconds;
    spec.width = width;
    spec.height = height;
    return spec;
}

}  // namespace

class RenderTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;
    QString source;  // 4 s, 320x240 at 25 fps, stereo 44.1 kHz

    ConversionJob job(const QString& outputName, ReferenceTime start, ReferenceTime end) const {
        ConversionJob job;
        job.source = source;
        job.startMark = start;
        job.endMark = end;
        job.output = environment.scratchPath(outputName);
        job.settings.outputWidth = 160;
        job.settings.outputHeight = 120;
        job.settings.outputFrameRate = 25.0;
        return job;
    }

private slots:
    void initTestCase() {
        QCOMPARE(media::StartMediaFramework(), S_OK);
        source = MakeClip(clipSpec(4.0, 320, 240));
        QVERIFY(!source.isEmpty());
    }

    void init() { environment.messages.clear(); }

    void uncompressedOutputIsUprightBgrAndPcm() {
        const ConversionJob raw = job(u"raw.avi"_s, kSecond, 3 * kSecond);
        const ConversionOutcome outcome = RunConversion(raw);
        QVERIFY2(outcome.completed(), qPrintable(outcome.eventTexts.join(u';')));
        QVERIFY(outcome.encoders.isEmpty());  // no compressor sits in the graph
        QCOMPARE(outcome.duration, 2 * kSecond);
        QCOMPARE(StreamSummary(raw.output),
                 u"rawvideo [0][0][0][0] bgr24 160x120 25/1 50 frames | pcm_s16le 44100 Hz 2 ch"_s);
        QCOMPARE(SourceFrameAt(raw.output, 0), std::optional<int>(25));
        QCOMPARE(SourceFrameAt(raw.output, 49), std::optional<int>(74));
        QVERIFY(std::fabs(DecodedAudioSeconds(raw.output) - 2.0) <= 0.04);
        QVERIFY(LongestSingleStreamRun(raw.output) < 1.0);

        // The bitmap rows are stored bottom-up; a reader must still see the top on top.
        ConversionJob upright = job(u"upright.avi"_s, 0, kSecond);
        upright.source = MakeTopWhiteClip(160, 120, 1.0);
        QVERIFY(RunConversion(upright).completed());
        QVERIFY(MeanGrey(upright.output, 0, 0.1, 0.1, 0.9, 0.4).value_or(0) > 200);
        QVERIFY(MeanGrey(upright.output, 0, 0.1, 0.6, 0.9, 0.9).value_or(255) < 40);
    }

    void compressedOutputIsInterleavedMpeg4AndMp3WithCodecSettings() {
        ConversionJob compressed = job(u"mpeg4.avi"_s, kSecond, 3 * kSecond + kSecond / 2);
        compressed.graph.videoCompressionOn = compressed.graph.audioCompressionOn = 1;
        compressed.graph.videoCompressor = Compressor("avenc_mpeg4", media::EncoderKind::Video);
        compressed.graph.audioCompressor = Compressor("lamemp3enc", media::EncoderKind::Audio);
        // Stored codec settings: one key frame in all, where the encoder's own defaults would
        // put one every 12 frames and at every scene change (this picture changes each frame).
        compressed.graph.videoProperties = {{"gop-size", "250"}, {"sc-threshold", "1000000000"}};
        const ConversionOutcome outcome = RunConversion(compressed);
        QVERIFY2(outcome.completed(), qPrintable(outcome.eventTexts.join(u';')));
        QCOMPARE(outcome.encoders, (QStringList{u"avenc_mpeg4"_s, u"lamemp3enc"_s}));

        // 63 frames: ceil(2.5 s x 25).
        QCOMPARE(StreamSummary(compressed.output),
                 u"mpeg4 DIVX yuv420p 160x120 25/1 63 frames | mp3 44100 Hz 2 ch"_s);
        QCOMPARE(SourceFrameAt(compressed.output, 0), std::optional<int>(25));
        QVERIFY(std::fabs(DecodedAudioSeconds(compressed.output) - 2.52) <=
                0.07);  // + an MP3 frame
        // Without the encoder's timestamps restored all audio would come before the video.
        const double run = LongestSingleStreamRun(compressed.output);
        QVERIFY2(run < 1.0, qPrintable(QString::number(run)));
        QCOMPARE(KeyFrameCount(compressed.output), 1);
    }

    void frameRatesAndMarksGiveExactFrames() {
        struct Case {
            double rate;
            ReferenceTime start, end;
            const char* rational;
            int frames, firstSourceFrame;
        };
        const Case cases[] = {
            {23.976, kSecond, 3 * kSecond + kSecond / 2, "24000/1001", 60, 25},  // ceil(59.94)
            {12.5, kSecond / 2, 2 * kSecond + kSecond / 2, "25/2", 25, 12},
            {25.0, 14'500'000, 2 * kSecond, "25/1", 14, 36},  // 1.45 s to 2.0 s: ceil(13.75)
        };
        for (const Case& c : cases) {
            ConversionJob rated = job(u"rate_%1.avi"_s.arg(c.rate), c.start, c.end);
            rated.settings.outputFrameRate = c.rate;
            QVERIFY(RunConversion(rated).completed());
            QVERIFY2(
                StreamSummary(rated.output)
                    .contains(u" %1 %2 frames |"_s.arg(QLatin1String(c.rational)).arg(c.frames)),
                qPrintable(StreamSummary(rated.output)));
            QCOMPARE(SourceFrameAt(rated.output, 0), std::optional<int>(c.firstSourceFrame));
        }
    }

    void preserveAspectLetterboxesAndStretchFills() {
        // A 4:3 picture in a wide frame: bars at the sides, or the picture pulled wide.
        ConversionJob preserve = job(u"preserve.avi"_s, kSecond, 2 * kSecond);
        preserve.settings.outputWidth = 320;
        ConversionJob stretch = preserve;
        stretch.output = environment.scratchPath(u"stretch.avi"_s);
        stretch.settings.resizeMode = kResizeStretch;
        QVERIFY(RunConversion(preserve).completed());
        QVERIFY(RunConversion(stretch).completed());
        // Source frame 25 is light (152) on the left, dark (24) on the right.
        QVERIFY(MeanGrey(preserve.output, 0, 0.0, 0.2, 0.15, 0.8).value_or(255) < 20);
        QVERIFY(MeanGrey(preserve.output, 0, 0.3, 0.2, 0.45, 0.8).value_or(0) > 120);
        QVERIFY(MeanGrey(stretch.output, 0, 0.0, 0.2, 0.15, 0.8).value_or(0) > 120);
        QCOMPARE(SourceFrameAt(stretch.output, 0), std::optional<int>(25));
    }

    void audioFollowsTheSourceOrIsSilent() {
        ClipSpec mono = clipSpec(2.0);
        mono.audioRate = 48000;
        mono.audioChannels = 1;
        ConversionJob kept = job(u"mono.avi"_s, 0, 2 * kSecond);
        kept.source = MakeClip(mono);
        const ConversionOutcome plain = RunConversion(kept);
        QVERIFY(plain.completed());
        // One span of one file needs no editing timeline; silence for a file without sound does.
        QVERIFY(!plain.editingServices);
        QVERIFY(StreamSummary(kept.output).endsWith(u"| pcm_s16le 48000 Hz 1 ch"_s));
        QVERIFY(PeakAudioSample(kept.output) > 1000);

        // A source without sound still gives a sound track, silent and as long as the span.
        ClipSpec mute = clipSpec(3.0);
        mute.audio = false;
        ConversionJob silent = job(u"silent.avi"_s, kSecond / 2, 2 * kSecond + kSecond / 2);
        silent.source = MakeClip(mute);
        const ConversionOutcome outcome = RunConversion(silent);
        QVERIFY2(outcome.completed(), qPrintable(outcome.eventTexts.join(u';')));
        QVERIFY(outcome.editingServices);
        QCOMPARE(CountVideoFrames(silent.output), 50);
        QVERIFY(std::fabs(DecodedAudioSeconds(silent.output) - 2.0) <= 0.04);
        QCOMPARE(PeakAudioSample(silent.output), 0);
    }

    // A failed set-up says which step failed and why, and shows nothing itself: the front ends
    // decide how to tell the user.
    void setUpFailuresNameTheirStep() {
        ConversionJob missing = job(u"missing.avi"_s, 0, kSecond);
        missing.source = environment.scratchPath(u"no-such-clip.avi"_s);
        ConversionOutcome outcome = RunConversion(missing);
        QVERIFY(FAILED(outcome.setUpStatus));
        QCOMPARE(outcome.setUpStep, media::RenderStep::ConnectFrontEnd);
        QVERIFY2(outcome.setUpText.contains(u"no-such-clip.avi"_s), qPrintable(outcome.setUpText));
        QVERIFY(!QFile::exists(missing.output));
        // Once the file is there, the next conversion finds it: no failure is remembered.
        QVERIFY(QFile::copy(source, missing.source));
        QVERIFY(RunConversion(missing).completed());

        ConversionJob unbound = job(u"unbound.avi"_s, 0, kSecond);
        unbound.graph.videoCompressionOn = 1;
        QCOMPARE(RunConversion(unbound).setUpStep, media::RenderStep::AddVideoCompressor);

        ConversionJob wrongKind = unbound;
        wrongKind.graph.videoCompressor = Compressor("lamemp3enc", media::EncoderKind::Audio);
        QCOMPARE(RunConversion(wrongKind).setUpStep, media::RenderStep::RenderVideoStream);
        QVERIFY(environment.messages.boxes.isEmpty());
    }
};

FRAMEWELL_TEST_MAIN(RenderTest)
#include "test_render.moc"
