#include "media/copy/picture_syntax.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "media/copy/h264_units.h"

namespace media {

std::vector<std::size_t> StartCodes(const std::uint8_t* data, std::size_t size) {
    std::vector<std::size_t> codes;
    for (std::size_t i = 0; i + 2 < size;) {
        const void* found = std::memchr(data + i, 0, size - i - 2);
        if (!found) break;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
        if (data[i + 1] == 0 && data[i + 2] == 1) {
            codes.push_back(i);
            i += 3;
        } else {
            ++i;
        }
    }
    return codes;
}

// --- H.264 ---

struct PictureSyntax::H264State {
    std::map<int, H264SequenceSet> sequences;
    std::map<int, H264PictureSet> pictures;
    int lastProfile = 0;
    // The order count's memory of the last reference picture (type 0) and of frame numbers
    // (types 1 and 2).
    std::int64_t previousMsb = 0;
    int previousLsb = 0;
    int previousFrameNum = 0;
    std::int64_t previousFrameNumOffset = 0;
    // The field of a frame coded as two pictures whose partner may follow.
    int openFieldFrameNum = -1;
};

namespace {

bool readRecoveryPoint(const Bytes& raw) {
    std::size_t at = 1;
    while (at + 2 <= raw.size()) {
        int type = 0;
        while (at < raw.size() && raw[at] == 0xff) type += 255, ++at;
        if (at >= raw.size()) break;
        type += raw[at++];
        std::size_t length = 0;
        while (at < raw.size() && raw[at] == 0xff) length += 255, ++at;
        if (at >= raw.size()) break;
        length += raw[at++];
        if (type == 6) return true;
        at += length;
    }
    return false;
}

}  // namespace

std::string PictureSyntax::H264Profile() const {
    if (!h264_) return {};
    switch (h264_->lastProfile) {
        case 66:
            return "baseline";
        case 77:
            return "main";
        case 88:
            return "extended";
        case 100:
            return "high";
        default:
            return {};
    }
}

std::vector<PictureFacts> PictureSyntax::readH264(const std::uint8_t* data, std::size_t size) {
    if (!h264_) h264_ = std::make_shared<H264State>();
    H264State& state = *h264_;
    PictureFacts picture;
    bool haveSlice = false;
    bool recoveryPoint = false;
    bool setUpSeen = false;
    for (const NalUnit& unit : NalUnits(data, size)) {
        const std::uint8_t header = data[unit.payload];
        const int type = header & 0x1f;
        const int referenceIdc = (header >> 5) & 3;
        if (type == 7 || type == 8) {
            keepSetUp(data + unit.start, unit.end - unit.start, setUpSeen);
            setUpSeen = true;
            const Bytes raw = RawPayload(data + unit.payload, unit.end - unit.payload, 1024);
            if (type == 7) {
                if (auto set = ReadSequenceSet(raw)) {
                    state.sequences[set->first] = set->second;
                    state.lastProfile = set->second.profile;
                }
            } else if (auto set = ReadPictureSet(raw)) {
                state.pictures[set->first] = set->second;
            }
            continue;
        }
        if (type == 6) {
            recoveryPoint = recoveryPoint ||
                            readRecoveryPoint(RawPayload(data + unit.payload,
                                                         unit.end - unit.payload));
            continue;
        }
        if ((type != 1 && type != 5) || haveSlice) continue;
        // The first slice of the picture says what the picture is.
        const Bytes raw = RawPayload(data + unit.payload, unit.end - unit.payload);
        BitReader reader(raw.data() + 1, raw.size() - 1);
        reader.ue();  // first macroblock
        const std::uint32_t sliceType = reader.ue() % 5;
        const auto pps = state.pictures.find(static_cast<int>(reader.ue()));
        if (pps == state.pictures.end()) continue;
        const auto sps = state.sequences.find(pps->second.sequenceId);
        if (sps == state.sequences.end()) continue;
        const H264SequenceSet& seq = sps->second;
        if (seq.separateColourPlanes) reader.skip(2);
        const int frameNum = static_cast<int>(reader.bits(seq.frameNumBits));
        bool fieldPicture = false;
        bool bottomField = false;
        if (!seq.framesOnly) {
            fieldPicture = reader.bit() != 0;
            if (fieldPicture) bottomField = reader.bit() != 0;
        }
        const bool idr = type == 5;
        if (idr) reader.ue();
        int lsb = 0;
        int bottomDelta = 0;
        int delta0 = 0;
        int delta1 = 0;
        if (seq.orderCountType == 0) {
            lsb = static_cast<int>(reader.bits(seq.orderLsbBits));
            if (pps->second.bottomOrderPresent && !fieldPicture) bottomDelta = reader.se();
        } else if (seq.orderCountType == 1 && !seq.deltaAlwaysZero) {
            delta0 = reader.se();
            if (pps->second.bottomOrderPresent && !fieldPicture) delta1 = reader.se();
        }
        if (!reader.ok()) continue;
        haveSlice = true;

        picture.type = sliceType == 2 || sliceType == 4 ? 'I' : sliceType == 1 ? 'B' : 'P';
        picture.reference = referenceIdc != 0;
        picture.orderRestarts = idr;
        picture.key = idr || (picture.type == 'I' && recoveryPoint);
        if (fieldPicture) {
            const bool second = state.openFieldFrameNum == frameNum;
            picture.field = second ? 2 : 1;
            state.openFieldFrameNum = second ? -1 : frameNum;
        } else {
            state.openFieldFrameNum = -1;
        }

        // The picture order count (H.264 8.2.1): the display order within a coded sequence.
        std::int64_t order = 0;
        const std::int64_t maxFrameNum = std::int64_t{1} << seq.frameNumBits;
        std::int64_t frameNumOffset = 0;
        if (!idr)
            frameNumOffset = state.previousFrameNum > frameNum
                                 ? state.previousFrameNumOffset + maxFrameNum
                                 : state.previousFrameNumOffset;
        if (seq.orderCountType == 0) {
            if (idr) state.previousMsb = 0, state.previousLsb = 0;
            const std::int64_t maxLsb = std::int64_t{1} << seq.orderLsbBits;
            std::int64_t msb = state.previousMsb;
            if (lsb < state.previousLsb && state.previousLsb - lsb >= maxLsb / 2)
                msb += maxLsb;
            else if (lsb > state.previousLsb && lsb - state.previousLsb > maxLsb / 2)
                msb -= maxLsb;
            order = msb + lsb;
            if (!fieldPicture && bottomDelta < 0) order += bottomDelta;
            if (picture.reference) state.previousMsb = msb, state.previousLsb = lsb;
        } else if (seq.orderCountType == 1) {
            const auto cycle = static_cast<std::int64_t>(seq.offsetsForReference.size());
            std::int64_t absolute = cycle != 0 ? frameNumOffset + frameNum : 0;
            if (!picture.reference && absolute > 0) --absolute;
            std::int64_t expected = 0;
            if (absolute > 0) {
                std::int64_t perCycle = 0;
                for (int offset : seq.offsetsForReference) perCycle += offset;
                expected = (absolute - 1) / cycle * perCycle;
                for (std::int64_t i = 0; i <= (absolute - 1) % cycle; ++i)
                    expected += seq.offsetsForReference[static_cast<std::size_t>(i)];
            }
            if (!picture.reference) expected += seq.offsetForNonReference;
            const std::int64_t top = expected + delta0;
            const std::int64_t bottom = top + seq.offsetTopToBottom + delta1;
            order = fieldPicture ? (bottomField ? expected + seq.offsetTopToBottom + delta0 : top)
                                 : std::min(top, bottom);
        } else {
            order = idr ? 0 : 2 * (frameNumOffset + frameNum) - (picture.reference ? 0 : 1);
        }
        state.previousFrameNum = frameNum;
        state.previousFrameNumOffset = frameNumOffset;
        picture.displayOrder = order;
    }
    setUpComplete_ = true;
    if (!haveSlice) return {};
    picture.carriesSetUp = setUpSeen;
    picture.size = size;
    return {picture};
}

// --- MPEG-4 Part 2 ---

namespace {

// The ticks a second of vop_time_increment from a video object layer header, or 0.
int timeResolution(const std::uint8_t* data, std::size_t size) {
    BitReader reader(data, size);
    reader.skip(1);  // random access
    reader.skip(8);  // object type
    int version = 1;
    if (reader.bit()) {
        version = static_cast<int>(reader.bits(4));
        reader.skip(3);
    }
    if (reader.bits(4) == 15) reader.skip(16);  // extended pixel aspect ratio
    if (reader.bit()) {
        reader.skip(3);  // chroma format, low delay
        if (reader.bit()) reader.skip(79);  // buffer parameters
    }
    const std::uint32_t shape = reader.bits(2);
    if (shape == 3 && version != 1) reader.skip(4);
    reader.skip(1);
    const std::uint32_t resolution = reader.bits(16);
    return reader.ok() ? static_cast<int>(resolution) : 0;
}

}  // namespace

std::vector<PictureFacts> PictureSyntax::readMpeg4(const std::uint8_t* data, std::size_t size) {
    std::vector<PictureFacts> pictures;
    const std::vector<std::size_t> codes = StartCodes(data, size);
    bool setUpSeen = false;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::size_t at = codes[i] + 3;
        if (at >= size) break;
        const std::uint8_t code = data[at];
        const std::size_t end = i + 1 < codes.size() ? codes[i + 1] : size;
        if (code == 0xb0 || code == 0xb5 || code <= 0x2f) {
            // Visual object sequence, visual object, video object and its layer: the set-up.
            keepSetUp(data + codes[i], end - codes[i], setUpSeen);
            setUpSeen = true;
            if (code >= 0x20 && code <= 0x2f) {
                if (const int resolution = timeResolution(data + at + 1, end - at - 1)) {
                    int bits = 1;
                    while ((1 << bits) < resolution) ++bits;
                    mpeg4_.timeIncrementBits = bits;
                    mpeg4_.timeResolution = resolution;
                    mpeg4_.haveVolume = true;
                }
            }
            continue;
        }
        if (code == 0xb2) {
            // DivX names its packed bitstream in its user data: "DivX503b1393p".
            std::string text(reinterpret_cast<const char*>(data + at + 1), end - at - 1);
            while (!text.empty() && text.back() == '\0') text.pop_back();
            if (text.rfind("DivX", 0) == 0 && !text.empty() && text.back() == 'p') packed_ = true;
            continue;
        }
        if (code != 0xb6) continue;
        PictureFacts picture;
        BitReader reader(data + at + 1, end - at - 1);
        const std::uint32_t codingType = reader.bits(2);
        picture.type = codingType == 0 ? 'I' : codingType == 2 ? 'B' : 'P';
        picture.key = codingType == 0;
        picture.reference = codingType != 2;
        if (mpeg4_.haveVolume) {
            while (reader.bit() && reader.ok()) {
            }
            reader.skip(1);
            picture.ticks = reader.bits(mpeg4_.timeIncrementBits);
            reader.skip(1);
            picture.coded = reader.bit() != 0 || !reader.ok();
            if (reader.ok()) picture.ticksPerSecond = mpeg4_.timeResolution;
        }
        picture.carriesSetUp = setUpSeen && pictures.empty();
        // Headers before the first picture belong to it; a second picture in the unit (a
        // packed one) starts at its own start code.
        picture.offset = pictures.empty() ? 0 : codes[i];
        if (!pictures.empty()) packed_ = true;
        pictures.push_back(picture);
    }
    for (std::size_t i = 0; i < pictures.size(); ++i)
        pictures[i].size =
            (i + 1 < pictures.size() ? pictures[i + 1].offset : size) - pictures[i].offset;
    setUpComplete_ = true;
    return pictures;
}

Bytes UnpackedDivxMark(const std::uint8_t* data, std::size_t size) {
    Bytes unit(data, data + size);
    const std::vector<std::size_t> codes = StartCodes(data, size);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::size_t at = codes[i] + 3;
        if (at >= size || data[at] != 0xb2) continue;
        std::size_t end = i + 1 < codes.size() ? codes[i + 1] : size;
        while (end > at + 1 && unit[end - 1] == 0) --end;
        const std::string text(reinterpret_cast<const char*>(data + at + 1), end - at - 1);
        if (text.rfind("DivX", 0) == 0 && !text.empty() && text.back() == 'p')
            unit[end - 1] = 'n';
    }
    return unit;
}

// --- MPEG-1 and MPEG-2 video ---

std::vector<PictureFacts> PictureSyntax::readMpeg12(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::size_t> codes = StartCodes(data, size);
    PictureFacts picture;
    bool havePicture = false;
    bool setUpSeen = false;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const std::size_t at = codes[i] + 3;
        if (at + 1 >= size) break;
        const std::uint8_t code = data[at];
        const std::size_t end = i + 1 < codes.size() ? codes[i + 1] : size;
        if (code == 0xb3) {
            // The sequence header and its extensions, up to the group or the picture.
            std::size_t last = i;
            while (last + 1 < codes.size() && codes[last + 1] + 3 < size &&
                   data[codes[last + 1] + 3] == 0xb5)
                ++last;
            const std::size_t setUpEnd = last + 1 < codes.size() ? codes[last + 1] : size;
            keepSetUp(data + codes[i], setUpEnd - codes[i], false);
            setUpSeen = true;
        } else if (code == 0x00 && !havePicture) {
            BitReader reader(data + at + 1, end - at - 1);
            reader.skip(10);  // temporal reference
            const std::uint32_t codingType = reader.bits(3);
            if (codingType < 1 || codingType > 3) continue;
            picture.type = codingType == 1 ? 'I' : codingType == 2 ? 'P' : 'B';
            picture.key = codingType == 1;
            picture.reference = codingType != 3;
            havePicture = true;
        } else if (code == 0xb5 && havePicture && at + 3 < size && (data[at + 1] >> 4) == 8) {
            // The picture coding extension: a field picture or a frame. The second field of a
            // frame follows its first.
            const int structure = data[at + 3] & 3;
            picture.field = structure == 3 ? 0 : openField_ ? 2 : 1;
        }
    }
    openField_ = picture.field == 1;
    setUpComplete_ = true;
    if (!havePicture) return {};
    picture.carriesSetUp = setUpSeen;
    picture.size = size;
    return {picture};
}

void PictureSyntax::keepSetUp(const std::uint8_t* data, std::size_t size, bool append) {
    if (!append || setUpComplete_) setUp_.clear();
    setUpComplete_ = false;
    setUp_.insert(setUp_.end(), data, data + size);
}

void PictureSyntax::TakeCodecData(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0) return;
    if (codec_ == PictureCodec::H264 && size > 6 && data[0] == 1) {
        // An avcC record: its parameter sets as byte-stream units.
        Bytes stream;
        std::size_t at = 5;
        for (int kind = 0; kind < 2 && at < size; ++kind) {
            const int count = kind == 0 ? (data[at++] & 0x1f) : data[at++];
            for (int i = 0; i < count && at + 2 <= size; ++i) {
                const std::size_t length = (std::size_t{data[at]} << 8) | data[at + 1];
                at += 2;
                if (at + length > size) break;
                static constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};
                stream.insert(stream.end(), kStartCode, kStartCode + 4);
                stream.insert(stream.end(), data + at, data + at + length);
                at += length;
            }
        }
        Read(stream.data(), stream.size());
        return;
    }
    Read(data, size);
}

std::vector<PictureFacts> PictureSyntax::Read(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0) return {};
    switch (codec_) {
        case PictureCodec::H264:
            return readH264(data, size);
        case PictureCodec::Mpeg4Part2:
            return readMpeg4(data, size);
        case PictureCodec::Mpeg12:
            return readMpeg12(data, size);
        case PictureCodec::IntraOnly:
            break;
    }
    PictureFacts picture;
    picture.key = true;
    picture.size = size;
    return {picture};
}

}  // namespace media
