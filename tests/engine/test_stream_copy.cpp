// Direct stream copy through framewell-convert: the source's own streams written as they are,
// frame-exact where the head can be encoded again, from the key frame before the mark (and
// saying so) where it cannot, and refused before anything is written where it cannot be done.

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include "conversion_runner.h"
#include "support/avi_checks.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

ProcessResult convert(const QStringList& arguments) {
    return RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments, 60000);
}

// 6 s at 25 fps, frame counter in every picture, key frames every 25 pictures.
ClipSpec sourceSpec(const QString& extension, const QString& videoCodec,
                    const QString& audioCodec) {
    ClipSpec spec;
    spec.seconds = 6.0;
    spec.width = 320;
    spec.height = 240;
    spec.extension = extension;
    spec.videoCodec = videoCodec;
    spec.audioCodec = audioCodec;
    // Without the scene-change detection, which takes every change of the counter for a cut.
    spec.extraArguments = {u"-g"_s, u"25"_s, u"-sc_threshold"_s,
                           videoCodec == u"libx264"_s ? u"0"_s : u"1000000000"_s};
    if (videoCodec == u"libx264"_s) spec.extraArguments << u"-bf"_s << u"2"_s;
    // ffmpeg otherwise leaves an empty slot after the first picture of an AVI whose sound
    // starts earlier (the MP3 encoder's delay), and every later picture a frame late.
    if (extension == u"avi"_s) spec.extraArguments << u"-avoid_negative_ts"_s << u"disabled"_s;
    return spec;
}

int packetsOf(const QString& path, const char* type) {
    const ProcessResult result = RunProcess(
        u"ffprobe"_s, {u"-v"_s, u"error"_s, u"-select_streams"_s,
                       QString::fromLatin1(type) + u":0"_s, u"-count_packets"_s, u"-show_entries"_s,
                       u"stream=nb_read_packets"_s, u"-of"_s, u"csv=p=0"_s, path});
    return result.exitCode == 0 ? result.standardOutput.trimmed().toInt() : -1;
}

}  // namespace

class StreamCopyTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", environment.settingsFolder().toLocal8Bit()); }

    // H.264 cut off its key frames stays exact: the head up to the first key frame is encoded
    // again, the rest copied. The sound (MP3) is copied too.
    void anH264CutIsFrameExact() {
        const QString source = MakeClip(sourceSpec(u"mp4"_s, u"libx264"_s, u"libmp3lame"_s));
        QVERIFY(!source.isEmpty());
        const QString output = environment.scratchPath(u"h264.avi"_s);
        // Pictures 33 (1.32 s, eight after a key frame) to 129 (just before 5.2 s).
        const ProcessResult result =
            convert({u"--start"_s, u"1.32"_s, u"--end"_s, u"5.2"_s, u"--video-compressor"_s,
                     u"copy"_s, u"--audio-compressor"_s, u"copy"_s, source, output});
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.standardError.contains(
                     "Resolution: 320*240     H.264 video and MP3 sound copied"),
                 result.standardError.constData());
        QVERIFY(!result.standardError.contains("key frame at"));
        QCOMPARE(StreamSummary(output).section(u' ', 0, 0), u"h264"_s);
        QVERIFY(StreamSummary(output).contains(u"| mp3 44100 Hz 2 ch"_s));
        QCOMPARE(CountVideoFrames(output), 97);
        QCOMPARE(SourceFrameAt(output, 0), std::optional<int>(33));
        QCOMPARE(SourceFrameAt(output, 17), std::optional<int>(50));  // the first copied one
        QCOMPARE(SourceFrameAt(output, 96), std::optional<int>(129));
        // The sound lasts as long as the pictures, to an MP3 frame.
        QVERIFY2(std::fabs(DecodedAudioSeconds(output) - 97 / 25.0) < 0.05,
                 qPrintable(QString::number(DecodedAudioSeconds(output))));
    }

    // MPEG-4 Part 2 cannot be encoded again to fit: the copy starts at the key frame before
    // the mark and says so before it begins; every picture from there to the end is the
    // source's own.
    void anMpeg4CutStartsAtTheKeyFrameBefore() {
        const QString source = MakeClip(sourceSpec(u"avi"_s, u"mpeg4"_s, u"libmp3lame"_s));
        QVERIFY(!source.isEmpty());
        const QString output = environment.scratchPath(u"mpeg4.avi"_s);
        const ProcessResult result =
            convert({u"--start"_s, u"1.32"_s, u"--end"_s, u"5.2"_s, u"--video-compressor"_s,
                     u"copy"_s, u"--audio-compressor"_s, u"copy"_s, source, output});
        QCOMPARE(result.exitCode, 0);
        const QByteArray said = result.standardError;
        const QRegularExpressionMatch notice =
            QRegularExpression(
                u"no key frame at 00:00:01\\.320; the copy starts at the key "
                u"frame at 00:00:(\\d\\d\\.\\d\\d\\d)"_s)
                .match(QString::fromUtf8(said));
        QVERIFY2(notice.hasMatch(), said.constData());
        // Said before the conversion's progress.
        QVERIFY(said.indexOf("key frame at") < said.indexOf("100%"));
        QVERIFY(said.contains("MPEG-4 Part 2 video and MP3 sound copied"));
        const int keyFrame = qRound(notice.captured(1).toDouble() * 25);
        QVERIFY2(keyFrame <= 33 && keyFrame >= 33 - 25, qPrintable(notice.captured(1)));
        QCOMPARE(StreamSummary(output).section(u' ', 0, 0), u"mpeg4"_s);
        QCOMPARE(SourceFrameAt(output, 0), std::optional<int>(keyFrame));
        const int frames = CountVideoFrames(output);
        QCOMPARE(frames, 130 - keyFrame);
        QCOMPARE(SourceFrameAt(output, frames - 1), std::optional<int>(129));
        QCOMPARE(packetsOf(output, "v"), frames);  // nothing dropped, nothing added
    }

    // Refused before anything is written, with the reason: a size, a rate, a stream the AVI
    // cannot carry. An earlier output stays as it was.
    void whatCannotBeCopiedIsRefused() {
        const QString h264 = MakeClip(sourceSpec(u"mp4"_s, u"libx264"_s, u"aac"_s));
        QVERIFY(!h264.isEmpty());
        const QString output = environment.scratchPath(u"refused.avi"_s);
        QVERIFY(WriteFile(output, "precious"));
        const struct {
            QStringList options;
            const char* reason;
        } cases[] = {
            {{u"--size"_s, u"160x120"_s, u"--video-compressor"_s, u"copy"_s},
             "keeps the source's picture size, 320*240, and cannot make it 160*120"},
            {{u"--fps"_s, u"30"_s, u"--video-compressor"_s, u"copy"_s},
             "keeps the source's 25 frames a second and cannot make 30"},
            {{u"--video-compressor"_s, u"copy"_s, u"--audio-compressor"_s, u"copy"_s},
             "cannot write the MPEG-4 AAC sound of the source into an AVI file"},
        };
        for (const auto& c : cases) {
            const ProcessResult result =
                convert(QStringList{u"--overwrite"_s} << c.options << h264 << output);
            QCOMPARE(result.exitCode, 1);
            QVERIFY2(result.standardError.contains(c.reason), result.standardError.constData());
            QVERIFY(!result.standardError.contains("%"));  // no conversion ran
            QCOMPARE(ReadFile(output), QByteArray("precious"));
        }
        // The pictures copied, the sound encoded: AAC becomes MP3.
        const ProcessResult mixed =
            convert({u"--overwrite"_s, u"--quiet"_s, u"--video-compressor"_s, u"copy"_s,
                     u"--audio-compressor"_s, u"lamemp3enc"_s, h264, output});
        QCOMPARE(mixed.exitCode, 0);
        QVERIFY2(StreamSummary(output).startsWith(u"h264 "_s), qPrintable(StreamSummary(output)));
        QVERIFY(StreamSummary(output).contains(u"150 frames | mp3"_s));
    }
};

FRAMEWELL_TEST_MAIN(StreamCopyTest)
#include "test_stream_copy.moc"
