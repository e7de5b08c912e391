#pragma once

// The sound of a direct stream copy: which formats an AVI file carries well as they are (MP3,
// MP2, AC-3 and PCM), named from the frames themselves, how its stream header describes them,
// and frames of silence in the same format to fill a gap where the pictures start before the
// sound or outlast it. Not for use outside media/.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/copy/avi_writer.h"

// GStreamer's caps, named without its headers: the sound track that uses this header is plain
// C++.
typedef struct _GstCaps GstCaps;

namespace media {

struct CopiedSound {
    std::string name;     // "MP3", "MP2", "AC-3", "PCM"
    AviAudioStream avi;   // the stream's header in the file
    int sampleRate = 0;
    int channels = 0;
    int samplesPerFrame = 0;  // 0 for PCM, whose chunks hold any number of samples
    int bytesPerSample = 0;   // PCM: of all channels together
    bool swapBytes = false;   // PCM stored big-endian, which an AVI file stores little-endian
    // One frame of silence; empty where it must be encoded (EncodedSilence).
    std::vector<std::uint8_t> silence;
};

// How the sound goes into the file as it is, from its format and first frame; nullopt when an
// AVI file cannot carry it well.
std::optional<CopiedSound> CopiedSoundOf(const GstCaps* caps, const std::uint8_t* firstFrame,
                                         std::size_t size);

// A frame of silence made by the format's encoder where one cannot be written by hand (AC-3:
// each frame carries its own exponents and checksums); empty when no encoder is installed.
std::vector<std::uint8_t> EncodedSilence(const CopiedSound& sound);

// PCM samples in the byte order of the file.
void SwapSampleBytes(std::vector<std::uint8_t>& samples, int bytesPerChannelSample);

}  // namespace media
