#include "support/counter_clips.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include "support/avi_checks.h"
#include "support/media_fixtures.h"

namespace testing_support {

QString MakeCounterClip(const CounterClip& clip) {
    QStringList arguments = {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                             QStringLiteral("error"), QStringLiteral("-y")};
    const QString digits = QStringLiteral("if(lt(X,W/2),20+13*mod(N,16),20+13*mod(floor(N/16),16))");
    const QString picture =
        clip.textured ? QStringLiteral("if(between(Y,H/4,H*3/4)*between(mod(X,W/2),W/16,W*7/16),"
                                       "%1,128+60*sin(X/3)*cos(Y/4))")
                            .arg(digits)
                      : digits;
    arguments << clip.inputOptions << QStringLiteral("-f") << QStringLiteral("lavfi")
              << QStringLiteral("-i")
              << QStringLiteral("color=c=black:s=160x120:r=%1:d=%2,format=yuv420p,"
                                "geq=lum='%3':cb=128:cr=128")
                     .arg(clip.frameRate)
                     .arg(clip.seconds)
                     .arg(picture);
    if (!clip.audio.isEmpty()) {
        // A beep is 40 ms of 1 kHz from each whole second: short against the gap, so that a
        // sound cut or shifted by a sound frame still shows every onset.
        // A sound that starts later beeps on the whole seconds of the file all the same.
        const QString time = clip.soundStart > 0
                                 ? QStringLiteral("t+%1").arg(clip.soundStart)
                                 : QStringLiteral("t");
        const QString source =
            clip.beeps ? QStringLiteral("aevalsrc='if(lt(mod(%3,1),0.04),0.6*sin(2*PI*1000*t),0)'"
                                        ":s=%1:d=%2")
                             .arg(clip.audioRate)
                             .arg(clip.seconds - clip.soundStart)
                             .arg(time)
                       : QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
                             .arg(clip.audioRate)
                             .arg(clip.seconds - clip.soundStart);
        if (clip.soundStart > 0)
            arguments << QStringLiteral("-itsoffset") << QString::number(clip.soundStart);
        arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                  << source;
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

QList<int> PictureNumbers(const QString& path, bool turned, QByteArray* errors) {
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
    if (errors) *errors = decoded.standardError.trimmed();
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

QList<double> BeepTimes(const QString& path) {
    constexpr int kRate = 16000;
    constexpr int kWindow = kRate / 1000;       // 1 ms
    constexpr int kQuietBefore = kRate * 3 / 10;  // a beep starts after 300 ms of quiet
    constexpr int kLoud = 3000;                   // of 32767; the beeps are at about 20000
    const ProcessResult decoded = RunProcess(
        QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
         QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-ac"),
         QStringLiteral("1"), QStringLiteral("-ar"), QString::number(kRate),
         QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-")});
    QList<double> times;
    if (decoded.exitCode != 0) {
        // Said, so that a read-back that failed is not taken for a file without beeps.
        qWarning("ffmpeg could not read the sound of %s (exit %d%s): %s", qPrintable(path),
                 decoded.exitCode, decoded.timedOut ? ", timed out" : "",
                 decoded.standardError.constData());
        return times;
    }
    const auto* samples = reinterpret_cast<const qint16*>(decoded.standardOutput.constData());
    const qsizetype count = decoded.standardOutput.size() / 2;
    qsizetype lastLoud = -kQuietBefore;
    for (qsizetype start = 0; start + kWindow <= count; start += kWindow) {
        int peak = 0;
        for (int i = 0; i < kWindow; ++i) peak = qMax(peak, qAbs(int(samples[start + i])));
        if (peak < kLoud) continue;
        if (start - lastLoud >= kQuietBefore) {
            // The first loud sample of the window, for a time finer than the window.
            qsizetype first = start;
            while (qAbs(int(samples[first])) < kLoud / 4) ++first;
            times << static_cast<double>(first) / kRate;
        }
        lastLoud = start;
    }
    return times;
}

namespace {

// Where a stream of the type given starts in the container's time, in seconds; 0 unknown.
double streamStart(const QString& path, const char* type) {
    const ProcessResult probed = RunProcess(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
         QLatin1String(type) + QStringLiteral(":0"), QStringLiteral("-show_entries"),
         QStringLiteral("stream=start_time"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
         path});
    bool ok = false;
    // A transport stream lists its streams once more for its program: the first line says it.
    const double start =
        probed.standardOutput.trimmed().split('\n').value(0).split(',').value(0).toDouble(&ok);
    return ok ? start : 0.0;
}

}  // namespace

QList<double> BeepOffsets(const QString& path, double sourceFrameRate, double frameRate,
                          double after) {
    const QList<int> numbers = PictureNumbers(path);
    const double soundLead = streamStart(path, "a") - streamStart(path, "v");
    QList<double> offsets;
    for (double beep : BeepTimes(path)) {
        if (beep < after) continue;
        // The beep nearest in time tells which source second it is: the picture shown then,
        // in the pictures' time (the sound may start later).
        const int index = qBound(0, static_cast<int>((beep + soundLead) * frameRate + 0.5),
                                 static_cast<int>(numbers.size()) - 1);
        if (numbers.isEmpty()) break;
        const double shownSecond = numbers[index] / sourceFrameRate;
        const int second = static_cast<int>(shownSecond + 0.5);
        const int wanted = static_cast<int>(second * sourceFrameRate + 0.5) % 256;
        const int at = numbers.indexOf(wanted);
        if (at < 0) continue;
        offsets << beep + soundLead - at / frameRate;
    }
    return offsets;
}

QString MakeBeepingClip(const QString& extension, double seconds, const QStringList& video,
                        const QStringList& audio, bool textured, double soundStart) {
    CounterClip clip;
    clip.extension = extension;
    clip.seconds = seconds;
    clip.video = video;
    clip.audio = audio;
    clip.audioChannels = 2;
    clip.beeps = true;
    clip.textured = textured;
    clip.soundStart = soundStart;
    return MakeCounterClip(clip);
}

// How long the first sound frame of a file may take to decode fully.
constexpr double kHalfHeard = 0.1;

SpanReadBack ReadBackSpan(const QString& clip, const QString& output, double start, double end,
                          double frameRate) {
    struct Read {
        QList<int> pictures;
        double beepLead = 0;
    };
    static QHash<QString, Read> clips;
    if (!clips.contains(clip)) {
        Read read{PictureNumbers(clip), 0};
        const QList<double> offsets = BeepOffsets(clip, frameRate, frameRate, kHalfHeard);
        for (double offset : offsets) read.beepLead += offset / offsets.size();
        clips.insert(clip, read);
    }
    const Read& source = clips[clip];
    SpanReadBack back;
    const qsizetype first = qRound(start * frameRate);
    back.due = source.pictures.mid(first, end > 0 ? qCeil(end * frameRate) - first : -1);
    if (!QFileInfo::exists(output)) return back;
    back.pictures = PictureNumbers(output, false, &back.errors);
    for (double offset : BeepOffsets(output, frameRate, frameRate, kHalfHeard))
        back.beepGaps << offset - source.beepLead;
    back.soundOverrun = DecodedAudioSeconds(output) - back.pictures.size() / frameRate;
    return back;
}

}  // namespace testing_support
