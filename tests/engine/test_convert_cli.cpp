// framewell-convert as a script sees it: its command line, exit codes, refusals and outputs.

#include <QFile>
#include <QtTest>

#include "cli/convert_options.h"
#include "conversion_runner.h"
#include "support/avi_checks.h"
#include "support/counter_clips.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

// Words of a command line written out with spaces.
QStringList words(const char* line) {
    return QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts);
}

ProcessResult convert(const QStringList& arguments) {
    return RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments, 60000);
}

}  // namespace

class ConvertCliTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;
    QString source;  // 3 s, 320x240, 25 fps

private slots:
    void initTestCase() {
        // The converter reads the dialog's settings branch: let it find the test's, not a user's.
        qputenv("XDG_CONFIG_HOME", environment.settingsFolder().toLocal8Bit());
        ClipSpec spec;
        spec.width = 320;
        spec.height = 240;
        source = MakeClip(spec);
        QVERIFY(!source.isEmpty());
    }

    void commandLineValuesAreParsed() {
        ParsedCommandLine parsed = ParseConvertArguments(
            words("--start 1.25 --end=3.0000001 --size 203x9 --fps 30000/1001 --resize stretch "
                  "in.mpg out.avi"));
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
        QCOMPARE(*parsed.options.startMark, ReferenceTime{12'500'000});
        QCOMPARE(*parsed.options.endMark, ReferenceTime{30'000'001});  // exact, not whole seconds
        QCOMPARE(*parsed.options.size, QSize(200, 16));  // multiples of 8, at least 16
        QVERIFY(std::fabs(*parsed.options.frameRate - 29.97003) < 0.00001);
        QCOMPARE(parsed.options.resizeMode, 0);
        QCOMPARE(parsed.options.input, u"in.mpg"_s);

        parsed = ParseConvertArguments(words("a b"));
        QVERIFY(parsed.ok());
        QVERIFY(!parsed.options.startMark && !parsed.options.endMark && !parsed.options.size &&
                !parsed.options.frameRate);
        QCOMPARE(parsed.options.resizeMode, 2);

        // The source's choices; a number names a subtitle track, anything else a file.
        parsed = ParseConvertArguments(
            words("--audio-track 2 --subtitles 3 --deinterlace off --target-size 4.7 --jobs 2 "
                  "a b"));
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
        QCOMPARE(parsed.options.audioTrack, 2);
        QCOMPARE(parsed.options.subtitleTrack, 3);
        QCOMPARE(parsed.options.deinterlace, media::DeinterlaceMode::Off);
        QCOMPARE(*parsed.options.targetSizeMegabytes, 4.7);
        QVERIFY(!parsed.options.toFolder);
        parsed = ParseConvertArguments(words("--subtitles ./3 a b c folder"));
        QCOMPARE(parsed.options.subtitleFile, u"./3"_s);
        QCOMPARE(parsed.options.subtitleTrack, 0);
        QVERIFY(parsed.options.toFolder);
        QCOMPARE(parsed.options.inputs, (QStringList{u"a"_s, u"b"_s, u"c"_s}));

        for (const char* wrong :
             {"", "only-input", "--start -1 a b", "--start 2 --end 2 a b", "--size 640*480 a b",
              "--fps 0 a b", "--resize crop a b", "--colour a b", "a b --end",
              "--audio-track 0 a b", "--subtitles 0 a b", "--deinterlace yes a b",
              "--target-size 0 a b", "--jobs 65 a b", "--list-tracks", "--list-tracks a b"})
            QVERIFY2(!ParseConvertArguments(words(wrong)).ok(), wrong);
    }

    void exitCodesTellWhatHappened() {
        const QString output = environment.scratchPath(u"cli.avi"_s);
        QCOMPARE(convert({}).exitCode, 2);
        QCOMPARE(convert(words("--fps fast") << source << output).exitCode, 2);
        QCOMPARE(convert(words("--start 9") << source << output).exitCode, 2);  // past the end
        QCOMPARE(convert({source, source}).exitCode, 2);  // would destroy its own source
        ProcessResult result = convert(words("--video-compressor nothing") << source << output);
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.standardError.contains("--list-compressors"));

        result = convert({environment.scratchPath(u"missing.avi"_s), output});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(!QFile::exists(output));
        // One line with the real reason, naming the folder; no step of the dialog's.
        result = convert(words("--quiet") << source << u"/proc/no-such-folder/out.avi"_s);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.standardError.contains(
                     "framewell-convert: The folder \"/proc/no-such-folder\" does not exist.\n"),
                 result.standardError.constData());
        QVERIFY(!result.standardError.contains("pControl"));

        result = convert(words("--list-compressors"));
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.standardOutput.contains(
            "\tvideo\tMPEG-4 Part 2 Video (DivX compatible)\tavenc_mpeg4\n"));
        QVERIFY(result.standardOutput.contains("\taudio\tMP3 Audio (LAME)\tlamemp3enc\n"));
    }

    void anExistingOutputIsRefusedUnlessOverwriteIsGiven() {
        const QString output = environment.scratchPath(u"exists.avi"_s);
        QFile file(output);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("precious") == 8);
        file.close();
        ProcessResult result = convert({source, output});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.standardError.contains("--overwrite"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("precious"));
        file.close();

        // Given, the file is replaced: the whole length by default, here with sound uncompressed.
        QCOMPARE(convert(words("--overwrite --quiet --audio-compressor none") << source << output)
                     .exitCode,
                 0);
        QVERIFY2(StreamSummary(output).contains(u" 75 frames | pcm_s16le"_s),
                 qPrintable(StreamSummary(output)));
    }

    void aConversionFollowsItsOptions() {
        const QString output = environment.scratchPath(u"options.avi"_s);
        const ProcessResult result =
            convert(words("--start 1.04 --end 2.5 --size 170x130 --fps 29.97 --video-compressor "
                          "AVENC_MPEG4 --audio-compressor")
                    << u"mp3 audio (lame)"_s << source << output);
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.standardError.contains("100%"));
        QVERIFY(result.standardError.contains("Done. Output File: " + output.toUtf8() +
                                              "     Resolution: 168*128"));
        // ceil(1.46 s x 29.97) frames from the source frame at 1.04 s.
        QCOMPARE(StreamSummary(output),
                 u"mpeg4 DIVX yuv420p 168x128 30000/1001 44 frames | mp3 44100 Hz 2 ch"_s);
        QCOMPARE(SourceFrameAt(output, 0), std::optional<int>(26));
    }

    // The sound of a span comes from its marks, as its pictures do: the source's beeps at 2 s
    // and 3 s come 0.4 s and 1.4 s into a span from 1.6 s, each with its picture.
    void aSpansSoundComesFromItsMarks() {
        CounterClip clip;
        clip.extension = u"mkv"_s;
        clip.beeps = true;
        clip.video = words("-c:v mpeg4 -q:v 3");
        clip.audio = words("-c:a pcm_s16le");
        const QString beeping = MakeCounterClip(clip);
        QVERIFY(!beeping.isEmpty());
        const QString output = environment.scratchPath(u"span-sound.avi"_s);
        QCOMPARE(convert(words("--overwrite --quiet --start 1.6 --end 3.6 --video-compressor none "
                               "--audio-compressor none")
                         << beeping << output)
                     .exitCode,
                 0);
        const QList<double> beeps = BeepTimes(output);
        QCOMPARE(beeps.size(), 2);
        for (int i = 0; i < beeps.size(); ++i)
            QVERIFY2(qAbs(beeps[i] - (0.4 + i)) < 0.01, qPrintable(QString::number(beeps[i])));
        for (double offset : BeepOffsets(output, 25.0, 25.0))
            QVERIFY2(qAbs(offset) < 0.01, qPrintable(QString::number(offset)));
    }
};

FRAMEWELL_TEST_MAIN(ConvertCliTest)
#include "test_convert_cli.moc"
