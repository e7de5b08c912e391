// An uncompressed conversion whose AVI passes 4 GB: the file is split into OpenDML parts and a
// reader gets every frame and all of the sound back. Writes about 4.7 GB; label "large".

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QStorageInfo>
#include <QtEndian>

#include "support/avi_checks.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;

namespace {

constexpr qint64 kFourGiB = qint64(1) << 32;
// 1920 x 1080 x 3 bytes a frame: 750 frames make 4.67 GB.
constexpr int kSeconds = 30;
constexpr int kFrames = kSeconds * 25;

// The forms of the file's top-level RIFF chunks, walked by their sizes: "AVI " for the first
// part, "AVIX" for each OpenDML extension. Empty when the chunks do not end with the file.
QList<QByteArray> RiffForms(const QString& path) {
    QList<QByteArray> forms;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    qint64 offset = 0;
    while (offset + 12 <= file.size() && file.seek(offset)) {
        const QByteArray header = file.read(12);
        if (header.left(4) != "RIFF") return {};
        forms << header.mid(8, 4);
        const quint32 size = qFromLittleEndian<quint32>(header.constData() + 4);
        offset += 8 + qint64(size) + (size & 1);
    }
    return offset == file.size() ? forms : QList<QByteArray>();
}

// The OpenDML header's count of all frames in all parts; -1 when there is no such header.
qint64 OpenDmlTotalFrames(const QString& path) {
    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(64 * 1024) : QByteArray();
    const qsizetype at = head.indexOf("dmlh");
    return at < 0 || at + 12 > head.size() ? -1
                                           : qFromLittleEndian<quint32>(head.constData() + at + 8);
}

}  // namespace

class LargeOutputTest : public QObject {
    Q_OBJECT

    TestEnvironment environment;

private slots:
    void anOutputPastFourGigabytesIsReadBackWhole() {
        const QString output = environment.scratchPath(QStringLiteral("large.avi"));
        const qint64 available = QStorageInfo(QFileInfo(output).absolutePath()).bytesAvailable();
        if (available < 6 * (qint64(1) << 30))
            QSKIP(qPrintable(QStringLiteral("%1 MB free beside the output; the test needs 6 GB")
                                 .arg(available >> 20)));

        ClipSpec spec;
        spec.seconds = kSeconds;
        const QString source = MakeClip(spec);
        QVERIFY(!source.isEmpty());
        qputenv("XDG_CONFIG_HOME", environment.settingsFolder().toLocal8Bit());
        const ProcessResult run =
            RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH),
                       {"--quiet", "--video-compressor", "none", "--audio-compressor", "none",
                        "--size", "1920x1080", source, output},
                       30 * 60 * 1000);
        QVERIFY2(run.exitCode == 0, run.standardError.constData());
        QVERIFY2(QFileInfo(output).size() > kFourGiB,
                 qPrintable(QString::number(QFileInfo(output).size())));

        // OpenDML: a first RIFF part and extension parts, none of them past the 32-bit sizes,
        // laid end to end over the whole file, and a header that counts every frame.
        const QList<QByteArray> forms = RiffForms(output);
        QVERIFY(forms.size() >= 2);
        QCOMPARE(forms.first(), QByteArray("AVI "));
        QCOMPARE(forms.count(QByteArray("AVIX")), forms.size() - 1);
        QCOMPARE(OpenDmlTotalFrames(output), qint64(kFrames));

        // Every frame decodes and is counted by the index, the last one shows the last source
        // frame, and the sound lasts as long as the picture.
        const QJsonObject video = StreamOf(Probe(output), QStringLiteral("video"));
        QCOMPARE(video.value(QLatin1String("codec_name")).toString(), QStringLiteral("rawvideo"));
        QCOMPARE(video.value(QLatin1String("width")).toInt(), 1920);
        QCOMPARE(video.value(QLatin1String("nb_read_frames")).toString(), QString::number(kFrames));
        QCOMPARE(video.value(QLatin1String("nb_frames")).toString(), QString::number(kFrames));
        QCOMPARE(SourceFrameAt(output, kFrames - 1), std::optional<int>((kFrames - 1) % 256));
        const double sound = DecodedAudioSeconds(output);
        QVERIFY2(qAbs(sound - kSeconds) < 0.05, qPrintable(QString::number(sound)));
        QFile::remove(output);
    }
};

FRAMEWELL_TEST_MAIN(LargeOutputTest)
#include "test_large_output.moc"
