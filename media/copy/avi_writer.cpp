#include "media/copy/avi_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace media {
namespace {

// Standard indexes the header has room for: one per part and stream, 128 GiB of file.
constexpr std::uint32_t kSuperIndexEntries = 128;
constexpr std::uint32_t kSuperIndexSize = 24 + 16 * kSuperIndexEntries;

constexpr std::uint32_t kHasIndex = 0x10;
constexpr std::uint32_t kIsInterleaved = 0x100;
constexpr std::uint32_t kTrustChunkType = 0x800;
constexpr std::uint32_t kKeyFrameFlag = 0x10;
constexpr std::uint32_t kNotKeyBit = 0x80000000u;

bool seekTo(std::FILE* file, std::uint64_t at) {
#if defined(_WIN32)
    return _fseeki64(file, static_cast<__int64>(at), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}

}  // namespace

AviWriter::~AviWriter() {
    if (file_) std::fclose(file_);
}

std::int64_t AviWriter::audioUnits() const {
    if (!audio_) return 0;
    if (audio_->sampleSize == 0) return streams_[1].chunks;
    return static_cast<std::int64_t>(streams_[1].bytes / audio_->sampleSize);
}

bool AviWriter::fail(const std::string& what) {
    if (problem_.empty()) problem_ = path_ + ": " + what;
    return false;
}

bool AviWriter::put(const void* data, std::size_t size) {
    if (!problem_.empty()) return false;
    if (size > 0 && std::fwrite(data, 1, size, file_) != size)
        return fail(std::strerror(errno ? errno : EIO));
    position_ += size;
    return true;
}

bool AviWriter::put32(std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value),
                                   static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 24)};
    return put(bytes, 4);
}

bool AviWriter::put16(std::uint16_t value) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                                   static_cast<std::uint8_t>(value >> 8)};
    return put(bytes, 2);
}

// Overwrites a 32-bit field written earlier; the file goes on at its end.
bool AviWriter::putAt(std::uint64_t at, std::uint32_t value) {
    if (!problem_.empty()) return false;
    const std::uint64_t end = position_;
    if (!seekTo(file_, at)) return fail(std::strerror(errno));
    position_ = at;
    const bool written = put32(value);
    if (!seekTo(file_, end)) return fail(std::strerror(errno));
    position_ = end;
    return written;
}

bool AviWriter::Open(const std::string& path, const AviVideoStream& video,
                     const std::optional<AviAudioStream>& audio, std::string* problem) {
    path_ = path;
    video_ = video;
    audio_ = audio;
    streamCount_ = audio ? 2 : 1;
    streams_[0].chunkId = FourCc('0', '0', 'd', 'c');
    streams_[1].chunkId = FourCc('0', '1', 'w', 'b');
    errno = 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        fail(std::strerror(errno));
        if (problem) *problem = problem_;
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);

    // The header, with room for every field that is only known at the end.
    riffAt_ = tell();
    put("RIFF", 4), put32(0), put("AVI ", 4);
    const std::uint64_t hdrl = tell();
    put("LIST", 4), put32(0), put("hdrl", 4);
    put("avih", 4), put32(56);
    avihAt_ = tell();
    const double secondsPerFrame = static_cast<double>(video.scale) / video.rate;
    put32(static_cast<std::uint32_t>(secondsPerFrame * 1e6 + 0.5));
    for (int i = 0; i < 3; ++i) put32(0);  // bytes a second, padding, flags: at the end
    put32(0);                             // frames: at the end
    put32(0);
    put32(static_cast<std::uint32_t>(streamCount_));
    put32(0);  // buffer size: at the end
    put32(static_cast<std::uint32_t>(video.width));
    put32(static_cast<std::uint32_t>(video.height));
    for (int i = 0; i < 4; ++i) put32(0);

    for (int s = 0; s < streamCount_; ++s) {
        const bool isVideo = s == 0;
        const std::uint64_t strl = tell();
        put("LIST", 4), put32(0), put("strl", 4);
        put("strh", 4), put32(56);
        streams_[s].headerAt = tell();
        put(isVideo ? "vids" : "auds", 4);
        put32(isVideo ? video.fourcc : 0);
        put32(0), put32(0), put32(0);  // flags, priority and language, initial frames
        put32(isVideo ? video.scale : audio->scale);
        put32(isVideo ? video.rate : audio->rate);
        put32(0);  // start
        put32(0);  // length: at the end
        put32(0);  // buffer size: at the end
        put32(0xffffffffu);
        put32(isVideo ? 0 : audio->sampleSize);
        put16(0), put16(0);
        put16(static_cast<std::uint16_t>(isVideo ? video.width : 0));
        put16(static_cast<std::uint16_t>(isVideo ? video.height : 0));
        if (isVideo) {
            const std::size_t size = 40 + video.extradata.size();
            put("strf", 4), put32(static_cast<std::uint32_t>(size));
            put32(static_cast<std::uint32_t>(size));
            put32(static_cast<std::uint32_t>(video.width));
            put32(static_cast<std::uint32_t>(video.height));
            put16(1), put16(24);
            put32(video.fourcc);
            put32(static_cast<std::uint32_t>(video.width * video.height * 3));
            for (int i = 0; i < 4; ++i) put32(0);
            put(video.extradata.data(), video.extradata.size());
            if (size & 1) put("", 1);
        } else {
            const std::size_t size = 18 + audio->extra.size();
            put("strf", 4), put32(static_cast<std::uint32_t>(size));
            put16(audio->formatTag), put16(audio->channels);
            put32(audio->sampleRate), put32(audio->averageBytesPerSecond);
            put16(audio->blockAlign), put16(audio->bitsPerSample);
            put16(static_cast<std::uint16_t>(audio->extra.size()));
            put(audio->extra.data(), audio->extra.size());
            if (size & 1) put("", 1);
        }
        // The OpenDML super index, filled at the end.
        put("indx", 4), put32(kSuperIndexSize);
        streams_[s].superIndexAt = tell();
        const std::vector<std::uint8_t> zeros(kSuperIndexSize, 0);
        put(zeros.data(), zeros.size());
        putAt(strl + 4, static_cast<std::uint32_t>(tell() - strl - 8));
    }
    const std::uint64_t odml = tell();
    put("LIST", 4), put32(0), put("odml", 4);
    put("dmlh", 4), put32(248);
    dmlhAt_ = tell();
    const std::vector<std::uint8_t> zeros(248, 0);
    put(zeros.data(), zeros.size());
    putAt(odml + 4, static_cast<std::uint32_t>(tell() - odml - 8));
    putAt(hdrl + 4, static_cast<std::uint32_t>(tell() - hdrl - 8));
    put("LIST", 4), put32(0), put("movi", 4);
    moviAt_ = tell() - 12;
    if (!problem_.empty() && problem) *problem = problem_;
    return problem_.empty();
}

bool AviWriter::writeChunk(int stream, const std::uint8_t* data, std::size_t size, bool key) {
    if (!file_) return fail("the file is not open");
    if (tell() - riffAt_ + size + 8 + 16 * (streams_[0].segment.size() + streams_[1].segment.size()) >
        partLimit_) {
        if (!endPart() || !beginPart()) return false;
    }
    Stream& target = streams_[stream];
    const Entry entry{tell(), static_cast<std::uint32_t>(size), key};
    put32(target.chunkId), put32(static_cast<std::uint32_t>(size));
    put(data, size);
    if (size & 1) put("", 1);
    target.segment.push_back(entry);
    if (part_ == 0) legacyIndex_[stream].push_back(entry);
    ++target.chunks;
    target.bytes += size;
    if (size > target.largest) target.largest = static_cast<std::uint32_t>(size);
    if (stream == 0 && part_ == 0) ++firstPartVideoChunks_;
    return problem_.empty();
}

bool AviWriter::WriteVideo(const std::uint8_t* data, std::size_t size, bool key) {
    return writeChunk(0, data, size, key);
}

bool AviWriter::WriteAudio(const std::uint8_t* data, std::size_t size) {
    if (!audio_) return fail("the file has no sound stream");
    return writeChunk(1, data, size, true);
}

// Closes the current part's movi list with a standard index for each stream; the first part
// also gets the legacy index after it.
bool AviWriter::endPart() {
    for (int s = 0; s < streamCount_; ++s) {
        Stream& stream = streams_[s];
        const std::uint64_t at = tell();
        const std::uint64_t base = moviAt_;
        const auto entries = static_cast<std::uint32_t>(stream.segment.size());
        const std::uint32_t size = 24 + 8 * entries;
        char id[5];
        std::snprintf(id, sizeof id, "ix%02d", s);
        put(id, 4), put32(size);
        put16(2);
        put("\0\1", 2);  // an index of chunks
        put32(entries), put32(stream.chunkId);
        put32(static_cast<std::uint32_t>(base)), put32(static_cast<std::uint32_t>(base >> 32));
        put32(0);
        std::uint32_t duration = 0;
        for (const Entry& entry : stream.segment) {
            put32(static_cast<std::uint32_t>(entry.offset + 8 - base));
            put32(entry.size | (entry.key ? 0 : kNotKeyBit));
            duration += s == 1 && audio_->sampleSize ? entry.size / audio_->sampleSize : 1;
        }
        stream.parts.push_back({at, size + 8, duration});
        stream.segment.clear();
    }
    putAt(moviAt_ + 4, static_cast<std::uint32_t>(tell() - moviAt_ - 8));
    if (part_ == 0) {
        // The legacy index, in file order, with offsets from the movi list's type.
        std::vector<std::pair<Entry, int>> all;
        for (int s = 0; s < streamCount_; ++s)
            for (const Entry& entry : legacyIndex_[s]) all.push_back({entry, s});
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
            return a.first.offset < b.first.offset;
        });
        put("idx1", 4), put32(static_cast<std::uint32_t>(16 * all.size()));
        for (const auto& [entry, s] : all) {
            put32(streams_[s].chunkId);
            put32(entry.key ? kKeyFrameFlag : 0);
            put32(static_cast<std::uint32_t>(entry.offset - (moviAt_ + 8)));
            put32(entry.size);
        }
        legacyIndex_[0].clear();
        legacyIndex_[1].clear();
    }
    putAt(riffAt_ + 4, static_cast<std::uint32_t>(tell() - riffAt_ - 8));
    return problem_.empty();
}

bool AviWriter::beginPart() {
    ++part_;
    if (streams_[0].parts.size() >= kSuperIndexEntries)
        return fail("the file would pass the largest size this writer indexes");
    riffAt_ = tell();
    put("RIFF", 4), put32(0), put("AVIX", 4);
    moviAt_ = tell();
    put("LIST", 4), put32(0), put("movi", 4);
    return problem_.empty();
}

bool AviWriter::Finish(std::string* problem) {
    if (file_ && problem_.empty()) {
        endPart();
        const std::int64_t frames = streams_[0].chunks;
        const double seconds = static_cast<double>(frames) * video_.scale / video_.rate;
        std::uint64_t bytes = 0;
        std::uint32_t largest = 0;
        for (int s = 0; s < streamCount_; ++s) {
            bytes += streams_[s].bytes;
            largest = std::max(largest, streams_[s].largest);
        }
        putAt(avihAt_ + 4, seconds > 0 ? static_cast<std::uint32_t>(bytes / seconds) : 0);
        putAt(avihAt_ + 12, kHasIndex | kIsInterleaved | kTrustChunkType);
        putAt(avihAt_ + 16, static_cast<std::uint32_t>(firstPartVideoChunks_));
        putAt(avihAt_ + 28, largest);
        putAt(dmlhAt_, static_cast<std::uint32_t>(frames));
        for (int s = 0; s < streamCount_; ++s) {
            const Stream& stream = streams_[s];
            const std::int64_t length = s == 0 ? frames : audioUnits();
            putAt(stream.headerAt + 32, static_cast<std::uint32_t>(length));
            putAt(stream.headerAt + 36, stream.largest);
            // The super index: one entry per part.
            std::uint64_t at = stream.superIndexAt;
            putAt(at, 4 | (0u << 16) | (0u << 24));  // four longs an entry, an index of indexes
            putAt(at + 4, static_cast<std::uint32_t>(stream.parts.size()));
            putAt(at + 8, stream.chunkId);
            at += 24;
            for (const Stream::Part& part : stream.parts) {
                putAt(at, static_cast<std::uint32_t>(part.offset));
                putAt(at + 4, static_cast<std::uint32_t>(part.offset >> 32));
                putAt(at + 8, part.size);
                putAt(at + 12, part.duration);
                at += 16;
            }
        }
        if (std::fflush(file_) != 0) fail(std::strerror(errno));
    }
    if (file_ && std::fclose(file_) != 0) fail(std::strerror(errno));
    file_ = nullptr;
    if (!problem_.empty() && problem) *problem = problem_;
    return problem_.empty();
}

}  // namespace media
