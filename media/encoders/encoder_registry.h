#pragma once

// The installed encoders that can feed an AVI file: the stand-in for the platform's video
// and audio compressor categories.

#include <string>
#include <vector>

namespace media {

enum class EncoderKind { Video, Audio };

struct EncoderInfo {
    std::string factoryName;   // the GStreamer element factory, e.g. "avenc_mpeg4"
    std::string friendlyName;  // what the user reads in the compressor lists
    EncoderKind kind = EncoderKind::Video;
};

// Encoders of the kind whose output the AVI multiplexer accepts and that really encode a few
// frames in a trial pipeline (some pass the caps check and then fail, e.g. hardware wrappers
// without their hardware). Ordered by factory name, so positions stay put from run to run
// while the installed set does not change. Worked out once per process and then kept; the
// trials' outcomes are also kept between runs, in the user's cache folder, for as long as the
// installed plugins stay the same: then the first call takes a few milliseconds, otherwise a
// few hundred at most. Needs a started media framework.
const std::vector<EncoderInfo>& AviEncoders(EncoderKind kind);

// Starts working the lists out in the background, so that whoever asks first later finds them
// ready (or waits only for the rest). Needs a started media framework.
void PrepareAviEncoders();

// The same list worked out anew, with the trials' outcomes kept in cacheFolder (empty: the
// user's cache folder); *trialsRun says how many trial pipelines it ran.
std::vector<EncoderInfo> ListAviEncoders(EncoderKind kind, const std::string& cacheFolder,
                                         int* trialsRun = nullptr);

// The largest frame size no bigger than width x height whose sides the encoder takes: a
// picture whose colour is kept at half the size across (4:2:2) needs an even width, and one
// kept at half the size both ways (4:2:0, which most video encoders take) an even height too.
// An encoder that lists such a format may be handed it, whatever else it lists. Unchanged for
// an encoder without one, or for an empty name (uncompressed video). Needs a started media
// framework.
struct FrameSize {
    int width = 0;
    int height = 0;
    bool operator==(const FrameSize&) const = default;
};
FrameSize FrameSizeForEncoder(const std::string& factoryName, int width, int height);

// The human name for a factory: a curated name for the common codecs, otherwise the
// factory's own long name without its "libav " prefix and " encoder" suffix.
std::string EncoderFriendlyName(const std::string& factoryName, const std::string& longName);

}  // namespace media
