#pragma once

// The order in which pictures read in decoding order are shown. H.264 says it with each
// picture's order count; MPEG-1, MPEG-2 and MPEG-4 Part 2 show a B-picture at once and hold
// each I- or P-picture until the next one is decoded. Plain C++; no media framework here.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/copy/picture_syntax.h"

namespace media {

class DisplayOrder {
public:
    explicit DisplayOrder(PictureCodec codec) : codec_(codec) {}

    // Takes the next picture in decoding order, named by the caller's id; returns the ids whose
    // place in display order is now settled, in display order.
    std::vector<std::size_t> Add(std::size_t id, const PictureFacts& facts);
    // The ids still held, in display order: the stream ended.
    std::vector<std::size_t> Flush();

private:
    struct Held {
        std::size_t id;
        std::int64_t order;
    };
    void emitLowest(std::vector<std::size_t>& out);

    PictureCodec codec_;
    std::vector<Held> held_;
};

}  // namespace media
