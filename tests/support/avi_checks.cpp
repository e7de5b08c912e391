#include "support/avi_checks.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "support/media_fixtures.h"

namespace testing_support {

QList<FilePacket> PacketsInFileOrder(const QString& path) {
    QList<FilePacket> packets;
    const ProcessResult result =
        RunProcess(QStringLiteral("ffprobe"),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                    QStringLiteral("packet=stream_index,pts_time,dts_time,pos"),
                    QStringLiteral("-of"), QStringLiteral("compact=p=0:nk=0"), path});
    for (const QByteArray& line : result.standardOutput.split('\n')) {
        FilePacket packet;
        bool havePosition = false;
        bool haveTime = false;
        for (const QByteArray& field : line.trimmed().split('|')) {
            const int equals = field.indexOf('=');
            if (equals < 0) continue;
            const QByteArray key = field.left(equals);
            const QByteArray value = field.mid(equals + 1);
            bool ok = false;
            if (key == "stream_index") packet.stream = value.toInt();
            if (key == "pos") packet.position = value.toLongLong(&havePosition);
            if ((key == "pts_time" || (key == "dts_time" && !haveTime))) {
                const double seconds = value.toDouble(&ok);
                if (ok) {
                    packet.seconds = seconds;
                    haveTime = true;
                }
            }
        }
        if (havePosition && haveTime) packets.push_back(packet);
    }
    std::sort(packets.begin(), packets.end(),
              [](const FilePacket& a, const FilePacket& b) { return a.position < b.position; });
    return packets;
}

double LongestSingleStreamRun(const QString& path) {
    const QList<FilePacket> packets = PacketsInFileOrder(path);
    double longest = 0.0;
    int runStart = 0;
    for (int i = 1; i <= packets.size(); ++i) {
        if (i < packets.size() && packets[i].stream == packets[runStart].stream) continue;
        // A run only counts when the other stream comes after it.
        if (i < packets.size())
            longest = std::max(longest, packets[i - 1].seconds - packets[runStart].seconds);
        runStart = i;
    }
    return longest;
}

std::optional<int> SourceFrameAt(const QString& path, int frameIndex) {
    constexpr int kSide = 64;
    const ProcessResult result = RunProcess(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
         QStringLiteral("-vf"),
         QStringLiteral("select=eq(n\\,%1),scale=%2:%2,format=yuv420p").arg(frameIndex).arg(kSide),
         QStringLiteral("-vsync"), QStringLiteral("0"), QStringLiteral("-frames:v"),
         QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("rawvideo"),
         QStringLiteral("-")});
    if (result.exitCode != 0 || result.standardOutput.size() < kSide * kSide) return std::nullopt;
    const auto* luma = reinterpret_cast<const unsigned char*>(result.standardOutput.constData());
    auto mean = [&](int x0, int x1) {
        double sum = 0;
        int count = 0;
        for (int y = kSide * 3 / 8; y < kSide * 5 / 8; ++y)
            for (int x = x0; x < x1; ++x, ++count) sum += luma[y * kSide + x];
        return sum / count;
    };
    // Level k is drawn at 16k + 8. Levels 0 and 15 lie outside video black and white, so an
    // RGB output brings them back as 16 and 235: the rounding leans down to read 16 as 0 and
    // still takes a few levels of compression noise either way; in RGB, 235 reads as 15 (level
    // 14 comes back as 232).
    const QString pixelFormat =
        StreamOf(Probe(path), QStringLiteral("video")).value(QLatin1String("pix_fmt")).toString();
    const bool rgb =
        pixelFormat.contains(QLatin1String("rgb")) || pixelFormat.contains(QLatin1String("bgr"));
    auto level = [rgb](double grey) {
        if (rgb && grey >= 233.5) return 15;
        return static_cast<int>(std::floor((grey - 8.0) / 16.0 + 0.4));
    };
    const int low = level(mean(kSide / 8 + 2, kSide * 3 / 8));
    const int high = level(mean(kSide * 5 / 8, kSide * 7 / 8 - 2));
    if (low < 0 || low > 15 || high < 0 || high > 15) return std::nullopt;
    return high * 16 + low;
}

std::optional<double> MeanGrey(const QString& path, int frameIndex, double left, double top,
                               double right, double bottom) {
    const QJsonObject video = StreamOf(Probe(path), QStringLiteral("video"));
    const int width = video.value(QLatin1String("width")).toInt();
    const int height = video.value(QLatin1String("height")).toInt();
    if (width <= 0 || height <= 0) return std::nullopt;
    const ProcessResult result = RunProcess(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
         QStringLiteral("-vf"), QStringLiteral("select=eq(n\\,%1),format=gray").arg(frameIndex),
         QStringLiteral("-vsync"), QStringLiteral("0"), QStringLiteral("-frames:v"),
         QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("rawvideo"),
         QStringLiteral("-")});
    if (result.exitCode != 0 || result.standardOutput.size() != width * height) return std::nullopt;
    const auto* pixels = reinterpret_cast<const unsigned char*>(result.standardOutput.constData());
    const int x0 = static_cast<int>(left * width),
              x1 = std::max(x0 + 1, static_cast<int>(right * width));
    const int y0 = static_cast<int>(top * height),
              y1 = std::max(y0 + 1, static_cast<int>(bottom * height));
    double sum = 0;
    int count = 0;
    for (int y = y0; y < std::min(y1, height); ++y)
        for (int x = x0; x < std::min(x1, width); ++x, ++count) sum += pixels[y * width + x];
    return count ? std::optional<double>(sum / count) : std::nullopt;
}

QString MakeTopWhiteClip(int width, int height, double seconds) {
    QDir().mkpath(QStringLiteral(FRAMEWELL_FIXTURE_DIR));
    const QString path =
        QDir(QStringLiteral(FRAMEWELL_FIXTURE_DIR))
            .filePath(QStringLiteral("topwhite_%1x%2_%3.avi").arg(width).arg(height).arg(seconds));
    if (QFileInfo(path).size() > 0) return path;
    const QString partial = path + QStringLiteral(".part.avi");
    const ProcessResult made = RunProcess(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
         QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("color=c=black:s=%1x%2:r=25:d=%3,format=yuv420p,"
                        "geq=lum='if(lt(Y,H/2),235,16)':cb=128:cr=128")
             .arg(width)
             .arg(height)
             .arg(seconds),
         QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-q:v"),
         QStringLiteral("2"), partial});
    if (made.exitCode != 0 || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return QFileInfo(path).size() > 0 ? path : QString();
    }
    return path;
}

int PeakAudioSample(const QString& path) {
    const ProcessResult result =
        RunProcess(QStringLiteral("ffmpeg"),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                    QStringLiteral("-vn"), QStringLiteral("-f"), QStringLiteral("s16le"),
                    QStringLiteral("-acodec"), QStringLiteral("pcm_s16le"), QStringLiteral("-")});
    if (result.exitCode != 0) return -1;
    const auto* samples = reinterpret_cast<const std::int16_t*>(result.standardOutput.constData());
    const qsizetype count = result.standardOutput.size() / 2;
    int peak = 0;
    for (qsizetype i = 0; i < count; ++i)
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    return peak;
}

}  // namespace testing_support

namespace testing_support {

int FinishedFrames(const QString& path) {
    const QJsonObject video = StreamOf(Probe(path), QStringLiteral("video"));
    const QString decoded = video.value(QLatin1String("nb_read_frames")).toString();
    bool ok = false;
    const int frames = decoded.toInt(&ok);
    return ok && decoded == video.value(QLatin1String("nb_frames")).toString() ? frames : -1;
}

double DecodedAudioSeconds(const QString& path) {
    constexpr int kRate = 48000;
    const ProcessResult result =
        RunProcess(QStringLiteral("ffmpeg"),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                    QStringLiteral("-vn"), QStringLiteral("-ac"), QStringLiteral("1"),
                    QStringLiteral("-ar"), QString::number(kRate), QStringLiteral("-f"),
                    QStringLiteral("s16le"), QStringLiteral("-")});
    if (result.exitCode != 0) return -1;
    return static_cast<double>(result.standardOutput.size()) / 2.0 / kRate;
}

bool SoundFitsPictures(const QString& path, QString* why) {
    const QJsonObject video = StreamOf(Probe(path), QStringLiteral("video"));
    const QStringList rate = video.value(QLatin1String("r_frame_rate")).toString().split(u'/');
    const double frames = video.value(QLatin1String("nb_read_frames")).toString().toDouble();
    const double perSecond =
        rate.size() == 2 && rate[1].toDouble() > 0 ? rate[0].toDouble() / rate[1].toDouble() : 0.0;
    const double pictures = perSecond > 0 ? frames / perSecond : -1.0;
    const double sound = DecodedAudioSeconds(path);
    if (why) *why = QStringLiteral("pictures %1 s, sound %2 s").arg(pictures).arg(sound);
    // A frame, and a sample's worth of rounding in the decoded count.
    return pictures > 0 && sound >= 0 && std::abs(sound - pictures) <= 1.0 / perSecond + 1e-3;
}

int KeyFrameCount(const QString& path) {
    const ProcessResult result = RunProcess(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
         QStringLiteral("v:0"), QStringLiteral("-show_entries"), QStringLiteral("packet=flags"),
         QStringLiteral("-of"), QStringLiteral("csv=p=0"), path});
    if (result.exitCode != 0) return -1;
    int keys = 0;
    for (const QByteArray& line : result.standardOutput.split('\n'))
        if (line.startsWith('K')) ++keys;
    return keys;
}

}  // namespace testing_support
