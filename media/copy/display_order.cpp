#include "media/copy/display_order.h"

#include <algorithm>

namespace media {
namespace {

// H.264 holds at most this many pictures before one must be shown (its largest picture
// buffer), so a picture more than that many behind the newest is settled.
constexpr std::size_t kLargestReordering = 16;

}  // namespace

void DisplayOrder::emitLowest(std::vector<std::size_t>& out) {
    const auto lowest = std::min_element(held_.begin(), held_.end(), [](const Held& a, const Held& b) {
        return a.order < b.order;
    });
    out.push_back(lowest->id);
    held_.erase(lowest);
}

std::vector<std::size_t> DisplayOrder::Add(std::size_t id, const PictureFacts& facts) {
    std::vector<std::size_t> settled;
    switch (codec_) {
        case PictureCodec::H264:
            // A new coded sequence shows after everything of the one before.
            if (facts.orderRestarts)
                while (!held_.empty()) emitLowest(settled);
            held_.push_back({id, facts.displayOrder});
            while (held_.size() > kLargestReordering) emitLowest(settled);
            break;
        case PictureCodec::Mpeg4Part2:
        case PictureCodec::Mpeg12:
            if (facts.type == 'B') {
                settled.push_back(id);
            } else {
                for (const Held& anchor : held_) settled.push_back(anchor.id);
                held_.assign(1, {id, 0});
            }
            break;
        case PictureCodec::IntraOnly:
            settled.push_back(id);
            break;
    }
    return settled;
}

std::vector<std::size_t> DisplayOrder::Flush() {
    std::vector<std::size_t> settled;
    while (!held_.empty()) emitLowest(settled);
    return settled;
}

}  // namespace media
