#pragma once

// Writes an AVI file from compressed pictures and sound as they are: a chunk for each picture
// in decoding order (an empty one repeats the picture before), a chunk for each sound frame (or
// for a run of PCM samples), the legacy index and the OpenDML indexes that let the file pass
// 1 GiB. The stream headers give the picture rate and the sound's time base as exact fractions
// (2997/125 stays 2997/125). Plain C++; no media framework here.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace media {

struct AviVideoStream {
    std::uint32_t fourcc = 0;  // as it lies in the file: 'H','2','6','4' → 0x34363248
    int width = 0;
    int height = 0;
    std::uint32_t rate = 25;  // pictures a second: rate / scale
    std::uint32_t scale = 1;
    std::vector<std::uint8_t> extradata;  // after the bitmap header
};

struct AviAudioStream {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 48000;
    std::uint32_t averageBytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::vector<std::uint8_t> extra;  // after the wave format header
    // The stream header's time base. sampleSize 0: every chunk is one frame of scale / rate
    // seconds; otherwise the chunks hold samples of sampleSize bytes, rate / scale a second.
    std::uint32_t scale = 1;
    std::uint32_t rate = 48000;
    std::uint32_t sampleSize = 0;
};

constexpr std::uint32_t FourCc(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

class AviWriter {
public:
    // A RIFF part is closed before it passes partLimit bytes (1 GiB, as readers of OpenDML
    // files expect; smaller only to try the parts out).
    explicit AviWriter(std::uint64_t partLimit = std::uint64_t{1} << 30) : partLimit_(partLimit) {}
    ~AviWriter();  // closes an unfinished file as it is
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates (or empties) the file. False with *problem set, naming the file.
    bool Open(const std::string& path, const AviVideoStream& video,
              const std::optional<AviAudioStream>& audio, std::string* problem);
    // One picture in decoding order; an empty one repeats the one before.
    bool WriteVideo(const std::uint8_t* data, std::size_t size, bool key);
    // One sound frame, or a run of PCM samples.
    bool WriteAudio(const std::uint8_t* data, std::size_t size);
    // Writes the indexes and the final headers and closes the file. False with *problem set.
    bool Finish(std::string* problem);

    std::int64_t videoChunks() const { return streams_[0].chunks; }
    // The sound's length in its own time base: frames, or samples for PCM.
    std::int64_t audioUnits() const;
    const std::string& problem() const { return problem_; }

    struct Entry {
        std::uint64_t offset;  // of the chunk's header in the file
        std::uint32_t size;
        bool key;
    };
    struct Stream {
        std::uint32_t chunkId = 0;
        std::int64_t chunks = 0;
        std::uint64_t bytes = 0;
        std::uint32_t largest = 0;
        std::vector<Entry> segment;  // the chunks of the current RIFF part
        // Where each part's standard index lies, its size and how many chunks it holds.
        struct Part {
            std::uint64_t offset;
            std::uint32_t size;
            std::uint32_t duration;
        };
        std::vector<Part> parts;
        std::uint64_t superIndexAt = 0;  // the reserved super index in the header
        std::uint64_t headerAt = 0;      // the stream header
    };

private:
    bool writeChunk(int stream, const std::uint8_t* data, std::size_t size, bool key);
    bool endPart();
    bool beginPart();
    bool put(const void* data, std::size_t size);
    bool put32(std::uint32_t value);
    bool put16(std::uint16_t value);
    bool putAt(std::uint64_t at, std::uint32_t value);
    std::uint64_t tell() const { return position_; }
    bool fail(const std::string& what);

    std::uint64_t partLimit_;
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string problem_;
    std::uint64_t position_ = 0;
    AviVideoStream video_;
    std::optional<AviAudioStream> audio_;
    Stream streams_[2];
    int streamCount_ = 1;
    std::uint64_t avihAt_ = 0;
    std::uint64_t dmlhAt_ = 0;
    std::uint64_t riffAt_ = 0;   // the current RIFF part's header
    std::uint64_t moviAt_ = 0;   // the current part's movi list header
    int part_ = 0;
    std::vector<Entry> legacyIndex_[2];  // the first part's chunks, for idx1
    std::int64_t firstPartVideoChunks_ = 0;
};

}  // namespace media
