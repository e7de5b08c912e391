// Direct stream copy, read back: sources whose every picture shows its number and whose sound
// beeps at each whole second are copied whole and over spans that start on a key frame
// (2.00-6.00 s), a picture after it (2.04-6.04) and a picture before it (1.96-5.96), by a
// framewell-convert (the current one, or one built from another commit) or by ffmpeg's own
// copy, and each output is held against the source: the pictures it holds, whether they decode
// cleanly, where its beeps fall against the source's and how long its sound lasts.
//
//   build/bench/bench_stream_copy_table [CONVERTER|ffmpeg] [issue|full]
//
// "issue" (the default) copies the seven sources of the issue, 28 copies; "full" sweeps
// containers, picture formats, key-frame intervals (1, 2 and 10 s), with and without
// B-pictures, and MP3, AC-3, MP2 and PCM sound. Sources are made once in the build folder's
// fixtures; nothing here is timed.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cmath>
#include <cstdio>

#include "support/avi_checks.h"
#include "support/counter_clips.h"
#include "support/media_fixtures.h"

using namespace testing_support;

namespace {

constexpr double kRate = 25.0;

struct Source {
    QString name;
    QString extension;
    QStringList video;
    QStringList audio;
    double soundFrame;  // seconds; 0 for PCM
    bool textured = false;
};

QStringList h264(int keyEvery, int bFrames) {
    return {QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-g"),
            QString::number(keyEvery), QStringLiteral("-keyint_min"), QString::number(keyEvery),
            QStringLiteral("-sc_threshold"), QStringLiteral("0"), QStringLiteral("-bf"),
            QString::number(bFrames)};
}

QStringList mpeg4(int keyEvery, int bFrames) {
    return {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-bf"),
            QString::number(bFrames), QStringLiteral("-force_key_frames"),
            QStringLiteral("expr:eq(mod(n,%1),0)").arg(keyEvery), QStringLiteral("-sc_threshold"),
            QStringLiteral("1000000000"), QStringLiteral("-avoid_negative_ts"),
            QStringLiteral("disabled")};
}

QStringList mpeg2(int keyEvery, int bFrames) {
    return {QStringLiteral("-c:v"), QStringLiteral("mpeg2video"), QStringLiteral("-bf"),
            QString::number(bFrames), QStringLiteral("-g"), QString::number(keyEvery),
            QStringLiteral("-sc_threshold"), QStringLiteral("1000000000"), QStringLiteral("-b:v"),
            QStringLiteral("2M")};
}

struct Sound {
    const char* name;
    QStringList options;
    double frame;
};

const Sound kMp3{"MP3", {QStringLiteral("-c:a"), QStringLiteral("libmp3lame")}, 1152 / 48000.0};
const Sound kAc3{"AC-3", {QStringLiteral("-c:a"), QStringLiteral("ac3")}, 1536 / 48000.0};
const Sound kMp2{"MP2", {QStringLiteral("-c:a"), QStringLiteral("mp2")}, 1152 / 48000.0};
const Sound kPcm{"PCM", {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}, 0};

Source source(const QString& name, const QString& extension, const QStringList& video,
              const Sound& sound) {
    QStringList options = video;
    // MPEG program streams as DVDs have them.
    if (extension == QStringLiteral("mpg"))
        options = QStringList{QStringLiteral("-f"), QStringLiteral("vob")} + options;
    // ffmpeg otherwise writes an empty chunk after the first picture of an AVI whose sound
    // starts earlier, and every later picture a slot late: a copy keeps that as it is.
    if (extension == QStringLiteral("avi") && !options.contains(QStringLiteral("-avoid_negative_ts")))
        options << QStringLiteral("-avoid_negative_ts") << QStringLiteral("disabled");
    return {name + QStringLiteral(", ") + QLatin1String(sound.name), extension, options,
            sound.options, sound.frame};
}

// The seven sources the issue measured.
QList<Source> issueSources() {
    QList<Source> sources = {
        source(QStringLiteral("H.264, key every 2 s, B-frames, Matroska"), QStringLiteral("mkv"),
               h264(50, 2), kMp3),
        source(QStringLiteral("H.264, key every 2 s, B-frames, MP4"), QStringLiteral("mp4"),
               h264(50, 2), kMp3),
        source(QStringLiteral("H.264, key every 1 s, MPEG-TS"), QStringLiteral("ts"), h264(25, 2),
               kAc3),
        source(QStringLiteral("H.264, one key frame in 10 s, Matroska"), QStringLiteral("mkv"),
               h264(1000, 2), kPcm),
        source(QStringLiteral("MPEG-4 Part 2 (Xvid), 2 B-frames, AVI"), QStringLiteral("avi"),
               {QStringLiteral("-c:v"), QStringLiteral("libxvid"), QStringLiteral("-bf"),
                QStringLiteral("2"), QStringLiteral("-g"), QStringLiteral("25")},
               kMp3),
        source(QStringLiteral("MPEG-4 Part 2, key every 5 s, AVI"), QStringLiteral("avi"),
               mpeg4(125, 0), kPcm),
        source(QStringLiteral("MPEG-2, 2 B-frames, key every 12, MPEG-PS"), QStringLiteral("mpg"),
               mpeg2(12, 2), kMp2),
    };
    sources[4].textured = true;
    return sources;
}

// Containers x picture formats x key-frame intervals x B-pictures, each with a sound its
// container takes.
QList<Source> fullSources() {
    QList<Source> sources;
    const int keys[] = {25, 50, 250};
    const struct {
        const char* extension;
        QList<Sound> sounds;
    } h264Containers[] = {{"mkv", {kMp3, kAc3, kPcm}}, {"mp4", {kMp3, kAc3}},
                          {"ts", {kAc3, kMp2}},        {"flv", {kMp3}},
                          {"avi", {kMp3, kPcm}},       {"mov", {kPcm, kAc3}}};
    for (const auto& container : h264Containers)
        for (int key : keys)
            for (int b : {0, 2}) {
                const Sound& sound = container.sounds[(key / 25 + b) % container.sounds.size()];
                sources << source(QStringLiteral("H.264, key every %1 s, %2 B-frames, %3")
                                      .arg(key / 25)
                                      .arg(b)
                                      .arg(QLatin1String(container.extension)),
                                  QLatin1String(container.extension), h264(key, b), sound);
            }
    for (const char* extension : {"avi", "mkv", "mp4"})
        for (int key : keys)
            for (int b : {0, 2})
                sources << source(QStringLiteral("MPEG-4 Part 2, key every %1 s, %2 B-frames, %3")
                                      .arg(key / 25)
                                      .arg(b)
                                      .arg(QLatin1String(extension)),
                                  QLatin1String(extension), mpeg4(key, b),
                                  b ? kMp3 : QLatin1String(extension) == QLatin1String("mp4") ? kAc3 : kPcm);
    for (const char* extension : {"mpg", "ts"})
        for (int key : {12, 25, 250})
            for (int b : {0, 2})
                sources << source(QStringLiteral("MPEG-2, key every %1, %2 B-frames, %3")
                                      .arg(key)
                                      .arg(b)
                                      .arg(QLatin1String(extension)),
                                  QLatin1String(extension), mpeg2(key, b), b ? kMp2 : kAc3);
    for (const char* extension : {"avi", "mov"})
        sources << source(QStringLiteral("Motion JPEG, %1").arg(QLatin1String(extension)),
                          QLatin1String(extension),
                          {QStringLiteral("-c:v"), QStringLiteral("mjpeg")}, kPcm);
    Source xvid = source(QStringLiteral("MPEG-4 Part 2 packed (Xvid), B-frames, avi"),
                         QStringLiteral("avi"),
                         {QStringLiteral("-c:v"), QStringLiteral("libxvid"), QStringLiteral("-bf"),
                          QStringLiteral("2")},
                         kMp3);
    xvid.textured = true;
    sources << xvid;
    return sources;
}

struct Span {
    const char* name;
    double start;
    double end;  // 0: the whole file
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const QString converter = arguments.value(
        1, QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin/framewell-convert")));
    const bool ffmpeg = converter == QStringLiteral("ffmpeg");
    const QList<Source> sources =
        arguments.value(2) == QStringLiteral("full") ? fullSources() : issueSources();
    const Span spans[] = {{"whole", 0, 0}, {"2.00-6.00", 2.00, 6.00}, {"2.04-6.04", 2.04, 6.04},
                          {"1.96-5.96", 1.96, 5.96}};
    qputenv("XDG_CONFIG_HOME", QDir::temp().filePath(QStringLiteral("framewell-copy-table")).toLocal8Bit());
    const QString output = QDir::temp().filePath(QStringLiteral("framewell-copy-table.avi"));

    std::printf("copies by %s\n\n", qPrintable(converter));
    std::printf("| source | span | exit | pictures (first-last, count/due) | decoding errors | "
                "beeps vs source, worst (ms) | sound - pictures (ms) | exact |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    int exact = 0;
    int copies = 0;
    for (const Source& source : sources) {
        const QString path = MakeBeepingClip(source.extension, 10.0, source.video, source.audio,
                                             source.textured);
        if (path.isEmpty()) {
            std::printf("| %s | | source could not be made | | | | | |\n", qPrintable(source.name));
            continue;
        }
        for (const Span& span : spans) {
            ++copies;
            QFile::remove(output);
            QStringList run;
            if (ffmpeg) {
                run << QStringLiteral("-v") << QStringLiteral("error") << QStringLiteral("-y");
                if (span.end > 0)
                    run << QStringLiteral("-ss") << QString::number(span.start)
                        << QStringLiteral("-to") << QString::number(span.end);
                run << QStringLiteral("-i") << path << QStringLiteral("-c") << QStringLiteral("copy")
                    << output;
            } else {
                run << QStringLiteral("--overwrite") << QStringLiteral("--quiet")
                    << QStringLiteral("--video-compressor") << QStringLiteral("copy")
                    << QStringLiteral("--audio-compressor") << QStringLiteral("copy");
                if (span.end > 0)
                    run << QStringLiteral("--start") << QString::number(span.start)
                        << QStringLiteral("--end") << QString::number(span.end);
                run << path << output;
            }
            const ProcessResult result = RunProcess(ffmpeg ? QStringLiteral("ffmpeg") : converter, run, 120000);
            const SpanReadBack back = ReadBackSpan(path, output, span.start, span.end, kRate);
            const int errorLines =
                back.errors.isEmpty() ? 0 : static_cast<int>(back.errors.count('\n') + 1);
            double worst = 0;
            for (double gap : back.beepGaps) worst = std::max(worst, std::abs(gap));
            const double halfFrame = source.soundFrame > 0 ? source.soundFrame / 2 : 0.001;
            const bool good = result.exitCode == 0 && back.pictures == back.due &&
                              errorLines == 0 && !back.beepGaps.isEmpty() &&
                              worst <= halfFrame + 0.003 &&
                              std::abs(back.soundOverrun) <= 2 * halfFrame + 0.003;
            exact += good;
            QString said = QString::fromUtf8(result.standardError).trimmed().section(u'\n', -1);
            if (said.size() > 90) said = said.left(87) + QStringLiteral("...");
            std::printf("| %s | %s | %d%s | %s | %d | %s | %s | %s |\n", qPrintable(source.name),
                        span.name, result.exitCode,
                        result.exitCode != 0 ? qPrintable(QStringLiteral(": ") + said) : "",
                        back.pictures.isEmpty()
                            ? "none"
                            : qPrintable(QStringLiteral("%1-%2, %3/%4")
                                             .arg(back.pictures.first())
                                             .arg(back.pictures.last())
                                             .arg(back.pictures.size())
                                             .arg(back.due.size())),
                        errorLines,
                        back.beepGaps.isEmpty() ? "no beeps"
                                                : qPrintable(QString::number(worst * 1000, 'f', 1)),
                        back.pictures.isEmpty()
                            ? "-"
                            : qPrintable(QString::number(back.soundOverrun * 1000, 'f', 0)),
                        good ? "yes" : "no");
            std::fflush(stdout);
        }
    }
    std::printf("\n%d of %d copies exact\n", exact, copies);
    QFile::remove(output);
    return 0;
}
