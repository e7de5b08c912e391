#pragma once

// Checks of written AVI files that need the file's own layout rather than the decoded
// streams: the order of the chunks in the file (interleaving) and where the picture sits.

#include <QList>
#include <QString>

#include <optional>

namespace testing_support {

struct FilePacket {
    int stream = 0;
    double seconds = 0.0;  // presentation time
    qint64 position = 0;   // byte offset of the chunk in the file
};

// Every packet, in the order the chunks lie in the file.
QList<FilePacket> PacketsInFileOrder(const QString& path);

// The longest span of media time that one stream covers with consecutive chunks while the
// other stream still has chunks to come. A file written with all audio before the video
// gives the whole length; an interleaved one a fraction of a second.
double LongestSingleStreamRun(const QString& path);

// Which fixture frame a decoded frame shows, like FrameNumberAt, but read from the luma of the
// picture as YUV so that outputs in RGB (whose levels are stretched to full range) decode the
// same as YUV ones.
std::optional<int> SourceFrameAt(const QString& path, int frameIndex);

// The mean grey level (0 to 255) of a rectangle of one decoded frame, in fractions of the
// frame (0.0 to 1.0).
std::optional<double> MeanGrey(const QString& path, int frameIndex, double left, double top,
                               double right, double bottom);

// A clip whose upper half is white and lower half black, to catch pictures written upside
// down. Made once per build folder, like the other fixtures.
QString MakeTopWhiteClip(int width, int height, double seconds);

// The frames of a finished AVI, whose index counts every frame it holds and every one of them
// decodes; -1 for a file that is missing, broken or left without its index.
int FinishedFrames(const QString& path);

// Length of the first audio stream in seconds, counted from its decoded samples; -1 on failure.
double DecodedAudioSeconds(const QString& path);

// Whether the sound lasts as long as the pictures, within one frame; why gets both lengths.
bool SoundFitsPictures(const QString& path, QString* why);

// How many video packets are key frames.
int KeyFrameCount(const QString& path);

// Largest absolute sample value of the first audio stream, decoded as 16-bit; -1 on failure.
int PeakAudioSample(const QString& path);

}  // namespace testing_support
