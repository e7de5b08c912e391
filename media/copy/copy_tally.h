#pragma once

// What a direct stream copy wrote against what was due, held against the finished file's own
// index before the copy says it is done, and said in words for the "Done." line. Plain C++; no
// media framework here.

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/core/frame_time.h"
#include "media/core/reference_time.h"

namespace media {

struct CopyTally {
    FrameRate rate;
    std::int64_t written = 0;  // chunks of pictures, repeats included
    std::int64_t repeats = 0;  // empty chunks where the source has no picture
    std::int64_t due = 0;      // the source's pictures of the span
    ReferenceTime firstShown = kNoTime;  // the first and last pictures due, in stream time
    ReferenceTime lastDue = kNoTime;
    std::size_t head = 0;  // pictures encoded again before the first key frame
    std::size_t tail = 0;  // and at the end
    bool wholeSpanEncoded = false;  // no key frame in the span
    bool startsEarly = false;  // no encoder: from the key frame before the mark
    bool droppedTail = false;  // no encoder: the pictures after the last clean cut left out
    bool stopped = false;      // ended early on request
    // Seconds of one sound frame (PCM: 0); negative when the sound's length is not held to
    // the pictures' (no sound, or silence that could not be made).
    double soundFrame = -1;
};

// Why the finished file at path is not what was due ("its index holds 98 pictures where 100
// were due"); empty when it is.
std::string CheckCopiedFile(const std::string& path, const CopyTally& tally);

// "H.264 video and MP3 sound copied, the 12 pictures before the first key frame encoded again";
// sound is empty for a file without copied sound.
std::string CopySummary(const CopyTally& tally, const std::string& format,
                        const std::string& sound);

}  // namespace media
