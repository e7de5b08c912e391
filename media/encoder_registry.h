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

// The human name for a factory: a curated name for the common codecs, otherwise the
// factory's own long name without its "libav " prefix and " encoder" suffix.
std::string EncoderFriendlyName(const std::string& factoryName, const std::string& longName);

}  // namespace media
