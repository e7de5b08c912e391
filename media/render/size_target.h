#pragma once

// Aiming a conversion at a file size, a CD's or a player's limit: the video bit rate is what
// the size leaves after the sound and the file's own structure (headers, chunk headers, index).
// Where the encoder keeps statistics between passes, a first pass measures what the sound and
// the structure really take and how the pictures spend their bits, and a second pass spends
// exactly what is left; otherwise one pass at the estimated rate.

#include <cstdint>
#include <string>

#include "media/core/reference_time.h"
#include "media/encoders/encoder_properties.h"
#include "media/render/render_plan.h"

namespace media {

// 1 MB = 1,000,000 bytes, as disc and player limits are given.
inline constexpr std::int64_t kBytesPerMegabyte = 1'000'000;

// The sound the source brings (0 when it has none), as the probe found it.
struct SoundFormat {
    int rate = 0;
    int channels = 0;
    // As the stream states it (what a copy of it takes); 0 when it does not say.
    int bitsPerSecond = 0;
};

struct SizeTarget {
    std::int64_t bytes = 0;
    // Why the size cannot be aimed at, in one sentence; empty when it can.
    std::string refusal;
    bool twoPasses = false;
    std::string encoderFactory;
    // Estimates for the whole output: the sound, and the file's structure.
    std::int64_t soundBytes = 0;
    std::int64_t structureBytes = 0;
    // The video bit rate of the only pass, or of the first of two.
    std::int64_t videoBitsPerSecond = 0;

    bool ok() const { return refusal.empty(); }
};

// Why a size cannot be aimed at through this video route (raw, Direct stream copy, a
// compressor without a bit rate to set), in one sentence; empty when it can.
std::string SizeTargetRefusal(const StreamRoute& video);
// Whether the route's compressor aims at a size in two passes.
bool SizeTargetTwoPasses(const StreamRoute& video);

// Plans a conversion of length into targetBytes through the plan's compressors.
SizeTarget PlanSizeTarget(const RenderPlan& plan, std::int64_t targetBytes, ReferenceTime length,
                          SoundFormat sound);

// The video encoder's settings for a pass: the user's, with the bit rate and the pass set.
// pass is 0 for a single pass, 1 or 2 for the passes of two; statsPath is where the encoder
// keeps its statistics between them.
EncoderProperties PassProperties(const SizeTarget& target, const EncoderProperties& chosen,
                                 int pass, std::int64_t videoBitsPerSecond,
                                 const std::string& statsPath);

// The sound encoder's settings for a size aimed at: its own, with an encoder that aims at a
// quality (LAME's default) set to its bit rate instead, so that the sound takes what the plan
// counted on. A first pass planned on a guess for the sound would leave x264's second pass to
// stretch its statistics to a rate far from theirs, and it falls short then (a fifth, on
// 10 s of 320x240 whose sound came out at a sixth of the guess).
EncoderProperties SoundPropertiesForSize(const StreamRoute& audio);

// What an AVI file holds: its size, and the bytes of its pictures' chunks alone.
struct AviPayload {
    bool read = false;
    std::int64_t fileBytes = 0;
    std::int64_t videoBytes = 0;
};
AviPayload ReadAviPayload(const std::string& path);

// The second pass's video bit rate: the target less what the first pass wrote besides its
// pictures (sound, headers and index come out the same), spread over the length.
std::int64_t SecondPassBitsPerSecond(const SizeTarget& target, const AviPayload& firstPass,
                                     ReferenceTime length);

// Puts a finished file in place of target as a conversion's own file would be (replacing an
// existing regular file only once it is in place). False with *problem set when it cannot;
// the finished file is then deleted.
bool PlaceFinishedFile(const std::string& finished, const std::string& target,
                       std::string* problem);

// "10 MB", "4.7 MB", "700 MB".
std::string FormatMegabytes(std::int64_t bytes);

}  // namespace media
