#pragma once

// The pieces of an H.264 byte stream that a copy reads and rewrites: its units, their payload
// without emulation prevention, bits read and written, and the parameter sets that say how a
// slice header is laid out. Plain C++; no media framework here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "media/copy/picture_syntax.h"

namespace media {

// Reads bits most significant first; past the end it reads zeros and remembers it ran out.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint32_t bits(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | bit();
        return value;
    }
    std::uint32_t bit() {
        if (position_ >= size_ * 8) {
            overrun_ = true;
            return 0;
        }
        const std::uint32_t value = (data_[position_ / 8] >> (7 - position_ % 8)) & 1u;
        ++position_;
        return value;
    }
    void skip(int count) { position_ += static_cast<std::size_t>(count); }
    // Exp-Golomb codes of H.264.
    std::uint32_t ue() {
        int zeros = 0;
        while (bit() == 0 && !overrun_ && zeros < 32) ++zeros;
        if (zeros >= 32) {
            overrun_ = true;
            return 0;
        }
        return ((1u << zeros) - 1) + bits(zeros);
    }
    std::int32_t se() {
        const std::uint32_t code = ue();
        return (code & 1) ? static_cast<std::int32_t>((code + 1) / 2)
                          : -static_cast<std::int32_t>(code / 2);
    }
    bool ok() const { return !overrun_; }
    std::size_t position() const { return position_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
    bool overrun_ = false;
};

class BitWriter {
public:
    void bits(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bit((value >> i) & 1u);
    }
    void bit(std::uint32_t value) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        if (value) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> (used_ % 8));
        ++used_;
    }
    void ue(std::uint32_t value) {
        const std::uint64_t code = std::uint64_t{value} + 1;
        int length = 0;
        while ((code >> (length + 1)) != 0) ++length;
        bits(0, length);
        for (int i = length; i >= 0; --i) bit(static_cast<std::uint32_t>((code >> i) & 1u));
    }
    // The bits [from, to) of data.
    void copy(const Bytes& data, std::size_t from, std::size_t to) {
        for (std::size_t at = from; at < to; ++at)
            bit((data[at / 8] >> (7 - at % 8)) & 1u);
    }
    bool aligned() const { return used_ % 8 == 0; }
    Bytes& bytes() { return bytes_; }

private:
    Bytes bytes_;
    std::size_t used_ = 0;
};

// An H.264 unit's payload without the bytes that keep start codes out of it, up to limit bytes.
Bytes RawPayload(const std::uint8_t* data, std::size_t size, std::size_t limit = 256);
// The payload with those bytes put back in.
Bytes EscapedPayload(const Bytes& raw);

struct NalUnit {
    std::size_t start = 0;  // the start code's first byte
    std::size_t payload = 0;
    std::size_t end = 0;
};

std::vector<NalUnit> NalUnits(const std::uint8_t* data, std::size_t size);

struct H264SequenceSet {
    int profile = 0;
    int chromaFormat = 1;
    bool separateColourPlanes = false;
    int frameNumBits = 4;
    int orderCountType = 0;
    int orderLsbBits = 4;
    bool deltaAlwaysZero = false;
    int offsetForNonReference = 0;
    int offsetTopToBottom = 0;
    std::vector<int> offsetsForReference;
    bool framesOnly = true;
    std::size_t gapsFlagAt = 0;  // the bit that allows gaps in frame numbers, from the header byte
};

struct H264PictureSet {
    int sequenceId = 0;
    bool cabac = false;
    bool bottomOrderPresent = false;
    bool sliceGroups = false;  // the rest is unread: slice headers cannot be rewritten
    int referencesL0 = 1;  // active references by default
    int referencesL1 = 1;
    bool weightedPrediction = false;
    int weightedBipred = 0;
    bool deblockingControl = false;
    bool redundantCount = false;
};

// Each from its unit's raw payload (header byte included), with its id.
std::optional<std::pair<int, H264SequenceSet>> ReadSequenceSet(const Bytes& raw);
std::optional<std::pair<int, H264PictureSet>> ReadPictureSet(const Bytes& raw);

}  // namespace media
