#pragma once

// Media files generated for tests with ffmpeg, and checks of outputs with ffprobe. Fixtures
// are made once per build folder and reused. Every picture encodes its frame number, so a
// test can tell which source frame came out: the left half's grey level is (n mod 16) * 16 + 8
// and the right half's is (n / 16 mod 16) * 16 + 8.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace testing_support {

struct ClipSpec {
    double seconds = 3.0;
    int width = 160;
    int height = 120;
    QString frameRate = QStringLiteral("25");  // as ffmpeg takes it, e.g. "30000/1001"
    bool audio = true;
    int audioRate = 44100;
    int audioChannels = 2;
    QString extension = QStringLiteral("avi");  // decides the container
    QString videoCodec = QStringLiteral("mpeg4");  // ffmpeg encoder name
    QString audioCodec = QStringLiteral("pcm_s16le");
    QStringList extraArguments;  // added before the output name
};

// The path of a clip made as described (made now if it does not exist yet). Empty on failure.
QString MakeClip(const ClipSpec& spec);
// The path of a file that ffmpeg makes from these arguments (inputs, maps, codecs; the output
// name follows them), made once per build folder like MakeClip's. Empty on failure.
QString MakeFile(const QStringList& arguments, const QString& extension);
// A Matroska film of a plain 320x240 picture with two sound tracks, 440 Hz (English) and
// 1000 Hz (French, titled "Commentary"), and an English subtitle track made of the SRT file
// cues, or of the bitmap cues of a PGS file (.sup) as they are.
QString MakeTwoToneFilm(const QString& cues, double seconds = 3.0);
// Writes a PGS (Blu-ray) subtitle file with one cue for a 320x240 picture, from 1 s to 2 s: a
// white bar across the bottom fifth. False when it cannot be written.
bool WriteBitmapCue(const QString& path);

struct ProcessResult {
    int exitCode = -1;
    bool timedOut = false;
    QByteArray standardOutput;
    QByteArray standardError;
};
ProcessResult RunProcess(const QString& program, const QStringList& arguments,
                         int timeoutMs = 120000);

// ffprobe's view of a file: {"streams": [...], "format": {...}}, with counted frames.
QJsonObject Probe(const QString& path);
// The first stream of a type ("video" or "audio"); empty when there is none.
QJsonObject StreamOf(const QJsonObject& probe, const QString& type);
// Number of decoded frames of the file's first video stream; -1 on failure.
int CountVideoFrames(const QString& path);

// Which source frame a decoded output frame shows; nullopt when it cannot be read.
std::optional<int> FrameNumberAt(const QString& path, int frameIndex);

// Timestamps of the packets in file order as (stream index, pts seconds), for interleaving.
QList<QPair<int, double>> PacketOrder(const QString& path);

}  // namespace testing_support
