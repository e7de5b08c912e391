// Files as recorders, phones and muxers really leave them: an edit list that starts the
// presentation late, holes in the streams, a rate tag or a stated length that does not match
// what the file holds, a file cut half-way, a picture size the compressor cannot take. Each
// converts to what a player shows, with its sound in step, and says what was odd about it.

#include <QLabel>
#include <QtTest>

#include <cmath>

#include "app/converter_dialog.h"
#include "engine/conversion_runner.h"
#include "engine/source_cases.h"
#include "media/core/media_framework.h"
#include "media/session/render_session.h"
#include "media/source/media_probe.h"
#include "player/player_test_support.h"
#include "support/avi_checks.h"
#include "support/counter_clips.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(testing_support::CounterClip)

namespace {

constexpr int kBoundMs = 60000;

QList<int> Range(int first, int end) {
    QList<int> numbers;
    for (int n = first; n < end; ++n) numbers << n;
    return numbers;
}

QList<int> Held(int number, int times) {
    return QList<int>(times, number);
}

CounterClip Beeping(const char* extension, const char* rate, double seconds,
                    const QStringList& video, const QStringList& audio) {
    CounterClip clip = Clip(extension, rate, video, audio);
    clip.seconds = seconds;
    clip.beeps = true;
    return clip;
}

const QStringList kH264 = {"-c:v", "libx264", "-pix_fmt", "yuv420p"};

// A stream that jumps a second at 2.5 s of its content: a second with nothing in it.
QStringList WithHole(const char* option, const char* filter, const QStringList& options) {
    return QStringList{option, u"%1='PTS+if(gte(T,2.5),1/TB,0)'"_s.arg(QLatin1String(filter))} +
           options;
}

CounterClip HoledClip() {
    return Beeping("mkv", "25", 5, WithHole("-vf", "setpts", kH264),
                   WithHole("-af", "asetpts", {"-c:a", "aac"}));
}

// A download that stopped half-way: its header still states all 8 s.
CounterClip CutClip() {
    CounterClip cut = Beeping("mkv", "25", 8, kH264, {"-c:a", "aac"});
    cut.mendName = u"cut at half"_s;
    cut.mend = [](QByteArray& bytes) {
        bytes.truncate(bytes.size() / 2);
        return true;
    };
    return cut;
}

// ASF's file properties: the play and send durations, in 100 ns, claim `seconds` less.
std::function<bool(QByteArray&)> ShortenAsfLength(double seconds) {
    return [seconds](QByteArray& bytes) {
        const QByteArray properties = QByteArray::fromHex("a1dcab8c47a9cf118ee400c00c205365");
        const qsizetype at = bytes.indexOf(properties);
        if (at < 0 || at + 80 > bytes.size()) return false;
        for (int field : {64, 72}) {
            quint64 value = qFromLittleEndian<quint64>(bytes.constData() + at + field);
            value -= static_cast<quint64>(seconds * 1e7);
            qToLittleEndian(value, bytes.data() + at + field);
        }
        return true;
    };
}

// Matroska's segment duration (a big-endian double of milliseconds) says `milliseconds`.
std::function<bool(QByteArray&)> StateMatroskaLength(double milliseconds) {
    return [milliseconds](QByteArray& bytes) {
        const qsizetype at = bytes.indexOf(QByteArray("\x44\x89\x88", 3));
        if (at < 0) return false;
        quint64 bits = 0;
        std::memcpy(&bits, &milliseconds, 8);
        qToBigEndian(bits, bytes.data() + at + 3);
        return true;
    };
}

// Matroska's frame duration of the picture track says 40 ms (25 fps), whatever the blocks' times.
bool TagTwentyFive(QByteArray& bytes) {
    const qsizetype at = bytes.indexOf(QByteArray("\x23\xE3\x83", 3));
    if (at < 0 || at + 4 >= bytes.size()) return false;
    const int length = static_cast<unsigned char>(bytes[at + 3]) & 0x7F;
    if (length < 4 || at + 4 + length > bytes.size()) return false;
    quint64 nanoseconds = 40'000'000;
    for (int i = length - 1; i >= 0; --i, nanoseconds >>= 8)
        bytes[at + 4 + i] = static_cast<char>(nanoseconds & 0xFF);
    return true;
}

// A program stream whose first pack is lost (zeroed, as a damaged recording leaves it): its
// clock, and its first pictures, start later than the header's would have.
bool ZeroFirstPack(QByteArray& bytes) {
    constexpr qsizetype kPack = 2048;
    if (bytes.size() <= kPack) return false;
    std::fill(bytes.begin(), bytes.begin() + kPack, '\0');
    return true;
}

// The AVI's sound stream header claims half as much again as its data.
bool LengthenAviSound(QByteArray& bytes) {
    const qsizetype header = bytes.indexOf("auds") - 8;
    if (header < 0 || bytes.mid(header, 4) != "strh") return false;
    const qsizetype length = header + 40;
    qToLittleEndian(qFromLittleEndian<quint32>(bytes.constData() + length) * 3 / 2,
                    bytes.data() + length);
    return true;
}

ProcessResult Convert(const QString& source, const QString& output, QStringList options) {
    options << u"--overwrite"_s << u"--video-compressor"_s << u"none"_s << u"--audio-compressor"_s
            << u"none"_s << source << output;
    return RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), options, kBoundMs);
}

void VerifyBeepsInStep(const QString& path, double sourceRate, double rate) {
    const QList<double> offsets = BeepOffsets(path, sourceRate, rate);
    QVERIFY2(!offsets.isEmpty(), qPrintable(path));
    for (double offset : offsets)
        QVERIFY2(std::fabs(offset) <= 0.03,
                 qPrintable(u"a beep %1 s off its picture"_s.arg(offset)));
}

}  // namespace

class RealTimelinesTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;
    QString output;

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", environment.settingsFolder().toLocal8Bit());
        output = environment.scratchPath(u"out.avi"_s);
        // For the conversions run here rather than by the command line.
        QCOMPARE(media::StartMediaFramework(), S_OK);
    }

    // What a player shows is what is converted: the pictures, their rate and their sound in
    // step, whatever the container's edit list, rate tag or stated length says.
    void conversionsFollowWhatThePlayerShows_data() {
        QTest::addColumn<CounterClip>("clip");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QList<int>>("pictures");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("said");  // on standard error; empty: nothing but the rate

        const CounterClip late = Beeping("mp4", "25", 4, kH264, {"-c:a", "aac"});
        CounterClip editList = late;
        editList.output = {"-output_ts_offset", "10"};
        QTest::newRow("edit list starting 10 s in, a span")
            << editList << QStringList{"--start", "1", "--end", "3"} << Range(25, 75) << u"25/1"_s
            << QString();
        QTest::newRow("edit list starting 10 s in, whole")
            << editList << QStringList() << Range(0, 100) << u"25/1"_s << QString();
        QTest::newRow("rate tag of 25 on pictures 33.4 ms apart")
            << Mended(Beeping("mkv", "30000/1001", 4, kH264, {"-c:a", "aac"}), "tagged 25",
                      TagTwentyFive)
            << QStringList() << Range(0, 120) << u"30000/1001"_s
            << u"measured from its pictures (the file states 25 fps)"_s;
        QTest::newRow("Windows Media stating 1.5 s less than it holds")
            << Mended(Beeping("wmv", "30", 4, {"-c:v", "wmv2", "-q:v", "3"}, {"-c:a", "wmav2"}),
                      "short play duration", ShortenAsfLength(1.5))
            << QStringList() << Range(0, 120) << u"30/1"_s << u"measured from its pictures"_s;
        QTest::newRow("Matroska stating 2 s of 4")
            << Mended(Beeping("mkv", "25", 4, kH264, {"-c:a", "aac"}), "stated 2 s",
                      StateMatroskaLength(2000))
            << QStringList() << Range(0, 100) << u"25/1"_s << QString();
        CounterClip programStream =
            Beeping("mpg", "25", 4, {"-c:v", "mpeg2video", "-q:v", "3"}, {"-c:a", "mp2"});
        programStream.output = {"-f", "vob"};
        QTest::newRow("program stream whose first pack is zeroed")
            << Mended(programStream, "zeroed first pack", ZeroFirstPack) << QStringList()
            << Range(5, 100) << u"25/1"_s << QString();
        // As a recording cut out of a longer one: the packs' clock does not start near 0.
        CounterClip lateClock = programStream;
        lateClock.output += QStringList{"-output_ts_offset", "100"};
        QTest::newRow("program stream whose clock starts at 100 s, a span")
            << lateClock << QStringList{"--start", "1", "--end", "3"} << Range(25, 75) << u"25/1"_s
            << QString();
        QTest::newRow("AVI whose sound header claims more than its data")
            << Mended(Beeping("avi", "25", 4, {"-c:v", "mpeg4", "-vtag", "XVID", "-q:v", "3"},
                              {"-c:a", "pcm_s16le"}),
                      "long sound header", LengthenAviSound)
            << QStringList() << Range(0, 100) << u"25/1"_s << QString();
        CounterClip surround = Beeping("mkv", "25", 3, kH264, {"-c:a", "aac"});
        surround.audioChannels = 6;
        QTest::newRow("5.1 AAC in a span") << surround << QStringList{"--start", "0", "--end", "1"}
                                           << Range(0, 25) << u"25/1"_s << QString();
        // A second of each stream missing at 2.5 s: the last picture is held and the sound is
        // silent, and what follows keeps its place.
        QTest::newRow("a one-second hole in both streams")
            << HoledClip() << QStringList() << Range(0, 63) + Held(62, 25) + Range(63, 125)
            << u"25/1"_s << u"have a hole from 00:00:02.520 to 00:00:03.520"_s;
    }
    void conversionsFollowWhatThePlayerShows() {
        QFETCH(CounterClip, clip);
        QFETCH(QStringList, options);
        QFETCH(QList<int>, pictures);
        QFETCH(QString, rate);
        QFETCH(QString, said);
        const QString source = MakeCounterClip(clip);
        QVERIFY(!source.isEmpty());
        const ProcessResult run = Convert(source, output, options);
        QVERIFY2(run.exitCode == 0, run.standardError.constData());
        const QString told = QString::fromLocal8Bit(run.standardError);
        if (said.isEmpty())
            QVERIFY2(!told.contains(u"warning"_s), qPrintable(told));
        else
            QVERIFY2(told.contains(said), qPrintable(told));
        QCOMPARE(PictureNumbers(output), pictures);
        QCOMPARE(StreamOf(Probe(output), u"video"_s).value("r_frame_rate").toString(), rate);
        QString why;
        QVERIFY2(SoundFitsPictures(output, &why), qPrintable(why));
        const QStringList fraction = rate.split(u'/');
        const double written = fraction[0].toDouble() / fraction[1].toDouble();
        const QStringList sourceFraction = clip.frameRate.split(u'/');
        VerifyBeepsInStep(output,
                          sourceFraction[0].toDouble() /
                              (sourceFraction.size() > 1 ? sourceFraction[1].toDouble() : 1.0),
                          written);
    }

    // A span that runs past what a cut file holds is said, even when quiet; an intact file
    // says nothing, and a span that starts inside its last picture converts that picture (ASF
    // once gave nothing, and then stalled, from there).
    void onlyShortSourcesAreReported_data() {
        QTest::addColumn<CounterClip>("clip");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("said");
        QTest::newRow("Matroska cut at half")
            << CutClip() << QStringList{"--quiet", "--start", "0.2", "--end", "7.8"}
            << u"before the end of the span at 00:00:07.800 (the file is cut short or damaged "
               "there); the output ends there too."_s;
        // Nothing of the sound lies in the span: the file's own end of it is named.
        QTest::newRow("sound ending 2 s before the pictures, a span after it")
            << Beeping("mkv", "25", 4, kH264, {"-c:a", "aac", "-af", "atrim=end=2"})
            << QStringList{"--quiet", "--start", "3"} << u"The source's sound ends at 00:00:02.0"_s;
        const QStringList end = {"--quiet", "--start", "3.99"};
        QTest::newRow("intact Matroska to its last picture")
            << Beeping("mkv", "25", 4, kH264, {"-c:a", "aac"}) << end << QString();
        QTest::newRow("intact MP4 to its last picture")
            << Beeping("mp4", "25", 4, kH264, {"-c:a", "aac"}) << end << QString();
        QTest::newRow("intact program stream to its last picture")
            << Beeping("mpg", "25", 4, {"-c:v", "mpeg2video", "-q:v", "3"}, {"-c:a", "mp2"}) << end
            << QString();
        // Its sound packets end a picture before the pictures do, and carry no duration. A
        // quarter frame into the last picture goes through the plain graph, later through the
        // editing services.
        const CounterClip asf =
            Beeping("wmv", "25", 4, {"-c:v", "wmv2", "-q:v", "3"}, {"-c:a", "wmav2"});
        QTest::newRow("intact Windows Media from a quarter into its last picture")
            << asf << QStringList{"--quiet", "--start", "3.97"} << QString();
        QTest::newRow("intact Windows Media from late in its last picture")
            << asf << end << QString();
    }
    void onlyShortSourcesAreReported() {
        QFETCH(CounterClip, clip);
        QFETCH(QStringList, options);
        QFETCH(QString, said);
        const QString source = MakeCounterClip(clip);
        QVERIFY(!source.isEmpty());
        const ProcessResult run = Convert(source, output, options);
        QVERIFY2(run.exitCode == 0, run.standardError.constData());
        if (said.isEmpty()) {
            QVERIFY2(run.standardError.isEmpty(), run.standardError.constData());
            QCOMPARE(PictureNumbers(output), QList<int>{99});
        } else {
            QVERIFY2(run.standardError.contains("warning: ") &&
                         run.standardError.contains(said.toLatin1()),
                     run.standardError.constData());
        }
    }

    // The dialog says the same after "Done.", in a box of its own.
    void theDialogNamesAHoleAfterDone() {
        const QString source = MakeCounterClip(HoledClip());
        QVERIFY(!source.isEmpty());
        TestEnvironment dialogEnvironment;
        ConverterDialog dialog;
        QVERIFY(player_tests::OpenVideo(dialog, dialogEnvironment, source));
        QVERIFY(ConvertUncompressedAndWait(dialog, dialogEnvironment.scratchPath(u"dialog.avi"_s)));
        // The question about the missing compressor, then the warning.
        QVERIFY(QTest::qWaitFor([&] { return dialogEnvironment.messages.boxes.size() >= 2; }));
        const platform::BoxRequest& box = dialogEnvironment.messages.boxes.last();
        QCOMPARE(box.caption, u"Warning"_s);
        QVERIFY2(box.text.contains(u"pictures have a hole from 00:00:02.520"_s),
                 qPrintable(box.text));
    }

    // The editing services' render (taken by a span that starts late in a picture) fills holes
    // and says where a source falls short as the plain graph does: the same pictures from the
    // same span, the same words.
    void theEditingServicesFillAndSayAlike_data() {
        QTest::addColumn<CounterClip>("clip");
        QTest::newRow("a one-second hole in both streams") << HoledClip();
        QTest::newRow("Matroska cut at half") << CutClip();
    }
    void theEditingServicesFillAndSayAlike() {
        QFETCH(CounterClip, clip);
        const QString source = MakeCounterClip(clip);
        QVERIFY(!source.isEmpty());
        auto convert = [&](ReferenceTime start, const QString& name) {
            ConversionJob job;
            job.source = source;
            job.startMark = start;
            job.endMark = media::ProbeMediaFile(source.toStdString()).duration;
            job.output = environment.scratchPath(name);
            job.settings.outputWidth = 160;
            job.settings.outputHeight = 120;
            job.settings.outputFrameRate = 25.0;
            return std::pair{job.output, RunConversion(job)};
        };
        const auto [plainFile, plain] = convert(0, u"plain.avi"_s);
        // Half a frame in: later than the quarter frame in that the plain graph takes.
        const auto [editedFile, edited] = convert(kReferenceTimePerSecond / 50, u"edited.avi"_s);
        QVERIFY2(plain.completed() && edited.completed(),
                 qPrintable((plain.eventTexts + edited.eventTexts).join(u'\n')));
        QVERIFY(!plain.editingServices && edited.editingServices);
        QVERIFY(!plain.eventTexts.join(QString()).isEmpty());
        QCOMPARE(edited.eventTexts, plain.eventTexts);
        QCOMPARE(PictureNumbers(editedFile), PictureNumbers(plainFile));
        // The sound starts half a frame later in the span, and goes as far.
        QVERIFY(std::fabs(DecodedAudioSeconds(editedFile) - DecodedAudioSeconds(plainFile)) <=
                0.04);
        VerifyBeepsInStep(editedFile, 25, 25);
    }

    // A picture of odd height goes to 4:2:0 compressors at the even size below, said so; the
    // file holds that size, and it is what is reported.
    void oddSizesAreFittedToTheCompressor_data() {
        QTest::addColumn<QString>("compressor");
        QTest::newRow("x264enc") << u"x264enc"_s;
        QTest::newRow("mpeg2enc") << u"mpeg2enc"_s;
    }
    void oddSizesAreFittedToTheCompressor() {
        QFETCH(QString, compressor);
        const QString source = oddSizedSource();
        QVERIFY(!source.isEmpty());
        const ProcessResult run = RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH),
                                             {u"--overwrite"_s, u"--video-compressor"_s, compressor,
                                              u"--audio-compressor"_s, u"none"_s, source, output},
                                             kBoundMs);
        if (run.standardError.contains("no video compressor"))
            QSKIP(qPrintable(compressor + u" is not installed"_s));
        QVERIFY2(run.exitCode == 0, run.standardError.constData());
        QVERIFY2(run.standardError.contains("takes only frames of even sides; writing 720x404 "
                                            "for 720x405"),
                 run.standardError.constData());
        QVERIFY2(run.standardError.contains("Resolution: 720*404"), run.standardError.constData());
        const QJsonObject video = StreamOf(Probe(output), u"video"_s);
        QCOMPARE(QSize(video.value("width").toInt(), video.value("height").toInt()),
                 QSize(720, 404));
    }

    // The dialog says so in a box after "Done.", by the compressor's name, and its "Done." line
    // gives the size written.
    void theDialogSaysTheSizeItFitted() {
        if (!media::EncoderFeedsAvi("x264enc", true)) QSKIP("x264enc is not installed");
        const QString source = oddSizedSource();
        QVERIFY(!source.isEmpty());
        TestEnvironment dialogEnvironment;
        ConverterDialog dialog;
        QVERIFY(player_tests::OpenVideo(dialog, dialogEnvironment, source));
        ChangeOutput(dialog, [&](OutputSettings& settings) {
            settings.outputName = dialogEnvironment.scratchPath(u"fitted.avi"_s);
            settings.outputWidth = 720;
            settings.outputHeight = 405;
            settings.videoCompressor =
                CompressorHandle{"x264enc", u"H.264 (x264)"_s, media::EncoderKind::Video};
            settings.videoCompressionOn = 1;
            settings.audioCompressionOn = 0;
        });
        Press(dialog, MainDialogIds::kConvert);
        QVERIFY(
            QTest::qWaitFor([&] { return StatusText(dialog).startsWith(u"Done."_s); }, kBoundMs));
        QVERIFY2(StatusText(dialog).endsWith(u"Resolution: 720*404"_s),
                 qPrintable(StatusText(dialog)));
        QCOMPARE(dialogEnvironment.messages.boxes.size(), 1);
        const platform::BoxRequest& box = dialogEnvironment.messages.boxes.first();
        QCOMPARE(box.caption, u"Warning"_s);
        QCOMPARE(box.text,
                 u"H.264 (x264) takes only frames of even sides: the output is 720*404, "
                 "not 720*405."_s);
    }

private:
    // 4:2:0 of an odd height, as a decoder hands it on (ffmpeg's own sources round it).
    QString oddSizedSource() const {
        const QString source = environment.scratchPath(u"odd.mkv"_s);
        if (!QFileInfo::exists(source) &&
            RunProcess(u"ffmpeg"_s, {u"-v"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                     u"color=s=720x405:d=0.4,format=yuv444p"_s, u"-vf"_s,
                                     u"format=yuv420p"_s, u"-c:v"_s, u"ffv1"_s, source})
                    .exitCode != 0)
            return {};
        return source;
    }
};

FRAMEWELL_TEST_MAIN(RealTimelinesTest)
#include "test_real_timelines.moc"
