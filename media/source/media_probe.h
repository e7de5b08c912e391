#pragma once

// Measures a media file without playing it: length, picture size, frame rate and audio
// format. Blocks for up to the time limit, so callers keep it off the UI thread.

#include <chrono>
#include <string>

#include "media/core/reference_time.h"
#include "media/core/status.h"
#include "media/source/source_timing.h"
#include "media/source/source_tracks.h"

namespace media {

struct ProbeResult {
    HRESULT status = E_FAIL;   // S_OK when the file could be decoded
    std::string errorText;     // GStreamer's words for a failure
    bool missingDecoder = false;  // failed because a plugin is not installed
    // From the first picture to the end of the last, full precision; 0 when unknown.
    ReferenceTime duration = 0;
    // Where the sound ends, from the first picture; -1 without sound or when unknown.
    ReferenceTime soundLength = -1;

    bool hasVideo = false;
    bool stillImage = false;  // a single picture (PNG, JPEG, ...), not a video
    bool interlaced = false;  // the picture stream says its pictures are made of two fields
    int width = 0;            // the upright picture size, before pixel-aspect correction
    int height = 0;
    int rotation = 0;  // degrees clockwise the stored pictures are turned to stand upright
    // The source's own rate: stated by the stream or the container, else measured, else 25.
    int frameRateNumerator = 0;
    int frameRateDenominator = 1;
    FrameRateOrigin frameRateOrigin = FrameRateOrigin::Assumed;
    // What the stream or container states, where it states a rate other than the one used.
    int statedFrameRateNumerator = 0;
    int statedFrameRateDenominator = 1;
    int pixelAspectNumerator = 1;
    int pixelAspectDenominator = 1;

    bool hasAudio = false;
    int audioRate = 0;
    int audioChannels = 0;
    int audioBitsPerSecond = 0;  // as the stream states it; 0 when it does not

    bool seekable = false;

    // Every picture, sound and subtitle track, in the file's order.
    SourceTracks tracks;

    // Frames per second, or 0 when there is no picture.
    double frameRate() const {
        return frameRateDenominator > 0 && frameRateNumerator > 0
                   ? static_cast<double>(frameRateNumerator) / frameRateDenominator
                   : 0.0;
    }
};

inline constexpr std::chrono::milliseconds kDefaultProbeTimeout{5000};

// path is a local file name in UTF-8.
ProbeResult ProbeMediaFile(const std::string& path,
                           std::chrono::milliseconds timeout = kDefaultProbeTimeout);

}  // namespace media
