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
    int audioChannels = 1;
    int audioRate = 48000;
    QStringList output;  // further output options, e.g. {"-output_ts_offset", "1.4"}
    // Changes the file's bytes once written (a raised object count, damage); named, so that
    // the variant has a file of its own.
    QString mendName;
    std::function<bool(QByteArray&)> mend;
};

// The path of the clip (made now if it does not exist yet); empty on failure.
QString MakeCounterClip(const CounterClip& clip);

// The frame number each decoded picture of the file's first video stream shows, in order.
// turned: the pictures were turned a quarter clockwise, the left half now on top.
QList<int> PictureNumbers(const QString& path, bool turned = false);

// Where the beeps of a beeping clip's sound start in the file's first sound stream, in seconds
// from its first sample, in order; empty when the sound cannot be read.
QList<double> BeepTimes(const QString& path);

// How far each beep lies from the picture that shows its whole second, in seconds (positive:
// the sound is late). The pictures are taken to follow each other at frameRate from the
// output's start, as in an AVI file; beeps whose picture is not in the file are skipped.
QList<double> BeepOffsets(const QString& path, double sourceFrameRate, double frameRate);

}  // namespace testing_support
