// The files people really have, beyond the plain clips: an animated GIF, a still picture,
// surround sound, a phone clip stored on its side, damaged and cut files, a conversion stopped
// part-way. Each converts as far as it can, or is refused, within a bound, and says so.

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <csignal>

#include "app/converter_dialog.h"
#include "media/source/media_probe.h"
#include "player/player_test_support.h"
#include "player/preview_window.h"
#include "support/avi_checks.h"
#include "support/counter_clips.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

constexpr int kBoundMs = 60000;

ProcessResult Convert(const QStringList& arguments) {
    return RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments, kBoundMs);
}

QStringList Raw(const QString& source, const QString& output) {
    return {u"--overwrite"_s,
            u"--quiet"_s,
            u"--video-compressor"_s,
            u"none"_s,
            u"--audio-compressor"_s,
            u"none"_s,
            source,
            output};
}

QList<int> Range(int first, int end) {
    QList<int> numbers;
    for (int n = first; n < end; ++n) numbers << n;
    return numbers;
}

CounterClip H264(double seconds, const QStringList& audio = {u"-c:a"_s, u"aac"_s}) {
    CounterClip clip;
    clip.extension = u"mkv"_s;
    clip.seconds = seconds;
    clip.video = {u"-c:v"_s, u"libx264"_s, u"-pix_fmt"_s, u"yuv420p"_s};
    clip.audio = audio;
    return clip;
}

// Bytes of the file overwritten with junk from a share of its length on.
std::function<bool(QByteArray&)> Damage(double share, int bytes) {
    return [share, bytes](QByteArray& data) {
        const auto at = static_cast<qsizetype>(data.size() * share);
        if (at + bytes > data.size()) return false;
        for (int i = 0; i < bytes; ++i) data[at + i] = static_cast<char>(data[at + i] ^ 0x5A);
        return true;
    };
}

// The MP4's first track turned a quarter clockwise, as phones store what they film upright.
bool TurnFirstTrack(QByteArray& data) {
    const qsizetype header = data.indexOf("tkhd");
    if (header < 0 || header + 4 + 76 > data.size()) return false;
    const quint32 matrix[9] = {0, 0x00010000, 0, 0xFFFF0000, 0, 0, 0, 0, 0x40000000};
    for (int i = 0; i < 9; ++i)
        for (int b = 0; b < 4; ++b)
            data[header + 4 + 40 + i * 4 + b] =
                static_cast<char>((matrix[i] >> (24 - 8 * b)) & 0xFF);
    return true;
}

double PictureSeconds(const QString& path) {
    const QJsonObject video = StreamOf(Probe(path), u"video"_s);
    const QStringList rate = video.value("r_frame_rate").toString().split(u'/');
    if (rate.size() != 2 || rate[0].toDouble() <= 0) return -1;
    return video.value("nb_read_frames").toString().toDouble() * rate[1].toDouble() /
           rate[0].toDouble();
}

void VerifySoundFitsPictures(const QString& path) {
    QString why;
    QVERIFY2(SoundFitsPictures(path, &why), qPrintable(why));
}

}  // namespace

class AwkwardSourcesTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;
    QString output;

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", environment.settingsFolder().toLocal8Bit());
        output = environment.scratchPath(u"out.avi"_s);
    }

    void animatedGifConvertsAsTheShortVideoItIs() {
        CounterClip gif;
        gif.extension = u"gif"_s;
        gif.seconds = 2.0;
        gif.frameRate = u"10"_s;
        const QString clip = MakeCounterClip(gif);
        QVERIFY(!clip.isEmpty());
        ProcessResult run = Convert(Raw(clip, output));
        QVERIFY2(run.exitCode == 0 && !run.timedOut, run.standardError.constData());
        QCOMPARE(PictureNumbers(output), Range(0, 20));
        QCOMPARE(StreamOf(Probe(output), u"video"_s).value("r_frame_rate").toString(), u"10/1"_s);
        run = Convert(Raw(clip, output) << u"--start"_s << u"0.5"_s << u"--end"_s << u"1.2"_s);
        QVERIFY2(run.exitCode == 0, run.standardError.constData());
        QCOMPARE(PictureNumbers(output), Range(5, 12));
    }

    void stillPicturesAreRefusedAsSuch() {
        for (const char* extension : {"png", "jpg"}) {
            ClipSpec spec;
            spec.audio = false;
            spec.extension = QString::fromLatin1(extension);
            spec.videoCodec = extension == QByteArray("png") ? u"png"_s : u"mjpeg"_s;
            spec.extraArguments = {u"-frames:v"_s, u"1"_s, u"-pix_fmt"_s,
                                   extension == QByteArray("png") ? u"rgb24"_s : u"yuvj420p"_s};
            const QString still = MakeClip(spec);
            QVERIFY(!still.isEmpty());
            const ProcessResult run = Convert(Raw(still, output));
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.standardError.contains("is a still picture, not a video"),
                     run.standardError.constData());

            TestEnvironment dialogEnvironment;
            ConverterDialog dialog;
            QVERIFY(player_tests::OpenVideo(dialog, dialogEnvironment, still));
            QCOMPARE(dialogEnvironment.messages.boxes.size(), 1);
            QVERIFY2(dialogEnvironment.messages.texts().first().contains(
                         u"is a still picture, not a video."_s),
                     qPrintable(dialogEnvironment.messages.texts().first()));
            QCOMPARE(dialog.videoClips().count, 0);
        }
    }

    // Surround sound keeps its channels where the compressor takes them (AC-3 takes 5.1) and
    // is mixed down to stereo otherwise; the multiplexer never sees channels it cannot place.
    void surroundSoundConvertsWithoutCriticals_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("compressor");
        QTest::addColumn<int>("written");
        QTest::newRow("5.1 AAC, uncompressed") << 6 << 48000 << u"aac"_s << u"none"_s << 2;
        QTest::newRow("5.1 AAC to AC-3") << 6 << 48000 << u"aac"_s << u"avenc_ac3"_s << 6;
        QTest::newRow("8 channels at 96 kHz") << 8 << 96000 << u"flac"_s << u"none"_s << 2;
    }
    void surroundSoundConvertsWithoutCriticals() {
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(QString, codec);
        QFETCH(QString, compressor);
        QFETCH(int, written);
        CounterClip clip = H264(2.0, {u"-c:a"_s, codec});
        clip.audioChannels = channels;
        clip.audioRate = rate;
        const QString source = MakeCounterClip(clip);
        QVERIFY(!source.isEmpty());
        QStringList arguments = Raw(source, output);
        arguments[5] = compressor;
        const ProcessResult run = Convert(arguments);
        QVERIFY2(run.exitCode == 0, run.standardError.constData());
        QVERIFY2(!run.standardError.contains("CRITICAL") && !run.standardError.contains("WARNING"),
                 run.standardError.constData());
        const QJsonObject sound = StreamOf(Probe(output), u"audio"_s);
        QCOMPARE(sound.value("channels").toInt(), written);
        if (written == 6) QVERIFY(sound.value("channel_layout").toString().startsWith(u"5.1"_s));
        VerifySoundFitsPictures(output);
    }

    // A phone films upright and stores the pictures on their side, with a display matrix that
    // says so: the window and the conversion show them upright, and "Original size" is the
    // upright size. A direct stream copy cannot turn them, and says so.
    void turnedPhoneClipsComeOutUpright() {
        CounterClip phone = H264(2.0);
        phone.extension = u"mp4"_s;
        phone.mendName = u"turned"_s;
        phone.mend = TurnFirstTrack;
        const QString clip = MakeCounterClip(phone);
        QVERIFY(!clip.isEmpty());
        const media::ProbeResult probe = media::ProbeMediaFile(clip.toStdString());
        QCOMPARE(QSize(probe.width, probe.height), QSize(120, 160));
        QCOMPARE(probe.rotation, 90);

        const ProcessResult run = Convert(Raw(clip, output));
        QVERIFY2(run.exitCode == 0, run.standardError.constData());
        const QJsonObject video = StreamOf(Probe(output), u"video"_s);
        QCOMPARE(QSize(video.value("width").toInt(), video.value("height").toInt()),
                 QSize(120, 160));
        QCOMPARE(PictureNumbers(output, true), Range(0, 50));

        // A copy would write them on their side, with nothing in the AVI file to say so.
        QStringList copy = Raw(clip, output);
        copy[3] = u"copy"_s;
        const ProcessResult copied = Convert(copy);
        QCOMPARE(copied.exitCode, 1);
        QVERIFY2(copied.standardError.contains("shown turned by 90 degrees") &&
                     copied.standardError.contains("Choose a video compressor."),
                 copied.standardError.constData());

        TestEnvironment dialogEnvironment;
        ConverterDialog dialog;
        QVERIFY(player_tests::OpenVideo(dialog, dialogEnvironment, clip));
        QCOMPARE(QSize(dialog.settings().outputWidth, dialog.settings().outputHeight),
                 QSize(120, 160));
        QCOMPARE(currentPlayer->m_hWnd->size(), QSize(120, 160));
    }

    // Damage the readers get past converts whole; damage that ends a stream early, or a file
    // cut short, converts as far as the file goes and says where a stream fell short.
    void damagedFilesSayWhereTheyEnd_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("whole");
        QTest::newRow("damage inside a picture") << u"picture"_s << true;
        QTest::newRow("damage across a block's header") << u"header"_s << false;
        QTest::newRow("cut at 60%") << u"cut"_s << false;
    }
    void damagedFilesSayWhereTheyEnd() {
        QFETCH(QString, kind);
        QFETCH(bool, whole);
        CounterClip clip = H264(5.0);
        clip.mendName = kind;
        if (kind == u"picture"_s) clip.mend = Damage(0.5, 16);
        if (kind == u"header"_s) clip.mend = Damage(0.15, 64);
        if (kind == u"cut"_s)
            clip.mend = [](QByteArray& data) {
                data.truncate(data.size() * 6 / 10);
                return true;
            };
        const QString source = MakeCounterClip(clip);
        QVERIFY(!source.isEmpty());
        const ProcessResult run = Convert(Raw(source, output));
        QVERIFY2(run.exitCode == 0, run.standardError.constData());
        const QList<int> pictures = PictureNumbers(output);
        if (whole) {
            QCOMPARE(pictures.size(), 125);
            QVERIFY2(run.standardError.isEmpty(), run.standardError.constData());
            return;
        }
        QVERIFY2(run.standardError.contains("warning: The source's"),
                 run.standardError.constData());
        QVERIFY2(run.standardError.contains("before the end of the span"),
                 run.standardError.constData());
        // What the file holds comes out in order; a cut file's length is what it holds.
        QVERIFY(pictures.size() >= 20);
        QCOMPARE(pictures.mid(0, 16), Range(0, 16));
        if (kind == u"cut"_s)
            QVERIFY2(pictures.size() < 100, qPrintable(QString::number(pictures.size())));
    }

    // Ctrl+C to the command line stops as Stop does: the file is finished, and its sound ends
    // with its pictures although the sound is rendered seconds ahead of them.
    void anInterruptedConversionEndsItsSoundWithItsPictures() {
        const QString source = MakeCounterClip(H264(40.0));
        QVERIFY(!source.isEmpty());
        QProcess process;
        process.start(
            QStringLiteral(FRAMEWELL_CONVERT_PATH),
            {u"--overwrite"_s, u"--video-compressor"_s, u"avenc_mpeg4"_s, u"--audio-compressor"_s,
             u"none"_s, u"--size"_s, u"1280x720"_s, source, output});
        QVERIFY(process.waitForStarted());
        // The first progress line: the graph runs and Ctrl+C is taken.
        QByteArray said;
        QVERIFY(QTest::qWaitFor(
            [&] { return said.append(process.readAllStandardError()).contains("%"); }, kBoundMs));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(kBoundMs));
        const double pictures = PictureSeconds(output);
        QVERIFY(pictures < 39.0);
        VerifySoundFitsPictures(output);
        // Where it says it stopped is where the pictures end, not where the sound, which runs
        // ahead into the encoders, had come.
        said.append(process.readAllStandardError());
        const QRegularExpressionMatch stop =
            QRegularExpression(u"stopped by SIGINT at (\\d+):(\\d+):(\\d+\\.\\d+)"_s)
                .match(QString::fromLocal8Bit(said));
        QVERIFY2(stop.hasMatch(), said.constData());
        const double told = stop.captured(1).toDouble() * 3600 + stop.captured(2).toDouble() * 60 +
                            stop.captured(3).toDouble();
        QVERIFY2(std::fabs(told - pictures) <= 0.1,
                 qPrintable(u"said %1 s, wrote %2 s"_s.arg(told).arg(pictures)));
    }

    // The compressors' trial encodings print nothing: what a library says while it is tried is
    // not a message for the user.
    void compressorTrialsAreQuiet() {
        const ProcessResult run = Convert({u"--list-compressors"_s});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.standardError.isEmpty(), run.standardError.constData());
    }
};

FRAMEWELL_TEST_MAIN(AwkwardSourcesTest)
#include "test_awkward_sources.moc"
