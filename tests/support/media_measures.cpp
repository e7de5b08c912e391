#include "support/media_measures.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

#include "support/media_fixtures.h"

namespace testing_support {

double TonePitch(const QString& path) {
    constexpr int kRate = 48000;
    const ProcessResult decoded = RunProcess(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
         QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-ac"),
         QStringLiteral("1"), QStringLiteral("-ar"), QString::number(kRate), QStringLiteral("-f"),
         QStringLiteral("s16le"), QStringLiteral("-")});
    const auto* samples = reinterpret_cast<const qint16*>(decoded.standardOutput.constData());
    const qsizetype count = decoded.standardOutput.size() / 2;
    if (decoded.exitCode != 0 || count < kRate / 10) return 0.0;
    qsizetype crossings = 0;
    for (qsizetype i = 1; i < count; ++i) crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return crossings / 2.0 / (static_cast<double>(count) / kRate);
}

double CombedShare(const QString& path) {
    const ProcessResult detected = RunProcess(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-i"), path, QStringLiteral("-an"), QStringLiteral("-vf"),
         QStringLiteral("format=yuv420p,idet"), QStringLiteral("-f"), QStringLiteral("null"),
         QStringLiteral("-")});
    static const QRegularExpression verdict(QStringLiteral(
        "Multi frame detection: TFF: *(\\d+) BFF: *(\\d+) Progressive: *(\\d+) "
        "Undetermined: *(\\d+)"));
    const QRegularExpressionMatch match =
        verdict.match(QString::fromUtf8(detected.standardError));
    if (!match.hasMatch()) return -1.0;
    const double combed = match.captured(1).toDouble() + match.captured(2).toDouble();
    const double all = combed + match.captured(3).toDouble() + match.captured(4).toDouble();
    return all > 0 ? combed / all : -1.0;
}

namespace {

QByteArray greyPicture(const QString& path, double seconds, int width, int height) {
    const ProcessResult picture = RunProcess(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-ss"),
         QString::number(seconds), QStringLiteral("-i"), path, QStringLiteral("-frames:v"),
         QStringLiteral("1"), QStringLiteral("-vf"),
         QStringLiteral("scale=%1:%2,format=gray").arg(width).arg(height), QStringLiteral("-f"),
         QStringLiteral("rawvideo"), QStringLiteral("-")});
    return picture.exitCode == 0 ? picture.standardOutput : QByteArray();
}

}  // namespace

double BottomPsnr(const QString& first, const QString& second, double seconds, double share) {
    constexpr int kWidth = 320;
    constexpr int kHeight = 240;
    const QByteArray a = greyPicture(first, seconds, kWidth, kHeight);
    const QByteArray b = greyPicture(second, seconds, kWidth, kHeight);
    if (a.size() != kWidth * kHeight || b.size() != a.size()) return -1.0;
    const int from = static_cast<int>(kHeight * (1.0 - share)) * kWidth;
    double squares = 0.0;
    for (int i = from; i < a.size(); ++i) {
        const double step = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
        squares += step * step;
    }
    if (squares == 0.0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / (squares / (a.size() - from)));
}

}  // namespace testing_support
