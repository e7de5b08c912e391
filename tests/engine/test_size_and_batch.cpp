// framewell-convert aimed at a file size (60 s of 720p in two passes, and what it refuses), and
// given several inputs and a folder: outputs named after their inputs, a broken input named
// and passed over, an existing output kept, a signal stopping them all.

#include <QDir>
#include <QFile>
#include <QtTest>

#include <csignal>
#include <memory>

#include "conversion_runner.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

QStringList words(const char* line) {
    return QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts);
}

ProcessResult convert(const QStringList& arguments) {
    return RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments, 120000);
}

QString clip(double seconds, int width, int height, int tone) {
    const QString length = QString::number(seconds);
    return MakeFile({u"-f"_s, u"lavfi"_s, u"-i"_s,
                     u"testsrc2=size=%1x%2:rate=25:d=%3"_s.arg(width).arg(height).arg(length),
                     u"-f"_s, u"lavfi"_s, u"-i"_s,
                     u"sine=frequency=%1:sample_rate=44100:d=%2"_s.arg(tone).arg(length),
                     u"-c:v"_s, u"libx264"_s, u"-preset"_s, u"ultrafast"_s, u"-crf"_s, u"35"_s,
                     u"-c:a"_s, u"mp3"_s},
                    u"mkv"_s);
}

// Starts framewell-convert and sends SIGINT once its progress passes `percent`.
int stopAt(const QStringList& arguments, int percent, QByteArray* standardError) {
    QProcess process;
    process.start(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments);
    if (!process.waitForStarted()) return -1;
    static const QRegularExpression progress(QStringLiteral("(\\d+)%"));
    const bool reached = QTest::qWaitFor(
        [&] {
            *standardError += process.readAllStandardError();
            auto matches = progress.globalMatch(QString::fromUtf8(*standardError));
            int latest = -1;
            while (matches.hasNext()) latest = matches.next().captured(1).toInt();
            return latest >= percent || process.state() == QProcess::NotRunning;
        },
        90000);
    if (!reached || process.state() == QProcess::NotRunning) return -2;
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    process.waitForFinished(30000);
    *standardError += process.readAllStandardError();
    return process.exitCode();
}

}  // namespace

class SizeAndBatchTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> environment;
    QString hd;  // 60 s, 1280x720

    QString out(const QString& name) { return environment->scratchPath(name); }

private slots:
    void initTestCase() {
        environment = std::make_unique<TestEnvironment>();
        qputenv("XDG_CONFIG_HOME", environment->settingsFolder().toLocal8Bit());
        hd = clip(60.0, 1280, 720, 440);
        QVERIFY(!hd.isEmpty());
    }

    // The video takes most of the size, so that a missed bit rate would show. A short clip
    // whose sound is small against what LAME's quality might take (a plain tone), and its
    // sound copied, which no compressor's setting tells.
    void twoPassesMeetTheSize() {
        const QString shortClip = clip(10.0, 320, 240, 440);
        QVERIFY(!shortClip.isEmpty());
        const struct {
            QString input;
            const char* size;
            const char* options;
            int frames;
        } cases[] = {{hd, "3", "--size 320x176 --audio-compressor lamemp3enc", 1500},
                     {shortClip, "0.4", "--audio-compressor lamemp3enc", 250},
                     {shortClip, "0.4", "--audio-compressor copy", 250}};
        for (const auto& c : cases) {
            const QString written = out(QString::fromLatin1(c.options) + u".avi"_s);
            const ProcessResult result =
                convert(QStringList{u"--target-size"_s, QLatin1String(c.size)} + words(c.options) +
                            words("--video-compressor x264enc")
                        << c.input << written);
            QVERIFY2(result.exitCode == 0, result.standardError.constData());
            QVERIFY(result.standardError.contains("Target size: " + QByteArray(c.size) +
                                                  " MB, two passes with x264enc"));
            const double off =
                QFileInfo(written).size() / (QString::fromLatin1(c.size).toDouble() * 1e6) - 1;
            QVERIFY2(std::abs(off) <= 0.03, qPrintable(u"%1: %2"_s.arg(written).arg(off)));
            QCOMPARE(CountVideoFrames(written), c.frames);
            QVERIFY(!result.standardError.contains("warning"));
        }
        // The first pass's file and statistics are gone.
        QCOMPARE(QDir(environment->scratchPath(QString())).entryList({u".*first-pass*"_s}, QDir::Hidden | QDir::Files),
                 QStringList());
    }

    void whatCannotAimAtASizeIsRefused() {
        const struct {
            const char* options;
            const char* said;
        } cases[] = {
            {"--target-size 3", "keeps to a bit rate"},  // the default: libav's MPEG-4
            {"--target-size 3 --video-compressor none", "uncompressed video has none"},
            {"--target-size 3 --video-compressor copy", "Direct stream copy"},
            {"--target-size 0.5 --video-compressor x264enc --audio-compressor none",
             "cannot hold the sound alone"},
        };
        const QString written = out(u"refused.avi"_s);
        for (const auto& c : cases) {
            const ProcessResult result = convert(words(c.options) << hd << written);
            QVERIFY2(result.exitCode == 2 && result.standardError.contains(c.said), c.options);
            QVERIFY(!QFile::exists(written));
        }
    }

    // A stop in the first pass keeps that pass's file; one in the second, the second's.
    void aStopInEitherPassLeavesAFinishedFile() {
        for (int percent : {10, 65}) {
            const QString written = out(u"stopped at %1.avi"_s.arg(percent));
            QByteArray said;
            const int status = stopAt(words("--target-size 3 --size 320x176 --video-compressor "
                                            "x264enc --audio-compressor lamemp3enc")
                                          << hd << written,
                                      percent, &said);
            QVERIFY2(status == 130, said.constData());
            const int frames = CountVideoFrames(written);
            QVERIFY2(frames > 0 && frames < 1500, qPrintable(QString::number(frames)));
        }
        QCOMPARE(QDir(environment->scratchPath(QString())).entryList({u".stopped*"_s}, QDir::Hidden | QDir::Files),
                 QStringList());
    }

    void severalInputsGoIntoAFolder() {
        const QString folder = out(u"converted"_s);
        QVERIFY(QDir().mkpath(folder));
        const QString broken = out(u"broken.mkv"_s);
        QFile bytes(broken);
        QVERIFY(bytes.open(QIODevice::WriteOnly));
        bytes.write(QByteArray(20000, 'x'));
        bytes.close();
        // Inputs named after their content, and one whose output is there already.
        const QString first = out(u"first.mkv"_s);
        const QString second = out(u"second.mkv"_s);
        const QString third = out(u"third.mkv"_s);
        QVERIFY(QFile::copy(clip(2.0, 320, 240, 440), first));
        QVERIFY(QFile::copy(clip(2.0, 320, 240, 660), second));
        QVERIFY(QFile::copy(clip(2.0, 320, 240, 880), third));
        QFile earlier(folder + u"/second.avi"_s);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("an earlier output");
        earlier.close();

        ProcessResult result =
            convert(words("--jobs 2") << first << broken << second << third << folder);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.standardError.contains(broken.toUtf8() + ": "), result.standardError);
        QVERIFY(result.standardError.contains("second.avi exists"));
        QVERIFY2(result.standardError.contains("2 of 4 converted into " + folder.toUtf8() +
                                               "; failed: broken.mkv, second.mkv"),
                 result.standardError);
        QCOMPARE(CountVideoFrames(folder + u"/first.avi"_s), 50);
        QCOMPARE(CountVideoFrames(folder + u"/third.avi"_s), 50);
        QVERIFY(!QFile::exists(folder + u"/broken.avi"_s));
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("an earlier output"));
        earlier.close();

        result = convert(words("--quiet --overwrite --jobs 2") << first << second << folder);
        QVERIFY2(result.exitCode == 0, result.standardError.constData());
        QCOMPARE(CountVideoFrames(folder + u"/second.avi"_s), 50);
    }

    // A signal stops the conversions that run, each finishing its file, and starts no more.
    void aSignalStopsThemAll() {
        const QString folder = out(u"stopped batch"_s);
        QVERIFY(QDir().mkpath(folder));
        QStringList inputs;
        for (const char* name : {"one", "two", "three"}) {
            inputs << out(QString::fromLatin1(name) + u".mkv"_s);
            QVERIFY(QFile::copy(clip(20.0, 320, 240, 440), inputs.back()));
        }
        QByteArray said;
        const int status = stopAt(words("--jobs 2 --size 1280x960") << inputs << folder, 5, &said);
        QVERIFY2(status == 130, said.constData());
        for (const char* name : {"one", "two"}) {
            const int frames = CountVideoFrames(folder + u"/"_s + QString::fromLatin1(name) + u".avi"_s);
            QVERIFY2(frames > 0 && frames < 500, name);
        }
        QVERIFY(!QFile::exists(folder + u"/three.avi"_s));
        QVERIFY2(said.contains("0 of 3 converted") && said.contains("1 not started"), said.constData());
    }
};

FRAMEWELL_TEST_MAIN(SizeAndBatchTest)
#include "test_size_and_batch.moc"
