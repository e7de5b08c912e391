#pragma once

// Reads back what an AVI file's own headers and indexes say it holds: how many pictures at
// what rate, whether the first is a key frame, and how long its sound lasts. A copy checks its
// finished file with it before it says done. Plain C++; no media framework here.

#include <cstdint>
#include <string>

namespace media {

struct AviIndexFacts {
    std::string problem;  // why the file could not be read; empty when it could
    std::uint32_t videoScale = 0;
    std::uint32_t videoRate = 0;
    std::int64_t videoChunks = 0;        // in the index, empty ones (repeats) included
    std::int64_t videoHeaderLength = 0;  // what the stream header says
    bool firstPictureIsKey = false;
    bool hasAudio = false;
    std::uint32_t audioScale = 0;
    std::uint32_t audioRate = 0;
    std::uint32_t audioSampleSize = 0;
    std::int64_t audioUnits = 0;  // frames, or samples for PCM, in the index
    std::int64_t audioHeaderLength = 0;

    double videoSeconds() const {
        return videoRate ? static_cast<double>(videoChunks) * videoScale / videoRate : 0.0;
    }
    double audioSeconds() const {
        return audioRate ? static_cast<double>(audioUnits) * audioScale / audioRate : 0.0;
    }
};

// The facts of a local file (UTF-8 path).
AviIndexFacts ReadAviIndex(const std::string& path);

}  // namespace media
