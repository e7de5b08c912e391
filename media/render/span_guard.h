#pragma once

// Keeps a conversion's sound inside its picture. The editing services render sound much
// faster than pictures, so when a conversion is stopped part-way the sound already handed to
// the encoding bin runs seconds past the last picture, and a source whose sound outlasts the
// span it was asked for brings that sound along too. The guard watches the encoding bin's
// inputs and its multiplexer's inputs:
//  - no sound that starts at or after the cut is written, and the sound that straddles the cut
//    is shortened to it (raw sound to the sample, compressed sound by whole frames);
//  - the cut is the planned end of the output, or after a stop the later of the pictures
//    already given to the encoders and the sound the multiplexer already wrote (it takes sound
//    ahead of the pictures it has, and what it wrote stays);
//  - after a stop each stream is ended as soon as it reaches the cut, not before: the pictures
//    go on to the sound already written, and sound that lags behind the pictures still fills
//    them.
// Not for use outside media/.

#include <gst/gst.h>

#include <memory>

namespace media {

struct SpanGuardState;

class SpanGuard {
public:
    // Watches the encoding bin once the pipeline is linked and before it runs. plannedEnd is
    // the output's length in running time (nanoseconds), or GST_CLOCK_TIME_NONE.
    static std::shared_ptr<SpanGuard> Attach(GstElement* encodebin, GstClockTime plannedEnd);

    // The stop: both streams end at the cut (above). Runs on any thread; returns at once.
    void EndPicturesNow();

    // The running time the pictures and the sound have reached at the multiplexer, in
    // nanoseconds.
    GstClockTime PicturesWritten() const;
    GstClockTime SoundWritten() const;

    explicit SpanGuard(std::shared_ptr<SpanGuardState> state);

private:
    std::shared_ptr<SpanGuardState> state_;
};

}  // namespace media
