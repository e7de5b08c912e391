#include "support/media_fixtures.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <initializer_list>
#include <utility>

namespace testing_support {

ProcessResult RunProcess(const QString& program, const QStringList& arguments, int timeoutMs) {
    ProcessResult result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) return result;
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    return result;
}

QString MakeClip(const ClipSpec& spec) {
    QStringList arguments = {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                             QStringLiteral("error"), QStringLiteral("-y")};
    const QString picture =
        QStringLiteral("color=c=black:s=%1x%2:r=%3:d=%4,format=yuv420p,"
                       "geq=lum='if(lt(X,W/2),mod(N,16)*16+8,mod(floor(N/16),16)*16+8)':cb=128:cr=128")
            .arg(spec.width)
            .arg(spec.height)
            .arg(spec.frameRate)
            .arg(spec.seconds);
    arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i") << picture;
    if (spec.audio) {
        arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                  << QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
                         .arg(spec.audioRate)
                         .arg(spec.seconds);
    }
    arguments << QStringLiteral("-c:v") << spec.videoCodec;
    if (spec.videoCodec == QLatin1String("mpeg4") || spec.videoCodec == QLatin1String("mpeg2video"))
        arguments << QStringLiteral("-q:v") << QStringLiteral("2");
    if (spec.videoCodec == QLatin1String("libx264"))
        arguments << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
    if (spec.audio) {
        arguments << QStringLiteral("-c:a") << spec.audioCodec << QStringLiteral("-ac")
                  << QString::number(spec.audioChannels);
    }
    arguments << spec.extraArguments;
    return MakeFile(arguments, spec.extension);
}

QString MakeFile(const QStringList& ffmpegArguments, const QString& extension) {
    QStringList arguments = ffmpegArguments;
    if (!arguments.contains(QStringLiteral("-hide_banner")))
        arguments = QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                                QStringLiteral("error"), QStringLiteral("-y")} +
                    arguments;
    const QByteArray key = arguments.join(QLatin1Char('|')).toUtf8() + extension.toUtf8();
    const QString name = QString::fromLatin1(
                             QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16)) +
                         QLatin1Char('.') + extension;
    QDir().mkpath(QStringLiteral(FRAMEWELL_FIXTURE_DIR));
    const QString path = QDir(QStringLiteral(FRAMEWELL_FIXTURE_DIR)).filePath(name);
    if (QFileInfo(path).size() > 0) return path;

    // Written under a temporary name first, so that parallel tests never read half a file.
    const QString partial = path + QStringLiteral(".part.") + QString::number(QCoreApplication::applicationPid()) +
                            QLatin1Char('.') + extension;
    arguments << partial;
    const ProcessResult made = RunProcess(QStringLiteral("ffmpeg"), arguments);
    if (made.exitCode != 0) {
        qWarning("ffmpeg failed: %s", made.standardError.constData());
        QFile::remove(partial);
        return {};
    }
    QFile::remove(path);
    if (!QFile::rename(partial, path)) return QFileInfo(path).size() > 0 ? path : QString();
    return path;
}

QString MakeTwoToneFilm(const QString& cues, double seconds) {
    const QString length = QString::number(seconds);
    auto lavfi = [](const QString& input) {
        return QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           input};
    };
    QStringList arguments =
        lavfi(QStringLiteral("color=c=0x305070:s=320x240:r=25:d=") + length) +
        lavfi(QStringLiteral("sine=frequency=440:sample_rate=48000:d=") + length) +
        lavfi(QStringLiteral("sine=frequency=1000:sample_rate=48000:d=") + length);
    const bool bitmap = cues.endsWith(QLatin1String(".sup"));
    // PGS times are the file's own: kept, not moved to start at 0.
    if (bitmap) arguments.prepend(QStringLiteral("-copyts"));
    if (bitmap) arguments << QStringLiteral("-f") << QStringLiteral("sup");
    arguments << QStringLiteral("-i") << cues;
    for (const char* stream : {"0", "1", "2", "3"})
        arguments << QStringLiteral("-map") << QString::fromLatin1(stream);
    arguments << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-q:v")
              << QStringLiteral("2") << QStringLiteral("-c:a") << QStringLiteral("mp3")
              << QStringLiteral("-c:s") << (bitmap ? QStringLiteral("copy") : QStringLiteral("srt"))
              << QStringLiteral("-metadata:s:a:0") << QStringLiteral("language=eng")
              << QStringLiteral("-metadata:s:a:1") << QStringLiteral("language=fre")
              << QStringLiteral("-metadata:s:a:1") << QStringLiteral("title=Commentary")
              << QStringLiteral("-metadata:s:s:0") << QStringLiteral("language=eng");
    return MakeFile(arguments, QStringLiteral("mkv"));
}

namespace {

// Big-endian fields, each a value and its size in bytes.
QByteArray fields(std::initializer_list<std::pair<int, int>> values) {
    QByteArray bytes;
    for (const auto& [value, size] : values)
        for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
            bytes.append(static_cast<char>(value >> shift & 0xff));
    return bytes;
}

// One segment: "PG", its time (90 kHz, no decoding time), its type and its body.
QByteArray pgsSegment(int time, int type, const QByteArray& body) {
    return "PG" + fields({{time, 4}, {0, 4}, {type, 1}, {static_cast<int>(body.size()), 2}}) + body;
}

}  // namespace

bool WriteBitmapCue(const QString& path) {
    enum { kPalette = 0x14, kObject = 0x15, kComposition = 0x16, kWindow = 0x17, kEnd = 0x80 };
    constexpr int kWidth = 320, kHeight = 240, kBarWidth = 280, kBarHeight = 30, kX = 20, kY = 195,
                  kOn = 90000, kOff = 180000;
    // The picture's size, 25 pictures a second, the composition's number and whether it starts
    // showing object 0 in window 0 at its place, or shows nothing.
    const auto composition = [&](int number, bool shown) {
        const QByteArray head = fields({{kWidth, 2},
                                        {kHeight, 2},
                                        {0x10, 1},
                                        {number, 2},
                                        {shown ? 0x80 : 0, 1},
                                        {0, 1},
                                        {0, 1},
                                        {shown, 1}});
        return shown ? head + fields({{0, 2}, {0, 1}, {0, 1}, {kX, 2}, {kY, 2}}) : head;
    };
    const QByteArray window =
        fields({{1, 1}, {0, 1}, {kX, 2}, {kY, 2}, {kBarWidth, 2}, {kBarHeight, 2}});
    // Entry 1: white (Y, Cr, Cb, opaque).
    const QByteArray palette = fields({{0, 2}, {1, 1}, {235, 1}, {128, 1}, {128, 1}, {255, 1}});
    // Each line one run of colour 1 across the width, then the line's end.
    const QByteArray line = fields({{0, 1}, {0xc000 | kBarWidth, 2}, {1, 1}, {0, 2}});
    const QByteArray picture =
        fields({{kBarWidth, 2}, {kBarHeight, 2}}) + line.repeated(kBarHeight);
    // Object 0, version 0, in one fragment.
    const QByteArray object =
        fields({{0, 2}, {0, 1}, {0xc0, 1}, {static_cast<int>(picture.size()), 3}}) + picture;

    const QByteArray file = pgsSegment(kOn, kComposition, composition(0, true)) +
                            pgsSegment(kOn, kWindow, window) + pgsSegment(kOn, kPalette, palette) +
                            pgsSegment(kOn, kObject, object) + pgsSegment(kOn, kEnd, {}) +
                            pgsSegment(kOff, kComposition, composition(1, false)) +
                            pgsSegment(kOff, kWindow, window) + pgsSegment(kOff, kEnd, {});
    QFile written(path);
    return written.open(QIODevice::WriteOnly) && written.write(file) == file.size();
}

QJsonObject Probe(const QString& path) {
    const ProcessResult result = RunProcess(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
         QStringLiteral("-show_streams"), QStringLiteral("-show_format"), QStringLiteral("-of"),
         QStringLiteral("json"), path});
    if (result.exitCode != 0) return {};
    return QJsonDocument::fromJson(result.standardOutput).object();
}

QJsonObject StreamOf(const QJsonObject& probe, const QString& type) {
    for (const QJsonValue& stream : probe.value(QLatin1String("streams")).toArray())
        if (stream.toObject().value(QLatin1String("codec_type")).toString() == type)
            return stream.toObject();
    return {};
}

int CountVideoFrames(const QString& path) {
    const QJsonObject video = StreamOf(Probe(path), QStringLiteral("video"));
    if (video.isEmpty()) return -1;
    bool ok = false;
    const int frames = video.value(QLatin1String("nb_read_frames")).toString().toInt(&ok);
    return ok ? frames : -1;
}

std::optional<int> FrameNumberAt(const QString& path, int frameIndex) {
    constexpr int kSide = 64;
    const ProcessResult result = RunProcess(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
         QStringLiteral("-vf"),
         QStringLiteral("select=eq(n\\,%1),scale=%2:%2,format=gray").arg(frameIndex).arg(kSide),
         QStringLiteral("-vsync"), QStringLiteral("0"), QStringLiteral("-frames:v"),
         QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("rawvideo"),
         QStringLiteral("-")});
    if (result.exitCode != 0 || result.standardOutput.size() != kSide * kSide) return std::nullopt;
    const auto* pixels = reinterpret_cast<const unsigned char*>(result.standardOutput.constData());
    // Sample the middle of each half, away from letterbox bars and edges.
    auto mean = [&](int x0, int x1) {
        long sum = 0;
        int count = 0;
        for (int y = kSide * 3 / 8; y < kSide * 5 / 8; ++y)
            for (int x = x0; x < x1; ++x, ++count) sum += pixels[y * kSide + x];
        return static_cast<double>(sum) / count;
    };
    const double left = mean(kSide / 8, kSide * 3 / 8);
    const double right = mean(kSide * 5 / 8, kSide * 7 / 8);
    const int low = static_cast<int>((left - 8.0) / 16.0 + 0.5);
    const int high = static_cast<int>((right - 8.0) / 16.0 + 0.5);
    if (low < 0 || low > 15 || high < 0 || high > 15) return std::nullopt;
    return high * 16 + low;
}

QList<QPair<int, double>> PacketOrder(const QString& path) {
    QList<QPair<int, double>> order;
    const ProcessResult result = RunProcess(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
         QStringLiteral("packet=stream_index,pts_time,dts_time"), QStringLiteral("-of"),
         QStringLiteral("csv=p=0"), path});
    for (const QByteArray& line : result.standardOutput.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() < 2) continue;
        bool ok = false;
        const double time = fields.value(1).toDouble(&ok);
        const double dts = fields.value(2).toDouble();
        order.push_back({fields.value(0).toInt(), ok ? time : dts});
    }
    return order;
}

}  // namespace testing_support
