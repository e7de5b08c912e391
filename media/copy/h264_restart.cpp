#include "media/copy/h264_restart.h"

#include <cstdint>
#include <limits>

namespace media {
namespace {

constexpr std::size_t kWhole = std::numeric_limits<std::size_t>::max();

// Where the stop bit that ends a payload's data stands; kWhole when there is none.
std::size_t stopBit(const Bytes& raw) {
    for (std::size_t at = raw.size(); at-- > 0;) {
        if (raw[at] == 0) continue;
        int trailing = 0;
        while (((raw[at] >> trailing) & 1u) == 0) ++trailing;
        return at * 8 + static_cast<std::size_t>(7 - trailing);
    }
    return kWhole;
}

void setBits(Bytes& raw, std::size_t at, int count, std::uint32_t value) {
    for (int i = 0; i < count; ++i, ++at) {
        const auto mask = static_cast<std::uint8_t>(0x80u >> (at % 8));
        if ((value >> (count - 1 - i)) & 1u)
            raw[at / 8] |= mask;
        else
            raw[at / 8] &= static_cast<std::uint8_t>(~mask);
    }
}

bool isIntra(int sliceType) { return sliceType == 2 || sliceType == 4; }

// A picture written again unit by unit: each unit's start code as it was, then what write
// appends for its payload; nullopt when write gives up on a unit.
template <typename Write>
std::optional<Bytes> eachUnitWritten(const Bytes& picture, Write write) {
    Bytes out;
    out.reserve(picture.size() + 16);
    for (const NalUnit& unit : NalUnits(picture.data(), picture.size())) {
        out.insert(out.end(), picture.begin() + static_cast<std::ptrdiff_t>(unit.start),
                   picture.begin() + static_cast<std::ptrdiff_t>(unit.payload));
        if (!write(picture.data() + unit.payload, unit.end - unit.payload, out)) return std::nullopt;
    }
    return out;
}

// Appends a unit's payload; a sequence set's with gaps in frame numbers allowed.
void appendAllowingGaps(Bytes& out, const std::uint8_t* payload, std::size_t size) {
    const auto set = (payload[0] & 0x1f) == 7 ? ReadSequenceSet(RawPayload(payload, size, 1024))
                                              : std::nullopt;
    if (!set) {
        out.insert(out.end(), payload, payload + size);
        return;
    }
    Bytes raw = RawPayload(payload, size, kWhole);
    setBits(raw, set->second.gapsFlagAt, 1, 1);
    const Bytes escaped = EscapedPayload(raw);
    out.insert(out.end(), escaped.begin(), escaped.end());
}

}  // namespace

// Where the fields of a slice header that change stand, in bits from the unit's header byte.
struct H264Restart::Slice {
    int type = 0;  // slice_type modulo 5
    int frameNumBits = 4;
    std::size_t frameNumAt = 0;
    std::uint32_t frameNum = 0;
    bool field = false;
    std::size_t afterField = 0;  // where an IDR's idr_pic_id goes
    std::size_t markingAt = 0;   // the reference marking
    std::size_t markingEnd = 0;
    std::size_t headerEnd = 0;
    bool adaptive = false;  // the marking's operations, each with its arguments
    std::vector<std::vector<std::uint32_t>> operations;
    bool cabac = false;
    bool sliceGroups = false;
};

bool H264Restart::takeSet(int type, const Bytes& raw) {
    if (type == 7) {
        if (auto set = ReadSequenceSet(raw)) sequences_[set->first] = set->second;
        return true;
    }
    if (type == 8) {
        if (auto set = ReadPictureSet(raw)) pictures_[set->first] = set->second;
        return true;
    }
    return false;
}

void H264Restart::TakeSets(const Bytes& data) {
    for (const NalUnit& unit : NalUnits(data.data(), data.size()))
        takeSet(data[unit.payload] & 0x1f,
                RawPayload(data.data() + unit.payload, unit.end - unit.payload, 1024));
}

namespace {

// Skips a list's reordering of its references.
void skipListChanges(BitReader& reader) {
    if (!reader.bit()) return;
    for (int i = 0; i < 64 && reader.ok(); ++i) {
        const std::uint32_t change = reader.ue();
        if (change == 3) break;
        reader.ue();
    }
}

void skipWeights(BitReader& reader, int references, bool chroma) {
    for (int i = 0; i < references && reader.ok(); ++i) {
        if (reader.bit()) reader.se(), reader.se();
        if (chroma && reader.bit())
            for (int j = 0; j < 4; ++j) reader.se();
    }
}

}  // namespace

bool H264Restart::readSlice(const Bytes& raw, Slice* slice) const {
    const int unitType = raw[0] & 0x1f;
    const int referenceIdc = (raw[0] >> 5) & 3;
    BitReader reader(raw.data(), raw.size());
    reader.skip(8);
    reader.ue();  // first macroblock
    slice->type = static_cast<int>(reader.ue() % 5);
    const auto pps = pictures_.find(static_cast<int>(reader.ue()));
    if (pps == pictures_.end()) return false;
    const auto sps = sequences_.find(pps->second.sequenceId);
    if (sps == sequences_.end()) return false;
    const H264SequenceSet& seq = sps->second;
    const H264PictureSet& set = pps->second;
    if (seq.separateColourPlanes) reader.skip(2);
    slice->frameNumAt = reader.position();
    slice->frameNumBits = seq.frameNumBits;
    slice->frameNum = reader.bits(seq.frameNumBits);
    if (!seq.framesOnly) {
        slice->field = reader.bit() != 0;
        if (slice->field) reader.skip(1);
    }
    slice->afterField = reader.position();
    if (unitType == 5) reader.ue();
    if (seq.orderCountType == 0) {
        reader.skip(seq.orderLsbBits);
        if (set.bottomOrderPresent && !slice->field) reader.se();
    } else if (seq.orderCountType == 1 && !seq.deltaAlwaysZero) {
        reader.se();
        if (set.bottomOrderPresent && !slice->field) reader.se();
    }
    if (set.redundantCount) reader.ue();
    const bool bi = slice->type == 1;
    const bool predicted = slice->type == 0 || slice->type == 3;
    if (bi) reader.skip(1);  // direct prediction
    int referencesL0 = set.referencesL0;
    int referencesL1 = set.referencesL1;
    if ((bi || predicted) && reader.bit()) {
        referencesL0 = static_cast<int>(reader.ue()) + 1;
        if (bi) referencesL1 = static_cast<int>(reader.ue()) + 1;
    }
    if (!isIntra(slice->type)) skipListChanges(reader);
    if (bi) skipListChanges(reader);
    if ((set.weightedPrediction && predicted) || (set.weightedBipred == 1 && bi)) {
        const bool chroma = !seq.separateColourPlanes && seq.chromaFormat != 0;
        reader.ue();
        if (chroma) reader.ue();
        skipWeights(reader, referencesL0, chroma);
        if (bi) skipWeights(reader, referencesL1, chroma);
    }
    slice->markingAt = reader.position();
    if (referenceIdc != 0) {
        if (unitType == 5) {
            reader.skip(2);
        } else if ((slice->adaptive = reader.bit() != 0)) {
            for (int i = 0; i < 64 && reader.ok(); ++i) {
                std::vector<std::uint32_t> operation = {reader.ue()};
                if (operation[0] == 0) break;
                const int arguments = operation[0] == 3 ? 2 : operation[0] <= 6 && operation[0] != 5;
                for (int j = 0; j < arguments; ++j) operation.push_back(reader.ue());
                slice->operations.push_back(std::move(operation));
            }
        }
    }
    slice->markingEnd = reader.position();
    if (set.cabac && !isIntra(slice->type)) reader.ue();
    reader.se();  // quantiser
    if (slice->type == 3) reader.skip(1);
    if (slice->type == 3 || slice->type == 4) reader.se();
    if (set.deblockingControl && reader.ue() != 1) {
        reader.se();
        reader.se();
    }
    slice->headerEnd = reader.position();
    slice->cabac = set.cabac;
    slice->sliceGroups = set.sliceGroups;
    return reader.ok();
}

// The slice with a new header byte, frame number and reference marking (an IDR's when idr);
// its data follows as it was. Empty when its data's end cannot be found.
Bytes H264Restart::rewritten(const Bytes& raw, const Slice& slice, std::uint8_t header,
                             std::uint32_t frameNum, bool idr) const {
    BitWriter writer;
    writer.bits(header, 8);
    writer.copy(raw, 8, slice.frameNumAt);
    writer.bits(frameNum, slice.frameNumBits);
    writer.copy(raw, slice.frameNumAt + static_cast<std::size_t>(slice.frameNumBits),
                slice.afterField);
    if (idr) writer.ue(0);
    writer.copy(raw, slice.afterField, slice.markingAt);
    if (idr) {
        writer.bits(0, 2);  // prior pictures are shown; no long-term reference
    } else if ((header & 0x60) != 0) {
        writer.bit(slice.adaptive);
        if (slice.adaptive) {
            for (const auto& operation : slice.operations)
                for (std::uint32_t value : operation) writer.ue(value);
            writer.ue(0);
        }
    }
    writer.copy(raw, slice.markingEnd, slice.headerEnd);
    Bytes& written = writer.bytes();
    if (slice.cabac) {
        // Arithmetic-coded data starts at a byte boundary, after bits set to one.
        while (!writer.aligned()) writer.bit(1);
        written.insert(written.end(),
                       raw.begin() + static_cast<std::ptrdiff_t>((slice.headerEnd + 7) / 8),
                       raw.end());
    } else {
        const std::size_t stop = stopBit(raw);
        if (stop == kWhole || stop < slice.headerEnd) return {};
        writer.copy(raw, slice.headerEnd, stop);
        writer.bit(1);
        while (!writer.aligned()) writer.bit(0);
    }
    return EscapedPayload(written);
}

bool H264Restart::StartAt(const Bytes& picture) {
    bool sawSlice = false;
    std::optional<Bytes> out = eachUnitWritten(picture, [&](const std::uint8_t* payload,
                                                            std::size_t size, Bytes& out) {
        const int type = payload[0] & 0x1f;
        if (type != 1) {
            if (type == 5) return false;  // an IDR already
            takeSet(type, RawPayload(payload, size, 1024));
            appendAllowingGaps(out, payload, size);
            return true;
        }
        const Bytes raw = RawPayload(payload, size, kWhole);
        Slice slice;
        if (!readSlice(raw, &slice) || !isIntra(slice.type) || slice.field ||
            slice.sliceGroups || (raw[0] & 0x60) == 0)
            return false;
        if (!sawSlice) offset_ = static_cast<int>(slice.frameNum);
        sawSlice = true;
        const Bytes escaped =
            rewritten(raw, slice, static_cast<std::uint8_t>((raw[0] & 0xe0u) | 5u), 0, true);
        out.insert(out.end(), escaped.begin(), escaped.end());
        return !escaped.empty();
    });
    if (!out || !sawSlice) return false;
    renumbering_ = true;
    key_ = std::move(*out);
    return true;
}

Bytes H264Restart::GapsAllowed(const Bytes& data) {
    return *eachUnitWritten(data, [](const std::uint8_t* payload, std::size_t size, Bytes& out) {
        appendAllowingGaps(out, payload, size);
        return true;
    });
}

std::optional<Bytes> H264Restart::Renumbered(const Bytes& picture, bool restarts) {
    if (restarts) renumbering_ = false;
    if (!renumbering_) return Bytes();
    return eachUnitWritten(picture, [&](const std::uint8_t* payload, std::size_t size,
                                        Bytes& out) {
        const int type = payload[0] & 0x1f;
        Slice slice;
        Bytes raw;
        if (type == 1) raw = RawPayload(payload, size, kWhole);
        if (type != 1 || !readSlice(raw, &slice)) {
            takeSet(type, RawPayload(payload, size, 1024));
            appendAllowingGaps(out, payload, size);
            return true;
        }
        const std::uint32_t count = 1u << slice.frameNumBits;
        const auto number = static_cast<std::uint32_t>(
            (static_cast<std::int64_t>(slice.frameNum) - offset_) % count + count) % count;
        sinceRestart_ += (number - lastNumber_ + count) % count;
        lastNumber_ = number;
        // Pictures before the IDR are gone: marking one of them as unused would be an error.
        const std::size_t operations = slice.operations.size();
        std::erase_if(slice.operations, [&](const std::vector<std::uint32_t>& operation) {
            return operation[0] == 1 && std::int64_t{operation[1]} + 1 > sinceRestart_;
        });
        Bytes escaped;
        if (slice.operations.size() != operations) {
            escaped = rewritten(raw, slice, raw[0], number, false);
            if (escaped.empty()) return false;
        } else {
            setBits(raw, slice.frameNumAt, slice.frameNumBits, number);
            escaped = EscapedPayload(raw);
        }
        out.insert(out.end(), escaped.begin(), escaped.end());
        return true;
    });
}

}  // namespace media
