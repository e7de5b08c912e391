#pragma once

// The pictures of a stream as a copy reads them, in decoding order, each given its place in
// display order and its display time once that is settled. Times come from the container where
// it gives presentation times. An AVI file gives only the slots of decoding order: an MPEG-4
// picture's own time then places it (packed streams show their pictures slots before their
// chunks), and other pictures reordered around B-pictures follow each other at the stream's
// rate from the earliest slot among them. Plain C++; no media framework here.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "media/copy/display_order.h"
#include "media/copy/picture_syntax.h"
#include "media/core/frame_time.h"
#include "media/core/reference_time.h"

namespace media {

struct TimelinePicture {
    std::size_t id = 0;  // in decoding order, from 0 at the reading's start
    PictureFacts facts;
    bool key = false;
    ReferenceTime containerPts = kNoTime;
    ReferenceTime containerDts = kNoTime;
    // Settled: its place in display order and its display time (stream time) are known.
    bool settled = false;
    std::int64_t displayIndex = -1;  // within this reading
    ReferenceTime pts = kNoTime;
    Bytes data;                      // the picture as it is written
};

class PictureTimeline {
public:
    // slotTimes: the container's times are the slots of decoding order (AVI).
    PictureTimeline(PictureCodec codec, FrameRate rate, bool slotTimes)
        : order_(codec), rate_(rate), slotTimes_(slotTimes) {}

    // Takes the next picture in decoding order (its id is set here); returns the ids it
    // settled, in display order.
    std::vector<std::size_t> Add(TimelinePicture picture);
    // The stream ended: every picture held is settled.
    std::vector<std::size_t> Finish();

    // A picture still kept, by id.
    TimelinePicture& at(std::size_t id) { return pictures_[id - first_]; }
    const TimelinePicture& at(std::size_t id) const { return pictures_[id - first_]; }
    bool has(std::size_t id) const { return id >= first_ && id < first_ + pictures_.size(); }
    std::size_t firstKept() const { return first_; }
    std::size_t next() const { return first_ + pictures_.size(); }
    // Forgets the pictures before id; they must be settled.
    void DropBefore(std::size_t id);

    FrameRate rate() const { return rate_; }
    // Whether B-pictures were seen: decoding order is then not display order.
    bool reordered() const { return reordered_; }

    ReferenceTime frameTime(std::int64_t frames) const { return FrameStart(frames, rate_); }

private:
    void place(std::size_t id, std::vector<std::size_t>& timed);
    ReferenceTime givenTime(const TimelinePicture& picture) const;

    DisplayOrder order_;
    FrameRate rate_;
    bool slotTimes_;
    std::deque<TimelinePicture> pictures_;
    std::size_t first_ = 0;
    std::int64_t settledCount_ = 0;
    bool reordered_ = false;  // B-pictures: display order is not decoding order
    // The last picture whose time came from the container, and its place in display order.
    ReferenceTime anchorTime_ = kNoTime;
    std::int64_t anchorIndex_ = 0;
    std::vector<std::size_t> untimed_;  // settled before any picture had a time
};

// The stream's real rate from presentation times, each with the picture's place in display
// order (a few dozen of them; a container may give a time to some pictures only): the
// container's tag when they agree with it, else the standard rate they match, else what they
// say. The tag when there are too few to tell.
FrameRate RateFromTimes(std::vector<std::pair<std::int64_t, ReferenceTime>> shown, FrameRate tag);

}  // namespace media
