// Direct stream copy through framewell-convert, read back by the pictures' own numbers and the
// sound's beeps: every container and picture format an AVI file carries, key frames 1, 2 and
// 10 s apart, with and without B-pictures, MP3, AC-3, MP2 and PCM sound, each copied whole and
// over spans that start on a key frame, a picture after one and a picture before one. What an
// AVI file cannot carry well is refused in one sentence before anything is written.

#include <QFile>
#include <QtTest>

#include <cmath>

#include "engine/conversion_runner.h"
#include "support/avi_checks.h"
#include "support/counter_clips.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

constexpr double kRate = 25.0;

ProcessResult convert(const QStringList& arguments) {
    return RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments, 60000);
}

struct CopiedSource {
    const char* name;
    QString extension;
    QStringList video;
    QStringList audio;
    double soundFrame;        // seconds of one sound frame; 0 for PCM
    bool keyFrameAtTwo;       // a key frame shows at 2.00 s
    bool textured = false;
    double soundStart = 0;    // the sound starts this much after the pictures
};

// Key frames every second or two, or only the first; B-pictures or none.
const QList<CopiedSource>& sources() {
    const QStringList h264 = {u"-c:v"_s, u"libx264"_s, u"-sc_threshold"_s, u"0"_s};
    const QStringList mp3 = {u"-c:a"_s, u"libmp3lame"_s};
    static const QList<CopiedSource> all = {
        {"H.264 with B-pictures, key every 2 s, MP3, Matroska", u"mkv"_s,
         h264 + QStringList{u"-g"_s, u"50"_s, u"-bf"_s, u"2"_s}, mp3, 1152 / 48000.0, true},
        {"H.264 with B-pictures, key every 2 s, AC-3, MP4", u"mp4"_s,
         h264 + QStringList{u"-g"_s, u"50"_s, u"-bf"_s, u"2"_s}, {u"-c:a"_s, u"ac3"_s},
         1536 / 48000.0, true},
        {"H.264 with B-pictures, key every 1 s, AC-3, MPEG-TS", u"ts"_s,
         h264 + QStringList{u"-g"_s, u"25"_s, u"-bf"_s, u"3"_s}, {u"-c:a"_s, u"ac3"_s},
         1536 / 48000.0, true},
        {"H.264 without B-pictures, one key frame, big-endian PCM, QuickTime", u"mov"_s,
         h264 + QStringList{u"-g"_s, u"1000"_s, u"-bf"_s, u"0"_s}, {u"-c:a"_s, u"pcm_s16be"_s},
         0, false},
        {"H.264 with B-pictures, key every 2 s, MP3, FLV", u"flv"_s,
         h264 + QStringList{u"-g"_s, u"50"_s, u"-bf"_s, u"2"_s},
         mp3 + QStringList{u"-ar"_s, u"44100"_s}, 1152 / 44100.0, true},
        {"MPEG-4 Part 2 with 2 B-pictures, key every 1 s, MP3, AVI", u"avi"_s,
         {u"-c:v"_s, u"mpeg4"_s, u"-bf"_s, u"2"_s, u"-force_key_frames"_s,
          u"expr:eq(mod(n,25),0)"_s, u"-sc_threshold"_s, u"1000000000"_s,
          u"-avoid_negative_ts"_s, u"disabled"_s},
         mp3, 1152 / 48000.0, true},
        {"MPEG-4 Part 2 packed by Xvid with B-pictures, MP3, AVI", u"avi"_s,
         {u"-c:v"_s, u"libxvid"_s, u"-bf"_s, u"2"_s, u"-g"_s, u"25"_s}, mp3, 1152 / 48000.0,
         false, true},
        {"MPEG-2 with 2 B-pictures, key every 12, MP2, MPEG-PS", u"mpg"_s,
         {u"-f"_s, u"vob"_s, u"-c:v"_s, u"mpeg2video"_s, u"-bf"_s, u"2"_s, u"-g"_s, u"12"_s,
          u"-sc_threshold"_s, u"1000000000"_s, u"-b:v"_s, u"1M"_s},
         {u"-c:a"_s, u"mp2"_s}, 1152 / 48000.0, false},
        {"Motion JPEG, PCM, AVI", u"avi"_s, {u"-c:v"_s, u"mjpeg"_s}, {u"-c:a"_s, u"pcm_s16le"_s},
         0, true},
        // Key frames that are not IDRs: a copy after a head encoded again restarts at one.
        {"H.264 with an open group every 2 s, MP3, Matroska", u"mkv"_s,
         {u"-c:v"_s, u"libx264"_s, u"-bf"_s, u"2"_s, u"-x264-params"_s,
          u"open-gop=1:keyint=50:min-keyint=50:scenecut=0"_s},
         mp3, 1152 / 48000.0, true},
        {"H.264 with an open group every 2 s, CAVLC, AC-3, MPEG-TS", u"ts"_s,
         {u"-c:v"_s, u"libx264"_s, u"-bf"_s, u"2"_s, u"-x264-params"_s,
          u"open-gop=1:keyint=50:min-keyint=50:scenecut=0:cabac=0"_s},
         {u"-c:a"_s, u"ac3"_s}, 1536 / 48000.0, true},
        // Silence fills the start: written by hand for MP3, encoded for AC-3.
        {"H.264, MP3 starting 0.3 s after the pictures, Matroska", u"mkv"_s,
         h264 + QStringList{u"-g"_s, u"50"_s, u"-bf"_s, u"2"_s}, mp3, 1152 / 48000.0, true, false,
         0.3},
        {"H.264, AC-3 starting 0.3 s after the pictures, MPEG-TS", u"ts"_s,
         h264 + QStringList{u"-g"_s, u"50"_s, u"-bf"_s, u"2"_s}, {u"-c:a"_s, u"ac3"_s},
         1536 / 48000.0, true, false, 0.3},
    };
    return all;
}

struct Span {
    const char* name;
    double start = 0;  // seconds; both 0 for the whole file
    double end = 0;
    bool onKeyFrame = false;
};

}  // namespace

class StreamCopyTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", environment.settingsFolder().toLocal8Bit()); }

    // The marked picture first, the last picture before the end last, each picture once and
    // every one decoding cleanly; the sound where the source has it within half a frame, and
    // as long as the pictures within one. A mark on a key frame encodes nothing again there
    // (B-pictures before the end mark that need a picture past it are encoded again).
    void everySpanIsExact() {
        const Span spans[] = {{"whole"},
                              {"on a key frame", 2.00, 4.00, true},
                              {"a picture after it", 2.04, 4.04},
                              {"a picture before it", 1.96, 3.96},
                              // Within the last half second, where a program or transport
                              // stream's own reckoning of its length falls short.
                              {"to two pictures before the last", 2.00, 5.92, true}};
        for (const CopiedSource& source : sources()) {
            const QString path = MakeBeepingClip(source.extension, 6.0, source.video,
                                                 source.audio, source.textured, source.soundStart);
            QVERIFY2(!path.isEmpty(), source.name);
            for (const Span& span : spans) {
                const QString what = QString::fromLatin1(source.name) + u", "_s + span.name;
                const QString output = environment.scratchPath(u"copy.avi"_s);
                QFile::remove(output);
                QStringList arguments = {u"--overwrite"_s, u"--video-compressor"_s, u"copy"_s,
                                         u"--audio-compressor"_s, u"copy"_s};
                if (span.end > 0)
                    arguments << u"--start"_s << QString::number(span.start) << u"--end"_s
                              << QString::number(span.end);
                const ProcessResult result = convert(arguments << path << output);
                QVERIFY2(result.exitCode == 0 && result.standardError.contains(" copied") &&
                             !result.standardError.contains("cut short"),
                         qPrintable(what + u": "_s + QString::fromUtf8(result.standardError)));
                if (span.onKeyFrame && source.keyFrameAtTwo)
                    QVERIFY2(!result.standardError.contains("before the first key frame"),
                             qPrintable(what));

                const SpanReadBack back = ReadBackSpan(path, output, span.start, span.end, kRate);
                QVERIFY2(back.pictures == back.due,
                         qPrintable(what + u": pictures %1 to %2, %3 of them"_s
                                               .arg(back.pictures.value(0))
                                               .arg(back.pictures.value(back.pictures.size() - 1))
                                               .arg(back.pictures.size())));
                QVERIFY2(back.errors.isEmpty(),
                         qPrintable(what + u": "_s + QString::fromUtf8(back.errors)));
                const double halfFrame = source.soundFrame > 0 ? source.soundFrame / 2 : 0.001;
                if (back.beepGaps.isEmpty()) {
                    QStringList heard;
                    for (double beep : BeepTimes(output)) heard << QString::number(beep);
                    QFAIL(qPrintable(what + u": no beep placed; heard at "_s + heard.join(u", ") +
                                     u" s of "_s + QString::number(back.pictures.size()) +
                                     u" pictures"_s));
                }
                for (double gap : back.beepGaps)
                    QVERIFY2(std::abs(gap) <= halfFrame + 0.003,
                             qPrintable(what + u": a beep %1 ms off the source's"_s.arg(
                                                   gap * 1000, 0, 'f', 1)));
                QVERIFY2(std::abs(back.soundOverrun) <= 2 * halfFrame + 0.003,
                         qPrintable(what + u": the sound outlasts the pictures by %1 s"_s.arg(
                                               back.soundOverrun)));
            }
        }
    }

    // An AVI file keeps any rate as the source has it: 2997/125 stays 2997/125.
    void theRateIsTheSourcesOwnFraction() {
        CounterClip clip;
        clip.extension = u"avi"_s;
        clip.frameRate = u"2997/125"_s;
        clip.video = {u"-c:v"_s, u"mpeg4"_s};
        const QString source = MakeCounterClip(clip);
        QVERIFY(!source.isEmpty());
        const QString output = environment.scratchPath(u"rate.avi"_s);
        const ProcessResult result =
            convert({u"--overwrite"_s, u"--video-compressor"_s, u"copy"_s, source, output});
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.standardError.contains("Frame rate: 23.976 fps (2997/125)"),
                 result.standardError.constData());
        // The picture stream's time base is its header's scale over its rate.
        const ProcessResult rate =
            RunProcess(u"ffprobe"_s, {u"-v"_s, u"error"_s, u"-select_streams"_s, u"v:0"_s,
                                      u"-show_entries"_s, u"stream=time_base"_s, u"-of"_s,
                                      u"csv=p=0"_s, output});
        QCOMPARE(rate.standardOutput.trimmed(), QByteArray("125/2997"));
        QCOMPARE(PictureNumbers(output), PictureNumbers(source));
    }

    // Refused before anything is written, in one sentence that names the stream and what to
    // choose instead: a size, a rate, a sound or a picture format an AVI file cannot carry
    // well. An earlier output stays as it was. Sound that is encoded goes with copied pictures.
    void whatCannotBeCopiedIsRefused() {
        ClipSpec aac;
        aac.seconds = 2.0;
        aac.extension = u"mp4"_s;
        aac.videoCodec = u"libx264"_s;
        aac.audioCodec = u"aac"_s;
        const QString h264 = MakeClip(aac);
        ClipSpec windowsMedia = aac;
        windowsMedia.extension = u"wmv"_s;
        windowsMedia.videoCodec = u"wmv2"_s;
        windowsMedia.audioCodec = u"wmav2"_s;
        const QString wmv = MakeClip(windowsMedia);
        QVERIFY(!h264.isEmpty() && !wmv.isEmpty());
        const QString output = environment.scratchPath(u"refused.avi"_s);
        QVERIFY(WriteFile(output, "precious"));
        const struct {
            QStringList options;
            QString source;
            const char* reason;
        } cases[] = {
            {{u"--size"_s, u"320x240"_s, u"--video-compressor"_s, u"copy"_s}, h264,
             "keeps the source's picture size, 160*120, and cannot make it 320*240. Choose "
             "\"Original size\" or a video compressor."},
            {{u"--fps"_s, u"30"_s, u"--video-compressor"_s, u"copy"_s}, h264,
             "keeps the source's 25 frames a second and cannot make 30."},
            {{u"--video-compressor"_s, u"copy"_s, u"--audio-compressor"_s, u"copy"_s}, h264,
             "cannot write the MPEG-4 AAC sound of the source into an AVI file. Choose an audio "
             "compressor instead."},
            {{u"--video-compressor"_s, u"copy"_s}, wmv,
             "cannot write the Windows Media Video 8 pictures of the source into an AVI file. "
             "Choose a video compressor instead."},
        };
        for (const auto& c : cases) {
            const ProcessResult result =
                convert(QStringList{u"--overwrite"_s} << c.options << c.source << output);
            QCOMPARE(result.exitCode, 1);
            QVERIFY2(result.standardError.contains(c.reason), result.standardError.constData());
            QCOMPARE(result.standardError.count('\n'), 1);  // one line, no framework's words
            QCOMPARE(ReadFile(output), QByteArray("precious"));
        }
        const ProcessResult mixed =
            convert({u"--overwrite"_s, u"--quiet"_s, u"--video-compressor"_s, u"copy"_s,
                     u"--audio-compressor"_s, u"lamemp3enc"_s, h264, output});
        QCOMPARE(mixed.exitCode, 0);
        QVERIFY2(StreamSummary(output).startsWith(u"h264 "_s), qPrintable(StreamSummary(output)));
        QVERIFY(StreamSummary(output).contains(u"50 frames | mp3"_s));
    }

    // A program stream shows each stream when its first packet comes, and none after a seek
    // that lands past its first two seconds: a sound that starts after the pictures is found
    // before the copy seeks to its span, and copied in step.
    void aProgramStreamsLaterSoundIsCopied() {
        const QString source = MakeBeepingClip(
            u"mpg"_s, 5.0,
            {u"-f"_s, u"vob"_s, u"-c:v"_s, u"mpeg2video"_s, u"-bf"_s, u"2"_s, u"-g"_s, u"12"_s,
             u"-b:v"_s, u"1M"_s},
            {u"-c:a"_s, u"mp2"_s}, false, 1.5);
        QVERIFY(!source.isEmpty());
        const QString output = environment.scratchPath(u"later.avi"_s);
        const ProcessResult result =
            convert({u"--overwrite"_s, u"--video-compressor"_s, u"copy"_s, u"--audio-compressor"_s,
                     u"copy"_s, u"--start"_s, u"3"_s, u"--end"_s, u"4.8"_s, source, output});
        QVERIFY2(result.exitCode == 0 && result.standardError.contains("MP2 sound copied"),
                 result.standardError.constData());
        const SpanReadBack back = ReadBackSpan(source, output, 3, 4.8, kRate);
        QCOMPARE(back.pictures, back.due);
        QVERIFY2(!back.beepGaps.isEmpty(), "no beep in the copied sound");
        for (double gap : back.beepGaps)
            QVERIFY2(std::abs(gap) <= 1152 / 48000.0 / 2 + 0.003,
                     qPrintable(u"a beep %1 ms off the source's"_s.arg(gap * 1000, 0, 'f', 1)));
    }

    // A picture stream without a container has no times but its parser's count from the start:
    // copied whole, every picture once; a span of it is refused before anything is written.
    void aBareStreamIsCopiedWholeOnly() {
        const struct {
            QString extension;
            QStringList video;
        } bare[] = {
            {u"m2v"_s, {u"-c:v"_s, u"mpeg2video"_s, u"-bf"_s, u"2"_s, u"-g"_s, u"12"_s}},
            {u"h264"_s, {u"-c:v"_s, u"libx264"_s, u"-bf"_s, u"2"_s, u"-g"_s, u"50"_s}},
        };
        for (const auto& each : bare) {
            CounterClip clip;
            clip.extension = each.extension;
            clip.video = each.video;
            const QString source = MakeCounterClip(clip);
            QVERIFY(!source.isEmpty());
            const QString output = environment.scratchPath(u"bare.avi"_s);
            QFile::remove(output);
            const QStringList copy = {u"--overwrite"_s, u"--video-compressor"_s, u"copy"_s};
            const ProcessResult whole = convert(copy + QStringList{source, output});
            QVERIFY2(whole.exitCode == 0, whole.standardError.constData());
            QCOMPARE(PictureNumbers(output), PictureNumbers(source));
            QFile::remove(output);
            const ProcessResult span = convert(
                copy + QStringList{u"--start"_s, u"1"_s, u"--end"_s, u"3"_s, source, output});
            QVERIFY2(span.exitCode != 0 && span.standardError.contains("copy it only whole"),
                     span.standardError.constData());
            QVERIFY(!QFile::exists(output));
        }
    }

    // Copied pictures with the sound decoded to PCM: in step to the sample.
    void copiedPicturesTakeDecodedSound() {
        const QString source =
            MakeBeepingClip(u"mp4"_s, 4.0, {u"-c:v"_s, u"libx264"_s, u"-g"_s, u"50"_s},
                            {u"-c:a"_s, u"aac"_s});
        QVERIFY(!source.isEmpty());
        const QString output = environment.scratchPath(u"decoded.avi"_s);
        const ProcessResult result =
            convert({u"--overwrite"_s, u"--start"_s, u"1.04"_s, u"--end"_s, u"3.04"_s,
                     u"--video-compressor"_s, u"copy"_s, u"--audio-compressor"_s, u"none"_s,
                     source, output});
        QCOMPARE(result.exitCode, 0);
        const SpanReadBack back = ReadBackSpan(source, output, 1.04, 3.04, kRate);
        QCOMPARE(back.pictures, back.due);
        QVERIFY(!back.beepGaps.isEmpty());
        for (double gap : back.beepGaps) QVERIFY2(std::abs(gap) < 0.002, qPrintable(QString::number(gap)));
        QVERIFY2(std::abs(back.soundOverrun) < 0.002, qPrintable(QString::number(back.soundOverrun)));
    }
};

FRAMEWELL_TEST_MAIN(StreamCopyTest)
#include "test_stream_copy.moc"
