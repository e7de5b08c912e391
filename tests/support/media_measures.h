#pragma once

// What ffmpeg reads back from an output, for the checks of what a conversion took from its
// source: the pitch of its sound, the combing of its pictures, the pictures of two outputs
// held against each other.

#include <QString>

namespace testing_support {

// The frequency in Hz of the steady tone of the file's first sound stream, from its zero
// crossings; 0 when there is no sound.
double TonePitch(const QString& path);

// The share of pictures that ffmpeg's idet (its multi-frame verdict) finds interlaced, from 0
// to 1; -1 when it cannot tell.
double CombedShare(const QString& path);

// The PSNR in dB of the pictures of two files at a time, as grey pictures, over the bottom
// share of their height (where subtitles stand); infinity when they are the same there, -1
// when a picture cannot be read.
double BottomPsnr(const QString& first, const QString& second, double seconds, double share);

}  // namespace testing_support
