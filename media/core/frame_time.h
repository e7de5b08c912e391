#pragma once

// Frame arithmetic on media times: which frame a time falls in, where a frame starts, and the
// frame-exact time text of the mark displays' tooltips. Plain C++; no media framework here.

#include <cstdint>
#include <string>

#include "media/core/reference_time.h"

namespace media {

// A constant frame rate as the stream negotiated it, e.g. 30000/1001. A numerator of 0 means
// the stream gives none (a variable rate, or no picture at all).
struct FrameRate {
    int numerator = 0;
    int denominator = 1;

    bool known() const { return numerator > 0 && denominator > 0; }
};

// The frame on show at time t: the frame whose nominal span, from index × period until the
// next frame's start, holds t. Negative times are frame 0. The rate must be known.
std::int64_t FrameIndexAt(ReferenceTime t, FrameRate rate);

// How far from its nominal start a container may put a frame: files that keep milliseconds
// round each start to the nearest one.
inline constexpr ReferenceTime kTimestampRounding = 5'000;

// The frame that starts at a timestamp read from the file, which may lie up to the rounding
// above either side of the frame's nominal start.
std::int64_t FrameStartingAt(ReferenceTime timestamp, FrameRate rate);

// The nominal start of a frame, rounded up to the next unit of 100 ns, so that the frame at
// FrameStart(n) is n again.
ReferenceTime FrameStart(std::int64_t index, FrameRate rate);

// The middle of a frame. A seek aimed there lands on that frame whichever way the container
// rounded its timestamps.
ReferenceTime FrameMiddle(std::int64_t index, FrameRate rate);

// How many frames a clip of this length holds: the frames that start (FrameStart) before its
// end. A length of FrameStart(n) holds n frames.
std::int64_t FrameCount(ReferenceTime length, FrameRate rate);

// "%02d:%02d:%02d.%03d": the clock form of the position display with milliseconds, truncated.
std::string FormatClockMilliseconds(ReferenceTime t);

}  // namespace media
