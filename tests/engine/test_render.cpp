// Whole conversions of short generated clips, checked in the written AVI with ffprobe: what
// the user gets from Convert, without the dialog.

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QtTest>

#include <cmath>

#include "conversion_runner.h"
#include "media/media_framework.h"
#include "platform/window_messages.h"
#include "support/avi_checks.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

QString text(const QJsonObject& stream, const char* key) {
    const QJsonValue value = stream.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString::number(value.toInt());
}

ClipSpec clipSpec(double seconds, int width, int height) {
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
        ConversionJob raw = job(QStringLiteral("raw.avi"), kSecond, 3 * kSecond);
        const ConversionOutcome outcome = RunConversion(raw);
        QCOMPARE(outcome.setUpStatus, S_OK);
        QVERIFY2(outcome.completed(), qPrintable(outcome.eventTexts.join(QLatin1Char(';'))));
        QVERIFY(outcome.encoders.isEmpty());  // no compressor sits in the graph
        QCOMPARE(outcome.duration, 2 * kSecond);

        const QJsonObject probe = Probe(raw.output);
        const QJsonObject video = StreamOf(probe, QStringLiteral("video"));
        QCOMPARE(text(video, "codec_name"), QStringLiteral("rawvideo"));
        QCOMPARE(text(video, "pix_fmt"), QStringLiteral("bgr24"));
        QCOMPARE(video.value(QLatin1String("width")).toInt(), 160);
        QCOMPARE(video.value(QLatin1String("height")).toInt(), 120);
        QCOMPARE(text(video, "r_frame_rate"), QStringLiteral("25/1"));
        QCOMPARE(CountVideoFrames(raw.output), 50);
        QCOMPARE(SourceFrameAt(raw.output, 0), std::optional<int>(25));
        QCOMPARE(SourceFrameAt(raw.output, 49), std::optional<int>(74));

        const QJsonObject audio = StreamOf(probe, QStringLiteral("audio"));
        QCOMPARE(text(audio, "codec_name"), QStringLiteral("pcm_s16le"));
        QCOMPARE(text(audio, "sample_rate"), QStringLiteral("44100"));
        QCOMPARE(audio.value(QLatin1String("channels")).toInt(), 2);
        QVERIFY(std::fabs(DecodedAudioSeconds(raw.output) - 2.0) <= 0.04);
        QVERIFY(LongestSingleStreamRun(raw.output) < 1.0);

        // The bitmap rows are stored bottom-up; a reader must still see the top on top.
        ConversionJob upright = job(QStringLiteral("upright.avi"), 0, kSecond);
        upright.source = MakeTopWhiteClip(160, 120, 1.0);
        QVERIFY(RunConversion(upright).completed());
        QVERIFY(MeanGrey(upright.output, 0, 0.1, 0.1, 0.9, 0.4).value_or(0) > 200);
        QVERIFY(MeanGrey(upright.output, 0, 0.1, 0.6, 0.9, 0.9).value_or(255) < 40);
    }

    void compressedOutputIsInterleavedMpeg4AndMp3WithCodecSettings() {
        auto mpeg4 = [this](const QString& name, const char* keyFrameInterval) {
            // Key frames only where the settings put them: this picture changes at every frame,
            // which would otherwise count as a scene change.
            ConversionJob compressed = job(name, kSecond, 3 * kSecond + kSecond / 2);
            compressed.videoCompressionOn = 1;
            compressed.audioCompressionOn = 1;
            compressed.videoCompressor = Compressor("avenc_mpeg4", media::EncoderKind::Video);
            compressed.audioCompressor = Compressor("lamemp3enc", media::EncoderKind::Audio);
            compressed.videoProperties = {{"gop-size", keyFrameInterval},
                                          {"sc-threshold", "1000000000"}};
            return compressed;
        };
        const ConversionJob low = mpeg4(QStringLiteral("low.avi"), "250");
        const ConversionOutcome outcome = RunConversion(low);
        QCOMPARE(outcome.setUpStatus, S_OK);
        QVERIFY2(outcome.completed(), qPrintable(outcome.eventTexts.join(QLatin1Char(';'))));
        QVERIFY(outcome.encoders.contains(QStringLiteral("avenc_mpeg4")));
        QVERIFY(outcome.encoders.contains(QStringLiteral("lamemp3enc")));

        const QJsonObject probe = Probe(low.output);
        const QJsonObject video = StreamOf(probe, QStringLiteral("video"));
        QCOMPARE(text(video, "codec_name"), QStringLiteral("mpeg4"));
        QCOMPARE(text(video, "codec_tag_string"), QStringLiteral("DIVX"));
        QCOMPARE(CountVideoFrames(low.output), 63);  // ceil(2.5 s x 25)
        QCOMPARE(SourceFrameAt(low.output, 0), std::optional<int>(25));
        const QJsonObject audio = StreamOf(probe, QStringLiteral("audio"));
        QCOMPARE(text(audio, "codec_name"), QStringLiteral("mp3"));
        QVERIFY(std::fabs(DecodedAudioSeconds(low.output) - 2.52) <= 0.04 + 0.03);  // one MP3 frame
        // Without the encoder's timestamps restored all audio would come before the video.
        const double run = LongestSingleStreamRun(low.output);
        QVERIFY2(run < 1.0, qPrintable(QString::number(run)));

        // The codec's stored settings reach the encoder the graph makes.
        QCOMPARE(KeyFrameCount(low.output), 1);
        const ConversionJob everyFrame = mpeg4(QStringLiteral("keys.avi"), "1");
        QVERIFY(RunConversion(everyFrame).completed());
        QCOMPARE(KeyFrameCount(everyFrame.output), 63);
    }

    void frameRatesAndMarksGiveExactFrames() {
        struct Case {
            double rate;
            ReferenceTime start, end;
            const char* rational;
            int frames;
            int firstSourceFrame;
        };
        const Case cases[] = {
            {23.976, kSecond, 3 * kSecond + kSecond / 2, "24000/1001", 60, 25},  // ceil(59.94)
            {29.97, 0, 2 * kSecond, "30000/1001", 60, 0},                        // ceil(59.94)
            {12.5, kSecond / 2, 2 * kSecond + kSecond / 2, "25/2", 25, 12},
            {25.0, 1'450'0000, 2 * kSecond, "25/1", 14, 36},  // 1.45 s to 2.0 s: ceil(13.75)
        };
        for (const Case& c : cases) {
            ConversionJob rated = job(QStringLiteral("rate_%1.avi").arg(c.rate), c.start, c.end);
            rated.frameRate = c.rate;
            QVERIFY(RunConversion(rated).completed());
            const QJsonObject video = StreamOf(Probe(rated.output), QStringLiteral("video"));
            QCOMPARE(text(video, "r_frame_rate"), QString::fromLatin1(c.rational));
            QCOMPARE(CountVideoFrames(rated.output), c.frames);
            QCOMPARE(SourceFrameAt(rated.output, 0), std::optional<int>(c.firstSourceFrame));
        }
    }

    void preserveAspectLetterboxesAndStretchFills() {
        // A 4:3 picture in a wide frame: bars at the sides, or the picture pulled wide.
        ConversionJob preserve = job(QStringLiteral("preserve.avi"), kSecond, 2 * kSecond);
        preserve.width = 320;
        preserve.height = 120;
        ConversionJob stretch = preserve;
        stretch.output = environment.scratchPath(QStringLiteral("stretch.avi"));
        stretch.resizeMode = kResizeStretch;
        QVERIFY(RunConversion(preserve).completed());
        QVERIFY(RunConversion(stretch).completed());
        // Source frame 25 is light (152) on the left, dark (24) on the right.
        QVERIFY(MeanGrey(preserve.output, 0, 0.0, 0.2, 0.15, 0.8).value_or(255) < 20);
        QVERIFY(MeanGrey(preserve.output, 0, 0.3, 0.2, 0.45, 0.8).value_or(0) > 120);
        QVERIFY(MeanGrey(stretch.output, 0, 0.0, 0.2, 0.15, 0.8).value_or(0) > 120);
        QCOMPARE(SourceFrameAt(stretch.output, 0), std::optional<int>(25));
    }

    void audioFollowsTheSourceOrIsSilent() {
        ClipSpec mono = clipSpec(2.0, 160, 120);
        mono.audioRate = 48000;
        mono.audioChannels = 1;
        ConversionJob kept = job(QStringLiteral("mono.avi"), 0, 2 * kSecond);
        kept.source = MakeClip(mono);
        QVERIFY(RunConversion(kept).completed());
        const QJsonObject audio = StreamOf(Probe(kept.output), QStringLiteral("audio"));
        QCOMPARE(text(audio, "sample_rate"), QStringLiteral("48000"));
        QCOMPARE(audio.value(QLatin1String("channels")).toInt(), 1);
        QVERIFY(PeakAudioSample(kept.output) > 1000);

        ClipSpec mute = clipSpec(3.0, 160, 120);
        mute.audio = false;
        ConversionJob silent =
            job(QStringLiteral("silent.avi"), kSecond / 2, 2 * kSecond + kSecond / 2);
        silent.source = MakeClip(mute);
        const ConversionOutcome outcome = RunConversion(silent);
        QVERIFY2(outcome.completed(), qPrintable(outcome.eventTexts.join(QLatin1Char(';'))));
        QCOMPARE(CountVideoFrames(silent.output), 50);
        QVERIFY(std::fabs(DecodedAudioSeconds(silent.output) - 2.0) <= 0.04);
        QCOMPARE(PeakAudioSample(silent.output), 0);
    }

    void setUpFailuresNameTheirStep() {
        // A source that is not there.
        ConversionJob missing = job(QStringLiteral("missing.avi"), 0, kSecond);
        missing.source = environment.scratchPath(QStringLiteral("no-such-clip.avi"));
        ConversionOutcome outcome = RunConversion(missing);
        QVERIFY(FAILED(outcome.setUpStatus));
        QStringList texts = environment.messages.texts();
        QCOMPARE(texts.value(0), QStringLiteral("Could not ConnectFrontEnd"));
        QVERIFY(texts.value(1).contains(QStringLiteral("no-such-clip.avi")));
        QVERIFY(!QFile::exists(missing.output));
        // Once the file is there, the next conversion finds it.
        QVERIFY(QFile::copy(source, missing.source));
        QVERIFY(RunConversion(missing).completed());

        // Compression on, but the stored compressor is not installed: only the framework's
        // words are shown.
        environment.messages.clear();
        ConversionJob unbound = job(QStringLiteral("unbound.avi"), 0, kSecond);
        unbound.videoCompressionOn = 1;
        QVERIFY(FAILED(RunConversion(unbound).setUpStatus));
        QCOMPARE(environment.messages.boxes.size(), 1);

        // A compressor of the wrong kind for the first group.
        environment.messages.clear();
        ConversionJob wrongKind = job(QStringLiteral("wrong.avi"), 0, kSecond);
        wrongKind.videoCompressionOn = 1;
        wrongKind.videoCompressor = Compressor("lamemp3enc", media::EncoderKind::Audio);
        QVERIFY(FAILED(RunConversion(wrongKind).setUpStatus));
        QCOMPARE(environment.messages.texts().value(0),
                 QStringLiteral("failed pBuilder->RenderStream( NULL, NULL, pPin, NULL, pMux )"));

        // A timeline without groups.
        environment.messages.clear();
        media::TimelineModel empty;
        bool finished = false;
        OutputGraphSettings nowhere;
        nowhere.outputName = environment.scratchPath(QStringLiteral("e.avi"));
        StartConversionRender(empty, nowhere, nullptr, WM_GRAPHNOTIFY, [&](HRESULT status) {
            finished = true;
            QCOMPARE(status, E_INVALIDARG);
        });
        QVERIFY(QTest::qWaitFor([&] { return finished; }, 20000));
        QCOMPARE(environment.messages.texts(),
                 QStringList{QStringLiteral("Could not GetGroupCount( &Groups )")});
        EmptyConversionHolders();
    }
};

FRAMEWELL_TEST_MAIN(RenderTest)
#include "test_render.moc"
