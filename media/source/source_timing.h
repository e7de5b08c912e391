#pragma once

// Where a file's pictures lie on the media framework's own time axis, the axis of its seeks,
// positions and the editing services' in-points. Containers differ: an MPEG transport or
// program stream starts its pictures where its clock stood (often a second or more in), an
// MP4 edit list or a Matroska codec delay moves them by a few milliseconds, and what the
// container says of its duration is sometimes the length, sometimes the end, sometimes an
// estimate. For the user a file's first picture is time 0 and frame 0 everywhere; this is the
// one place that turns the user's times into the framework's and back, from a measurement of
// the file itself: the first picture is decoded after a seek to the start, the last ones after
// a seek near the end.
//
// Measuring blocks for up to its time limit, so callers keep it off the UI thread; a file is
// measured once (until it changes) and the result is shared by the probe, the player and the
// conversion.

#include <chrono>
#include <optional>
#include <string>

#include "media/core/frame_time.h"
#include "media/core/reference_time.h"

namespace media {

// How the frame rate of a source was found.
enum class FrameRateOrigin {
    Declared,  // the stream or the container states it, and the pictures keep to it
    Measured,  // the spacing of the pictures' times: nothing states a rate, or not theirs
    Assumed,   // nothing said or measured it: 25 frames per second
};

struct SourceTiming {
    bool measured = false;        // false: nothing could be decoded, the fields are the defaults
    ReferenceTime origin = 0;     // media time of the first picture
    ReferenceTime videoEnd = -1;  // media time where the last picture ends; -1 unknown
    ReferenceTime audioEnd = -1;  // media time where the sound ends; -1 none or unknown
    ReferenceTime declaredDuration = 0;  // what the container says, as it says it
    FrameRate frameRate{25, 1};
    FrameRateOrigin frameRateOrigin = FrameRateOrigin::Assumed;
    // What the stream or the container says, where it says anything; frameRate differs from it
    // when the pictures' spacing does by more than 1%.
    FrameRate statedFrameRate;
    // Degrees clockwise that the pictures are to be turned to stand upright (0, 90, 180, 270),
    // from the stream's orientation tag (a display matrix, for MP4).
    int rotation = 0;
    bool hasSound = false;  // a stream of the file decodes to sound
    // The demultiplexer's seeks need mending (see MendsSeeksOf).
    bool seeksMended = false;

    // The user's times and the framework's.
    ReferenceTime ToMedia(ReferenceTime user) const { return user + origin; }
    ReferenceTime ToUser(ReferenceTime media) const { return media > origin ? media - origin : 0; }
    // From the first picture's start to the last picture's end; the container's word when the
    // end could not be found.
    ReferenceTime Length() const;
    // Where the sound ends in user time, or -1.
    ReferenceTime SoundLength() const { return audioEnd >= 0 ? ToUser(audioEnd) : -1; }
};

// The nearest standard rate (24000/1001, 24, 25, 30000/1001, 30, 50, 60000/1001, 60) when it
// lies within 0.1%, else the rate itself.
FrameRate SnapToStandardRate(FrameRate rate);

// The degrees clockwise that a GST_TAG_IMAGE_ORIENTATION value ("rotate-90", "flip-rotate-270")
// turns the stored pictures; 0 for none or one not known.
int OrientationDegrees(const char* orientation);

// Measures a local file (UTF-8 path) within the time limit, or returns what an earlier
// measurement of the unchanged file found.
SourceTiming MeasureSourceTiming(const std::string& path,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(5));

// What is known of the file without measuring it; nullopt when it has not been measured (or
// has changed since).
std::optional<SourceTiming> KnownSourceTiming(const std::string& path);

}  // namespace media
