#pragma once

// What several benchmarks share: a generated 1080p H.264 clip and a file dialog that picks a
// given file at once.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include "platform/file_chooser.h"

namespace bench {

// 20 seconds of 1920x1080 H.264 at 30 fps with AAC sound, made once in the temporary folder.
inline QString MakeFullHdClip() {
    const QString path = QDir::temp().filePath(QStringLiteral("framewell_bench_1080p_h264.mp4"));
    if (QFileInfo(path).size() > 0) return path;
    QProcess ffmpeg;
    ffmpeg.start(
        QStringLiteral("ffmpeg"),
        {"-hide_banner", "-loglevel", "error",   "-y",
         "-f",           "lavfi",     "-i",      "testsrc2=size=1920x1080:rate=30:duration=20",
         "-f",           "lavfi",     "-i",      "sine=frequency=440:sample_rate=48000:duration=20",
         "-c:v",         "libx264",   "-preset", "veryfast",
         "-pix_fmt",     "yuv420p",   "-c:a",    "aac",
         "-shortest",    path});
    if (!ffmpeg.waitForFinished(300000) || ffmpeg.exitCode() != 0) return {};
    return path;
}

// Answers Open Video's file dialog with one path, without showing anything.
class AcceptFile : public platform::FileChooser {
public:
    explicit AcceptFile(QString path) : path_(std::move(path)) {}
    QString chooseOpenFile(const platform::FileRequest&) override { return path_; }
    QString chooseSaveFile(const platform::FileRequest&) override { return {}; }

private:
    QString path_;
};

}  // namespace bench
