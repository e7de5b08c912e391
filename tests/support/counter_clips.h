#pragma once

// Clips in the containers users bring, made by ffmpeg, whose every picture shows its frame
// number: the left half's grey level is 20 + 13 × (n mod 16), the right half's
// 20 + 13 × (n / 16 mod 16). The levels stay inside the video range, so they survive a round
// trip through RGB; the numbers run to 255. Made once per build folder, like the other
// fixtures.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace testing_support {

struct CounterClip {
    QString extension;  // decides the container
    double seconds = 4.0;
    QString frameRate = QStringLiteral("25");
    QStringList inputOptions;  // before the picture's input, e.g. {"-itsoffset", "0.3"}
    QStringList video;         // ffmpeg's output options for the picture
    QStringList audio;         // ... for the sound; empty for a clip without sound
    // The sound is silent but for a short 1 kHz beep at each whole second of the source, so
    // that an output's sound can be set against its pictures (BeepTimes); otherwise a steady
    // tone.
    bool beeps = false;
    // Where the sound starts after the pictures, in seconds; the beeps stay on the whole
    // seconds of the file.
    double soundStart = 0;
    int audioChannels = 1;
    int audioRate = 48000;
    // The numbers in two bands across a still texture: encoders that take every change of
    // brightness for a cut (Xvid's) then make P- and B-pictures too. PictureNumbers reads the
    // bands' middles as it reads the halves of a plain clip.
    bool textured = false;
    QStringList output;  // further output options, e.g. {"-output_ts_offset", "1.4"}
    // Changes the file's bytes once written (a raised object count, damage); named, so that
    // the variant has a file of its own.
    QString mendName;
    std::function<bool(QByteArray&)> mend;
};

// The path of the clip (made now if it does not exist yet); empty on failure.
QString MakeCounterClip(const CounterClip& clip);

// The frame number each decoded picture of the file's first video stream shows, in order.
// turned: the pictures were turned a quarter clockwise, the left half now on top. errors, when
// given, gets what the decoder said was wrong (empty for a stream that decodes cleanly).
QList<int> PictureNumbers(const QString& path, bool turned = false, QByteArray* errors = nullptr);

// Where the beeps of a beeping clip's sound start in the file's first sound stream, in seconds
// from its first sample, in order; empty when the sound cannot be read.
QList<double> BeepTimes(const QString& path);

// How far each beep lies from the picture that shows its whole second, in seconds (positive:
// the sound is late). The pictures are taken to follow each other at frameRate from the start
// of the picture stream, as in an AVI file; the sound and the pictures start where the
// container places them (a transport stream's sound may start before its pictures). Beeps
// whose picture is not in the file are skipped, and so are beeps in the first `after`
// seconds: the first frame of a sound cut from inside it decodes half-heard.
QList<double> BeepOffsets(const QString& path, double sourceFrameRate, double frameRate,
                          double after = 0);

// A copy of a span of a counter clip with beeps, held against the clip: the pictures it shows
// against the clip's own from the span's first picture to the last before its end, what its
// decoder said, where its beeps fall against the clip's and how long its sound lasts.
struct SpanReadBack {
    QList<int> pictures;
    QList<int> due;
    QByteArray errors;  // empty for pictures that decode cleanly
    // Each beep's distance from where the clip has it, in seconds; a beep at the output's very
    // start is left out (see BeepOffsets).
    QList<double> beepGaps;
    double soundOverrun = 0;  // the sound's length less the pictures', in seconds
};

// start and end in seconds; an end of 0 is the whole clip. The clip's own pictures and beeps
// are read once per clip.
SpanReadBack ReadBackSpan(const QString& clip, const QString& output, double start, double end,
                          double frameRate);

// A clip with beeps and stereo sound, of the picture and sound options given.
QString MakeBeepingClip(const QString& extension, double seconds, const QStringList& video,
                        const QStringList& audio, bool textured = false, double soundStart = 0);

}  // namespace testing_support
