// What framewell-convert takes from its source besides the span: the sound track it is told
// (two tones of different pitch tell them apart), subtitles drawn where their cue is and
// nowhere else, from text or from bitmaps (an output held against the same conversion without
// them), pictures deinterlaced (ffmpeg's idet counts the combed ones), in a whole conversion, in a
// span (which goes through the editing services) and with a stop.

#include <QFile>
#include <QtTest>

#include <csignal>
#include <memory>

#include "conversion_runner.h"
#include "support/media_fixtures.h"
#include "support/media_measures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

ProcessResult convert(const QStringList& arguments) {
    return RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments, 90000);
}

QStringList words(const char* line) {
    return QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts);
}

// Two seconds of bands that move, 25 pictures a second, each made of two fields taken 20 ms
// apart: MPEG-2 that says so (field order in its stream), or H.264 that says nothing.
QString interlaced(bool declared) {
    QStringList arguments = {
        u"-f"_s, u"lavfi"_s, u"-i"_s,
        u"nullsrc=s=352x288:r=50:d=2,geq=lum='128+100*sin((X+2*Y)/12-T*8)':cb=128:cr=128"_s,
        u"-f"_s, u"lavfi"_s, u"-i"_s, u"sine=frequency=440:d=2"_s, u"-vf"_s,
        declared ? u"tinterlace=mode=interleave_top,setfield=tff"_s
                 : u"tinterlace=mode=interleave_top,setfield=prog"_s};
    if (declared)
        arguments << u"-c:v"_s << u"mpeg2video"_s << u"-flags"_s << u"+ilme+ildct"_s << u"-top"_s
                  << u"1"_s << u"-q:v"_s << u"2"_s << u"-c:a"_s << u"mp2"_s;
    else
        arguments << u"-c:v"_s << u"libx264"_s << u"-qp"_s << u"5"_s << u"-preset"_s
                  << u"ultrafast"_s << u"-c:a"_s << u"mp3"_s;
    return MakeFile(arguments, declared ? u"mpg"_s : u"mkv"_s);
}

}  // namespace

class SourceChoicesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> environment;
    QString srt;     // one cue, 1 s to 2 s
    QString ass;     // the same cue in an ASS script, styled
    QString source;  // MakeTwoToneFilm(srt)
    QString bitmapSource;  // the same film with the cue as a PGS picture

    QString out(const QString& name) { return environment->scratchPath(name); }

private slots:
    void initTestCase() {
        environment = std::make_unique<TestEnvironment>();
        qputenv("XDG_CONFIG_HOME", environment->settingsFolder().toLocal8Bit());
        srt = out(u"cue.srt"_s);
        QFile file(srt);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1\n00:00:01,000 --> 00:00:02,000\nHELLO WORLD\n\n");
        file.close();
        ass = out(u"cue.ass"_s);
        QFile script(ass);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
                     "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, "
                     "Text\r\n"
                     "Comment: 0,0:00:00.00,0:00:03.00,Default,,0,0,0,,never shown\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\b1}HELLO,{\\b0}\\NWORLD\r\n");
        script.close();
        source = MakeTwoToneFilm(srt);
        QVERIFY(!source.isEmpty());
        const QString sup = out(u"cue.sup"_s);
        QVERIFY(WriteBitmapCue(sup));
        bitmapSource = MakeTwoToneFilm(sup);
        QVERIFY(!bitmapSource.isEmpty());
    }

    void tracksAreListedAndTheChosenSoundIsWritten() {
        const ProcessResult listed = convert({u"--list-tracks"_s, source});
        QCOMPARE(listed.exitCode, 0);
        const QStringList lines = QString::fromUtf8(listed.standardOutput).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[0].startsWith(u"1  video  "), qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(u"1  sound  ") && lines[1].contains(u"  en  "), qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(u"2  sound  ") && lines[2].contains(u"\"Commentary\"") &&
                     lines[2].endsWith(u"00:00:03.000"),
                 qPrintable(lines[2]));
        QVERIFY2(lines[3].startsWith(u"1  subtitles  "), qPrintable(lines[3]));

        // Whole (one plain pipeline) and a span that starts inside a picture (the editing
        // services).
        const struct {
            const char* name;
            QStringList options;
            double pitch;
        } cases[] = {{"first by default", {}, 440.0},
                     {"second, whole", words("--audio-track 2"), 1000.0},
                     {"second, span", words("--audio-track 2 --start 0.53 --end 2.5"), 1000.0}};
        for (const auto& c : cases) {
            const QString written = out(u"%1.avi"_s.arg(QString::fromLatin1(c.name)));
            const ProcessResult result =
                convert(words("--quiet --audio-compressor none") << c.options << source << written);
            QVERIFY2(result.exitCode == 0, result.standardError.constData());
            const double pitch = TonePitch(written);
            QVERIFY2(std::fabs(pitch - c.pitch) < c.pitch * 0.02,
                     qPrintable(u"%1: %2 Hz"_s.arg(QString::fromLatin1(c.name)).arg(pitch)));
        }

        // A track the file does not have: refused, with the tracks it has.
        ProcessResult refused = convert(words("--audio-track 3") << source << out(u"no.avi"_s));
        QCOMPARE(refused.exitCode, 2);
        QVERIFY(refused.standardError.contains("no sound track 3; it has 2"));
        QVERIFY(refused.standardError.contains("2  sound  "));
        // A copy of the sound is the first track's.
        refused = convert(words("--audio-track 2 --audio-compressor copy") << source << out(u"no.avi"_s));
        QCOMPARE(refused.exitCode, 2);
        QVERIFY(!QFile::exists(out(u"no.avi"_s)));
    }

    // Raw pictures, so that where no cue is the pictures are the very same as without
    // subtitles, and where one is they differ.
    void subtitlesShowWhileTheirCueDoes() {
        const QStringList raw = words("--quiet --video-compressor none --audio-compressor none");
        const QString plain = out(u"plain.avi"_s);
        const QString spanPlain = out(u"span plain.avi"_s);
        const QString fromFile = out(u"from file.avi"_s);
        const QString fromScript = out(u"from script.avi"_s);
        const QString fromTrack = out(u"from track.avi"_s);
        const QString fromBitmaps = out(u"from bitmaps.avi"_s);
        const QStringList span = words("--start 0.53 --end 2.5");
        const QStringList track = {u"--subtitles"_s, u"1"_s};
        const struct {
            QStringList options;
            QString input;
            QString written;
        } conversions[] = {{{}, source, plain},
                           {span, source, spanPlain},
                           {{u"--subtitles"_s, srt}, source, fromFile},
                           {{u"--subtitles"_s, ass}, source, fromScript},
                           {span + track, source, fromTrack},
                           {track, bitmapSource, fromBitmaps}};
        for (const auto& c : conversions) {
            const ProcessResult result = convert(raw + c.options + QStringList{c.input, c.written});
            QVERIFY2(result.exitCode == 0, result.standardError.constData());
        }
        // Output times: the cue shows from 1 s to 2 s of the source, in the span from 0.47 s.
        const struct {
            QString with;
            QString without;
            double seconds;
            bool shown;
        } checks[] = {{fromFile, plain, 0.5, false},     {fromFile, plain, 1.5, true},
                      {fromFile, plain, 2.5, false},     {fromScript, plain, 0.5, false},
                      {fromScript, plain, 1.5, true},    {fromTrack, spanPlain, 0.2, false},
                      {fromTrack, spanPlain, 1.0, true}, {fromTrack, spanPlain, 1.8, false},
                      {fromBitmaps, plain, 0.5, false},  {fromBitmaps, plain, 1.5, true},
                      {fromBitmaps, plain, 2.5, false}};
        for (const auto& c : checks) {
            const double psnr = BottomPsnr(c.with, c.without, c.seconds, 0.3);
            QVERIFY2(psnr > 0 && (c.shown ? psnr < 25.0 : std::isinf(psnr)),
                     qPrintable(u"%1 at %2 s: PSNR %3 dB"_s.arg(c.with).arg(c.seconds).arg(psnr)));
        }

        // What cannot be burnt in is named, and nothing is written.
        ProcessResult refused = convert(words("--subtitles 1 --video-compressor copy") << source
                                                                                      << out(u"no.avi"_s));
        QCOMPARE(refused.exitCode, 2);
        QVERIFY(refused.standardError.contains("Direct stream copy"));
        refused = convert(QStringList{u"--subtitles"_s, out(u"missing.srt"_s), source, out(u"no.avi"_s)});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY(refused.standardError.contains("missing.srt"));
        QVERIFY(!QFile::exists(out(u"no.avi"_s)));
    }

    void combedPicturesAreDeinterlaced() {
        const QString declared = interlaced(true);
        const QString unflagged = interlaced(false);
        QVERIFY(!declared.isEmpty() && !unflagged.isEmpty());
        QVERIFY(CombedShare(declared) > 0.9 && CombedShare(unflagged) > 0.9);
        const struct {
            const char* name;
            QString input;
            QStringList options;
            bool combed;
        } cases[] = {
            {"said, auto", declared, words("--deinterlace auto"), false},
            {"said, off", declared, words("--deinterlace off"), true},
            {"said, auto, span", declared, words("--start 0.5 --end 1.9"), false},
            {"said, off, span", declared, words("--deinterlace off --start 0.5 --end 1.9"), true},
            {"combed, auto", unflagged, words("--deinterlace auto"), false},
            {"combed, off", unflagged, words("--deinterlace off"), true},
        };
        for (const auto& c : cases) {
            const QString written = out(u"%1.avi"_s.arg(QString::fromLatin1(c.name)));
            const ProcessResult result = convert(words("--quiet --video-compressor none --audio-compressor none") << c.options << c.input << written);
            QVERIFY2(result.exitCode == 0, result.standardError.constData());
            const double share = CombedShare(written);
            // idet takes a few pictures to settle.
            QVERIFY2(c.combed ? share > 0.9 : share >= 0 && share < 0.2,
                     qPrintable(u"%1: %2 combed"_s.arg(QString::fromLatin1(c.name)).arg(share)));
        }
        const ProcessResult refused =
            convert(words("--deinterlace on --video-compressor copy") << declared << out(u"no.avi"_s));
        QCOMPARE(refused.exitCode, 2);
    }

    // A stop ends the file as it stands, with every choice in it.
    void stopKeepsTheChoices() {
        const QString longer = MakeTwoToneFilm(srt, 30.0);
        const QString written = out(u"stopped.avi"_s);
        QProcess process;
        process.start(QStringLiteral(FRAMEWELL_CONVERT_PATH),
                      words("--size 1280x960 --audio-track 2 --deinterlace on --audio-compressor none")
                          << u"--subtitles"_s << srt << longer << written);
        QVERIFY(process.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return process.readAllStandardError().contains("%"); }, 60000));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 130);
        const int frames = CountVideoFrames(written);
        QVERIFY2(frames > 0 && frames < 750, qPrintable(QString::number(frames)));
        QVERIFY(std::fabs(TonePitch(written) - 1000.0) < 20.0);
    }
};

FRAMEWELL_TEST_MAIN(SourceChoicesTest)
#include "test_source_choices.moc"
