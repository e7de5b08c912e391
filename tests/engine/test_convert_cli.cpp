// framewell-convert as a script sees it: its command line, exit codes, refusals and outputs.

#include <QFile>
#include <QJsonObject>
#include <QtTest>

#include "cli/convert_options.h"
#include "support/avi_checks.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;

namespace {

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
        spec.seconds = 3.0;
        spec.width = 320;
        spec.height = 240;
        source = MakeClip(spec);
        QVERIFY(!source.isEmpty());
    }

    void commandLineValuesAreParsed() {
        ParsedCommandLine parsed = ParseConvertArguments(
            {QStringLiteral("--start"), QStringLiteral("1.25"), QStringLiteral("--end=3.0000001"),
             QStringLiteral("--size"), QStringLiteral("203x9"), QStringLiteral("--fps"),
             QStringLiteral("30000/1001"), QStringLiteral("--resize"), QStringLiteral("stretch"),
             QStringLiteral("in.mpg"), QStringLiteral("out.avi")});
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
        QCOMPARE(*parsed.options.startMark, ReferenceTime{12'500'000});
        QCOMPARE(*parsed.options.endMark, ReferenceTime{30'000'001});  // exact, not whole seconds
        QCOMPARE(*parsed.options.size, QSize(200, 16));  // multiples of 8, at least 16
        QVERIFY(std::fabs(*parsed.options.frameRate - 29.97003) < 0.00001);
        QCOMPARE(parsed.options.resizeMode, 0);
        QCOMPARE(parsed.options.input, QStringLiteral("in.mpg"));

        parsed = ParseConvertArguments({QStringLiteral("a"), QStringLiteral("b")});
        QVERIFY(parsed.ok());
        QVERIFY(!parsed.options.startMark && !parsed.options.endMark && !parsed.options.size &&
                !parsed.options.frameRate);
        QCOMPARE(parsed.options.resizeMode, 2);
        QCOMPARE(parsed.options.videoCompressor, QStringLiteral("default"));

        const QList<QStringList> wrong = {
            {},
            {QStringLiteral("only-input")},
            {QStringLiteral("--start"), QStringLiteral("-1"), QStringLiteral("a"),
             QStringLiteral("b")},
            {QStringLiteral("--start"), QStringLiteral("2"), QStringLiteral("--end"),
             QStringLiteral("2"), QStringLiteral("a"), QStringLiteral("b")},
            {QStringLiteral("--size"), QStringLiteral("640*480"), QStringLiteral("a"),
             QStringLiteral("b")},
            {QStringLiteral("--fps"), QStringLiteral("0"), QStringLiteral("a"),
             QStringLiteral("b")},
            {QStringLiteral("--resize"), QStringLiteral("crop"), QStringLiteral("a"),
             QStringLiteral("b")},
            {QStringLiteral("--colour"), QStringLiteral("a"), QStringLiteral("b")},
            {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("--end")},
        };
        for (const QStringList& arguments : wrong)
            QVERIFY2(!ParseConvertArguments(arguments).ok(),
                     qPrintable(arguments.join(QLatin1Char(' '))));
    }

    void exitCodesTellWhatHappened() {
        QCOMPARE(convert({}).exitCode, 2);
        QCOMPARE(convert({QStringLiteral("--fps"), QStringLiteral("fast"), source,
                          QStringLiteral("x.avi")})
                     .exitCode,
                 2);
        const QString output = environment.scratchPath(QStringLiteral("cli.avi"));
        ProcessResult result = convert({QStringLiteral("--video-compressor"),
                                        QStringLiteral("no such codec"), source, output});
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.standardError.contains("--list-compressors"));
        QCOMPARE(convert({QStringLiteral("--start"), QStringLiteral("9"), source, output}).exitCode,
                 2);
        QCOMPARE(convert({source, source}).exitCode, 2);  // would destroy its own source

        result = convert({environment.scratchPath(QStringLiteral("missing.avi")), output});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(!QFile::exists(output));

        result = convert(
            {QStringLiteral("--quiet"), source, QStringLiteral("/proc/no-such-folder/out.avi")});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.standardError.contains("for writing"), result.standardError.constData());

        result = convert({QStringLiteral("--list-compressors")});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.standardOutput.contains(
            "\tvideo\tMPEG-4 Part 2 Video (DivX compatible)\tavenc_mpeg4\n"));
        QVERIFY(result.standardOutput.contains("\taudio\tMP3 Audio (LAME)\tlamemp3enc\n"));
    }

    void anExistingOutputIsRefusedUnlessOverwriteIsGiven() {
        const QString output = environment.scratchPath(QStringLiteral("exists.avi"));
        QFile file(output);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
        file.close();
        ProcessResult result = convert({source, output});
        QCOMPARE(result.exitCode, 1);
        QVERIFY(result.standardError.contains("--overwrite"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("precious"));
        file.close();

        result =
            convert({QStringLiteral("--overwrite"), QStringLiteral("--quiet"), source, output});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(CountVideoFrames(output), 75);
    }

    void aConversionFollowsItsOptions() {
        const QString output = environment.scratchPath(QStringLiteral("options.avi"));
        const ProcessResult result = convert(
            {QStringLiteral("--start"), QStringLiteral("1.04"), QStringLiteral("--end"),
             QStringLiteral("2.5"), QStringLiteral("--size"), QStringLiteral("170x130"),
             QStringLiteral("--fps"), QStringLiteral("29.97"), QStringLiteral("--video-compressor"),
             QStringLiteral("AVENC_MPEG4"), QStringLiteral("--audio-compressor"),
             QStringLiteral("mp3 audio (lame)"), source, output});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.standardError.contains("100%"));
        QVERIFY(result.standardError.contains("Done. Output File: " + output.toUtf8() +
                                              "     Resolution: 168*128"));
        const QJsonObject probe = Probe(output);
        const QJsonObject video = StreamOf(probe, QStringLiteral("video"));
        QCOMPARE(video.value(QLatin1String("codec_name")).toString(), QStringLiteral("mpeg4"));
        QCOMPARE(video.value(QLatin1String("width")).toInt(), 168);
        QCOMPARE(video.value(QLatin1String("height")).toInt(), 128);
        QCOMPARE(video.value(QLatin1String("r_frame_rate")).toString(),
                 QStringLiteral("30000/1001"));
        QCOMPARE(CountVideoFrames(output), 44);  // ceil(1.46 s x 29.97)
        QCOMPARE(SourceFrameAt(output, 0), std::optional<int>(26));
        QCOMPARE(
            StreamOf(probe, QStringLiteral("audio")).value(QLatin1String("codec_name")).toString(),
            QStringLiteral("mp3"));

        // A compressor by its position in the list, and uncompressed audio.
        QString position;
        for (const QByteArray& line :
             convert({QStringLiteral("--list-compressors")}).standardOutput.split('\n'))
            if (line.endsWith("\tavenc_huffyuv"))
                position = QString::fromLatin1(line.split('\t').value(0));
        QVERIFY(!position.isEmpty());
        const QString raw = environment.scratchPath(QStringLiteral("positions.avi"));
        QCOMPARE(convert({QStringLiteral("--video-compressor"), position,
                          QStringLiteral("--audio-compressor"), QStringLiteral("none"),
                          QStringLiteral("--quiet"), source, raw})
                     .exitCode,
                 0);
        const QJsonObject rawProbe = Probe(raw);
        QCOMPARE(StreamOf(rawProbe, QStringLiteral("video"))
                     .value(QLatin1String("codec_name"))
                     .toString(),
                 QStringLiteral("huffyuv"));
        QCOMPARE(StreamOf(rawProbe, QStringLiteral("audio"))
                     .value(QLatin1String("codec_name"))
                     .toString(),
                 QStringLiteral("pcm_s16le"));
        QCOMPARE(CountVideoFrames(raw), 75);  // the whole length by default
    }
};

FRAMEWELL_TEST_MAIN(ConvertCliTest)
#include "test_convert_cli.moc"
