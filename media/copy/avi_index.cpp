#include "media/copy/avi_index.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace media {
namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool readAt(std::FILE* file, std::uint64_t at, void* into, std::size_t size) {
#if defined(_WIN32)
    if (_fseeki64(file, static_cast<__int64>(at), SEEK_SET) != 0) return false;
#else
    if (fseeko(file, static_cast<off_t>(at), SEEK_SET) != 0) return false;
#endif
    return std::fread(into, 1, size, file) == size;
}

struct StreamIndex {
    bool video = false;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    std::uint32_t sampleSize = 0;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> superIndex;
};

// What one stream's OpenDML indexes hold: chunks, bytes and whether the first is a key frame.
struct Counted {
    std::int64_t chunks = 0;
    std::uint64_t bytes = 0;
    bool firstKey = false;
    bool ok = true;
};

Counted countStandardIndexes(std::FILE* file, const StreamIndex& stream) {
    Counted counted;
    const std::vector<std::uint8_t>& super = stream.superIndex;
    if (super.size() < 24) return counted;
    const std::uint32_t entries = le32(super.data() + 4);
    for (std::uint32_t i = 0; i < entries && 24 + 16 * (i + 1) <= super.size(); ++i) {
        const std::uint8_t* entry = super.data() + 24 + 16 * i;
        const std::uint64_t at = le32(entry) | static_cast<std::uint64_t>(le32(entry + 4)) << 32;
        std::uint8_t header[32];
        if (!readAt(file, at, header, sizeof header)) {
            counted.ok = false;
            return counted;
        }
        const std::uint32_t inUse = le32(header + 12);
        std::vector<std::uint8_t> table(8 * static_cast<std::size_t>(inUse));
        if (!table.empty() && !readAt(file, at + 32, table.data(), table.size())) {
            counted.ok = false;
            return counted;
        }
        for (std::uint32_t e = 0; e < inUse; ++e) {
            const std::uint32_t size = le32(table.data() + 8 * e + 4);
            if (counted.chunks == 0) counted.firstKey = (size & 0x80000000u) == 0;
            counted.bytes += size & 0x7fffffffu;
            ++counted.chunks;
        }
    }
    return counted;
}

}  // namespace

AviIndexFacts ReadAviIndex(const std::string& path) {
    AviIndexFacts facts;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    std::uint8_t riff[12];
    if (!file || std::fread(riff, 1, 12, file.get()) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "AVI ", 4) != 0) {
        facts.problem = "it is not an AVI file";
        return facts;
    }
    const std::uint64_t riffEnd = 8 + static_cast<std::uint64_t>(le32(riff + 4));
    std::vector<StreamIndex> streams;
    std::uint64_t moviAt = 0;
    std::uint64_t idx1At = 0;
    std::uint32_t idx1Size = 0;
    // The first RIFF part's top-level chunks, and the header list's streams.
    for (std::uint64_t at = 12; at + 8 <= riffEnd;) {
        std::uint8_t chunk[12];
        if (!readAt(file.get(), at, chunk, 12)) break;
        const std::uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "LIST", 4) == 0 && std::memcmp(chunk + 8, "hdrl", 4) == 0) {
            std::vector<std::uint8_t> header(size >= 4 ? size - 4 : 0);
            if (!readAt(file.get(), at + 12, header.data(), header.size())) break;
            StreamIndex* current = nullptr;
            // Walks the header list and its stream lists alike: their children follow on.
            for (std::size_t p = 0; p + 8 <= header.size();) {
                const std::uint8_t* h = header.data() + p;
                const std::uint32_t hs = le32(h + 4);
                if (std::memcmp(h, "LIST", 4) == 0) {
                    p += 12;
                    continue;
                }
                if (p + 8 + hs > header.size()) break;
                if (std::memcmp(h, "strh", 4) == 0 && hs >= 48) {
                    streams.emplace_back();
                    current = &streams.back();
                    current->video = std::memcmp(h + 8, "vids", 4) == 0;
                    current->scale = le32(h + 8 + 20);
                    current->rate = le32(h + 8 + 24);
                    current->length = le32(h + 8 + 32);
                    current->sampleSize = le32(h + 8 + 44);
                } else if (std::memcmp(h, "indx", 4) == 0 && current) {
                    current->superIndex.assign(h + 8, h + 8 + hs);
                }
                p += 8 + hs + (hs & 1);
            }
        } else if (std::memcmp(chunk, "LIST", 4) == 0 && std::memcmp(chunk + 8, "movi", 4) == 0) {
            moviAt = at + 8;
        } else if (std::memcmp(chunk, "idx1", 4) == 0) {
            idx1At = at + 8;
            idx1Size = size;
        }
        at += 8 + size + (size & 1);
    }
    const StreamIndex* video = nullptr;
    const StreamIndex* audio = nullptr;
    for (const StreamIndex& stream : streams) {
        if (stream.video && !video) video = &stream;
        if (!stream.video && !audio) audio = &stream;
    }
    if (!video) {
        facts.problem = "it has no video stream";
        return facts;
    }
    facts.videoScale = video->scale;
    facts.videoRate = video->rate;
    facts.videoHeaderLength = video->length;
    if (audio) {
        facts.hasAudio = true;
        facts.audioScale = audio->scale;
        facts.audioRate = audio->rate;
        facts.audioSampleSize = audio->sampleSize;
        facts.audioHeaderLength = audio->length;
    }
    const auto streamNumber = [&](const StreamIndex* stream) {
        return static_cast<int>(stream - streams.data());
    };

    if (video->superIndex.size() >= 24 && le32(video->superIndex.data() + 4) > 0) {
        const Counted pictures = countStandardIndexes(file.get(), *video);
        facts.videoChunks = pictures.chunks;
        facts.firstPictureIsKey = pictures.firstKey;
        if (audio) {
            const Counted sound = countStandardIndexes(file.get(), *audio);
            facts.audioUnits = audio->sampleSize
                                   ? static_cast<std::int64_t>(sound.bytes / audio->sampleSize)
                                   : sound.chunks;
            if (!sound.ok) facts.problem = "its sound's index cannot be read";
        }
        if (!pictures.ok) facts.problem = "its index cannot be read";
        return facts;
    }
    if (idx1At == 0 || moviAt == 0) {
        facts.problem = "it has no index";
        return facts;
    }
    std::vector<std::uint8_t> index(idx1Size);
    if (!readAt(file.get(), idx1At, index.data(), index.size())) {
        facts.problem = "its index cannot be read";
        return facts;
    }
    std::uint64_t audioBytes = 0;
    for (std::size_t e = 0; e + 16 <= index.size(); e += 16) {
        const std::uint8_t* entry = index.data() + e;
        if (entry[0] < '0' || entry[0] > '9' || entry[1] < '0' || entry[1] > '9') continue;
        const int stream = (entry[0] - '0') * 10 + (entry[1] - '0');
        if (stream == streamNumber(video)) {
            if (facts.videoChunks == 0) facts.firstPictureIsKey = (le32(entry + 4) & 0x10) != 0;
            ++facts.videoChunks;
        } else if (audio && stream == streamNumber(audio)) {
            ++facts.audioUnits;
            audioBytes += le32(entry + 12);
        }
    }
    if (audio && audio->sampleSize)
        facts.audioUnits = static_cast<std::int64_t>(audioBytes / audio->sampleSize);
    return facts;
}

}  // namespace media
