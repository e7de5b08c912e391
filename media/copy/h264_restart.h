#pragma once

// A copy of H.264 that starts at a recovery point (an I picture that is not an IDR), after
// pictures encoded again: a decoder counts the display order of the copied pictures on from
// the encoded ones and shows them out of order or not at all. The recovery point is rewritten
// as an IDR, which ends what came before, and the frame numbers of the pictures after it are
// counted from it, as an IDR requires. Plain C++; no media framework here.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "media/copy/h264_units.h"
#include "media/copy/picture_syntax.h"

namespace media {

class H264Restart {
public:
    // Takes the parameter sets among the units in data (a set-up, or a picture with them).
    void TakeSets(const Bytes& data);
    // Makes the picture an IDR; false when it cannot be one (not all of it intra slices, a
    // field, slice groups, not a reference). From it on, Renumbered counts from it.
    bool StartAt(const Bytes& picture);
    const Bytes& key() const { return key_; }  // the IDR; empty before StartAt
    // A set-up to write before the IDR; as it is without one.
    Bytes SetUp(const Bytes& setUp) const { return key_.empty() ? setUp : GapsAllowed(setUp); }
    // A picture after the IDR in decoding order, its frame numbers counted from the IDR and no
    // picture before the IDR marked unused. From an IDR of the stream's own on (restarts),
    // pictures pass as they are. Empty when the picture stays as it is, nullopt when a slice
    // cannot be rewritten.
    std::optional<Bytes> Renumbered(const Bytes& picture, bool restarts);
    bool renumbering() const { return renumbering_; }
    // The units in data with each sequence set allowing gaps in frame numbers: reference
    // pictures that show before the recovery point are left out, and the gaps they leave keep
    // every later reference to a picture by its number pointing where it did.
    static Bytes GapsAllowed(const Bytes& data);

private:
    struct Slice;
    bool readSlice(const Bytes& raw, Slice* slice) const;
    Bytes rewritten(const Bytes& raw, const Slice& slice, std::uint8_t header,
                    std::uint32_t frameNum, bool idr) const;
    bool takeSet(int type, const Bytes& raw);

    std::map<int, H264SequenceSet> sequences_;
    std::map<int, H264PictureSet> pictures_;
    Bytes key_;
    bool renumbering_ = false;
    int offset_ = 0;  // the recovery point's frame number
    std::uint32_t lastNumber_ = 0;  // the last picture's frame number, counted again
    std::int64_t sinceRestart_ = 0;  // and how far it is from the IDR's, unwrapped
};

}  // namespace media
