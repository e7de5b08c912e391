#include "support/counter_clips.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "support/media_fixtures.h"

namespace testing_support {

QString MakeCounterClip(const CounterClip& clip) {
    QStringList arguments = {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                             QStringLiteral("error"), QStringLiteral("-y")};
    arguments << clip.inputOptions << QStringLiteral("-f") << QStringLiteral("lavfi")
              << QStringLiteral("-i")
              << QStringLiteral(
                     "color=c=black:s=160x120:r=%1:d=%2,format=yuv420p,"
                     "geq=lum='if(lt(X,W/2),20+13*mod(N,16),"
                     "20+13*mod(floor(N/16),16))':cb=128:cr=128")
                     .arg(clip.frameRate)
                     .arg(clip.seconds);
    if (!clip.audio.isEmpty()) {
        arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                  << QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
                         .arg(clip.audioRate)
                         .arg(clip.seconds);
    }
    arguments << clip.video;
    if (!clip.audio.isEmpty())
        arguments << clip.audio << QStringLiteral("-ac") << QString::number(clip.audioChannels);
    arguments << clip.output;

    const QByteArray key =
        (arguments.join(QLatin1Char('|')) + clip.extension + clip.mendName).toUtf8();
    const QString name =
        QStringLiteral("counter-") +
        QString::fromLatin1(
            QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16)) +
        QLatin1Char('.') + clip.extension;
    QDir().mkpath(QStringLiteral(FRAMEWELL_FIXTURE_DIR));
    const QString path = QDir(QStringLiteral(FRAMEWELL_FIXTURE_DIR)).filePath(name);
    if (QFileInfo(path).size() > 0) return path;

    // Written under a name of its own first, so that parallel tests never read half a file.
    const QString partial = path + QStringLiteral(".part.") +
                            QString::number(QCoreApplication::applicationPid()) + QLatin1Char('.') +
                            clip.extension;
    const ProcessResult made = RunProcess(QStringLiteral("ffmpeg"), arguments << partial);
    if (made.exitCode != 0) {
        qWarning("ffmpeg failed: %s", made.standardError.constData());
        QFile::remove(partial);
        return {};
    }
    if (clip.mend) {
        QFile file(partial);
        QByteArray bytes;
        if (file.open(QIODevice::ReadOnly)) bytes = file.readAll();
        file.close();
        if (bytes.isEmpty() || !clip.mend(bytes) || !file.open(QIODevice::WriteOnly) ||
            file.write(bytes) != bytes.size()) {
            QFile::remove(partial);
            return {};
        }
        file.close();
    }
    QFile::remove(path);
    if (!QFile::rename(partial, path)) return QFileInfo(path).size() > 0 ? path : QString();
    return path;
}

QList<int> PictureNumbers(const QString& path, bool turned) {
    constexpr int kSide = 64;
    // The luma plane as it is, without a stretch to full range.
    const ProcessResult decoded =
        RunProcess(QStringLiteral("ffmpeg"),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                    QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-vf"),
                    QStringLiteral("scale=%1:%1,format=yuv420p").arg(kSide),
                    QStringLiteral("-fps_mode"), QStringLiteral("passthrough"),
                    QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-")});
    QList<int> numbers;
    if (decoded.exitCode != 0) return numbers;
    const int frameBytes = kSide * kSide * 3 / 2;
    const auto* data = reinterpret_cast<const unsigned char*>(decoded.standardOutput.constData());
    for (qsizetype offset = 0; offset + frameBytes <= decoded.standardOutput.size();
         offset += frameBytes) {
        // The middle of each half, away from edges and bars.
        auto digit = [&](int x0, int y0, int x1, int y1) {
            long sum = 0;
            int count = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x, ++count) sum += data[offset + y * kSide + x];
            const double level = static_cast<double>(sum) / count;
            return qBound(0, static_cast<int>((level - 20.0) / 13.0 + 0.5), 15);
        };
        const int a = kSide / 8, b = kSide * 3 / 8, c = kSide * 5 / 8, d = kSide * 7 / 8;
        numbers << (turned ? digit(b, c, c, d) * 16 + digit(b, a, c, b)
                           : digit(c, b, d, c) * 16 + digit(a, b, b, c));
    }
    return numbers;
}

}  // namespace testing_support
