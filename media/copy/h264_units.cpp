#include "media/copy/h264_units.h"

#include <algorithm>
#include <array>

namespace media {

Bytes RawPayload(const std::uint8_t* data, std::size_t size, std::size_t limit) {
    Bytes raw;
    raw.reserve(std::min(size, limit));
    int zeros = 0;
    for (std::size_t i = 0; i < size && raw.size() < limit; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        raw.push_back(data[i]);
    }
    return raw;
}

Bytes EscapedPayload(const Bytes& raw) {
    Bytes escaped;
    escaped.reserve(raw.size() + raw.size() / 64 + 1);
    int zeros = 0;
    for (std::uint8_t byte : raw) {
        if (zeros >= 2 && byte <= 3) {
            escaped.push_back(3);
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        escaped.push_back(byte);
    }
    // A payload may not end in a zero byte: the next start code would take it.
    if (!escaped.empty() && escaped.back() == 0) escaped.push_back(3);
    return escaped;
}

std::vector<NalUnit> NalUnits(const std::uint8_t* data, std::size_t size) {
    std::vector<NalUnit> units;
    const std::vector<std::size_t> codes = StartCodes(data, size);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        NalUnit unit;
        unit.start = codes[i];
        // A four-byte start code's leading zero belongs to it, not to the unit before.
        if (unit.start > 0 && data[unit.start - 1] == 0) --unit.start;
        unit.payload = codes[i] + 3;
        unit.end = i + 1 < codes.size() ? codes[i + 1] : size;
        if (i + 1 < codes.size() && unit.end > 0 && data[unit.end - 1] == 0) --unit.end;
        if (unit.payload < unit.end) units.push_back(unit);
    }
    return units;
}

namespace {

void skipScalingList(BitReader& reader, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && next != 0; ++j) {
        next = (last + reader.se() + 256) % 256;
        if (next != 0) last = next;
    }
}

}  // namespace

std::optional<std::pair<int, H264SequenceSet>> ReadSequenceSet(const Bytes& raw) {
    BitReader reader(raw.data() + 1, raw.size() - 1);
    H264SequenceSet set;
    set.profile = static_cast<int>(reader.bits(8));
    reader.skip(16);  // constraint flags and level
    const int id = static_cast<int>(reader.ue());
    static constexpr std::array<int, 13> kHighProfiles = {100, 110, 122, 244, 44, 83, 86,
                                                          118, 128, 138, 139, 134, 135};
    if (std::find(kHighProfiles.begin(), kHighProfiles.end(), set.profile) !=
        kHighProfiles.end()) {
        const std::uint32_t chroma = reader.ue();
        set.chromaFormat = static_cast<int>(chroma);
        if (chroma == 3) set.separateColourPlanes = reader.bit() != 0;
        reader.ue();
        reader.ue();
        reader.skip(1);
        if (reader.bit())
            for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i)
                if (reader.bit()) skipScalingList(reader, i < 6 ? 16 : 64);
    }
    set.frameNumBits = static_cast<int>(reader.ue()) + 4;
    set.orderCountType = static_cast<int>(reader.ue());
    if (set.orderCountType == 0) {
        set.orderLsbBits = static_cast<int>(reader.ue()) + 4;
    } else if (set.orderCountType == 1) {
        set.deltaAlwaysZero = reader.bit() != 0;
        set.offsetForNonReference = reader.se();
        set.offsetTopToBottom = reader.se();
        const std::uint32_t cycle = std::min<std::uint32_t>(reader.ue(), 255);
        for (std::uint32_t i = 0; i < cycle; ++i) set.offsetsForReference.push_back(reader.se());
    }
    reader.ue();      // reference frames
    set.gapsFlagAt = reader.position() + 8;
    reader.skip(1);   // gaps allowed
    reader.ue();      // width
    reader.ue();      // height
    set.framesOnly = reader.bit() != 0;
    if (!reader.ok() || id > 31 || set.frameNumBits > 16 || set.orderLsbBits > 16)
        return std::nullopt;
    return std::make_pair(id, set);
}

std::optional<std::pair<int, H264PictureSet>> ReadPictureSet(const Bytes& raw) {
    BitReader reader(raw.data() + 1, raw.size() - 1);
    const int id = static_cast<int>(reader.ue());
    H264PictureSet set;
    set.sequenceId = static_cast<int>(reader.ue());
    set.cabac = reader.bit() != 0;
    set.bottomOrderPresent = reader.bit() != 0;
    set.sliceGroups = reader.ue() != 0;
    if (!set.sliceGroups) {
        set.referencesL0 = static_cast<int>(reader.ue()) + 1;
        set.referencesL1 = static_cast<int>(reader.ue()) + 1;
        set.weightedPrediction = reader.bit() != 0;
        set.weightedBipred = static_cast<int>(reader.bits(2));
        reader.se();      // initial quantisers
        reader.se();
        reader.se();      // chroma offset
        set.deblockingControl = reader.bit() != 0;
        reader.skip(1);   // constrained intra prediction
        set.redundantCount = reader.bit() != 0;
    }
    if (!reader.ok() || id > 255) return std::nullopt;
    return std::make_pair(id, set);
}

}  // namespace media
