#include "media/picture_timeline.h"

#include <algorithm>
#include <cmath>

#include "media/source_timing.h"

namespace media {

std::vector<std::size_t> PictureTimeline::Add(TimelinePicture picture) {
    picture.id = next();
    if (picture.facts.type == 'B') reordered_ = true;
    pictures_.push_back(picture);
    const std::vector<std::size_t> settled = order_.Add(picture.id, picture.facts);
    for (std::size_t id : settled) settle(id);
    return settled;
}

std::vector<std::size_t> PictureTimeline::Finish() {
    const std::vector<std::size_t> settled = order_.Flush();
    for (std::size_t id : settled) settle(id);
    return settled;
}

void PictureTimeline::DropBefore(std::size_t id) {
    while (first_ < id && !pictures_.empty()) {
        pictures_.pop_front();
        ++first_;
    }
}

void PictureTimeline::settle(std::size_t id) {
    TimelinePicture& picture = at(id);
    picture.settled = true;
    picture.displayIndex = settledCount_++;
    ReferenceTime given = -1;
    const ReferenceTime slot = picture.containerDts >= 0 ? picture.containerDts : picture.containerPts;
    if (!slotTimes_) {
        given = picture.containerPts;
    } else if (picture.facts.ticksPerSecond > 0 && slot >= 0) {
        // An MPEG-4 picture says when it shows within its second; its slot, which lies less
        // than half a second from it (B-pictures, a packed stream's delay), says which second.
        const ReferenceTime within =
            picture.facts.ticks * kReferenceTimePerSecond / picture.facts.ticksPerSecond;
        const std::int64_t second =
            (slot - within + kReferenceTimePerSecond / 2) / kReferenceTimePerSecond;
        given = std::max<std::int64_t>(second, 0) * kReferenceTimePerSecond + within;
    } else if (!reordered_) {
        given = slot;
    }
    if (slotTimes_ && anchorTime_ < 0 && given < 0) {
        // The earliest slot of the pictures not yet shown is where the first of them shows.
        for (const TimelinePicture& other : pictures_)
            if (!other.settled || other.id == id) {
                const ReferenceTime slot =
                    other.containerDts >= 0 ? other.containerDts : other.containerPts;
                if (slot >= 0 && (given < 0 || slot < given)) given = slot;
            }
    }
    if (given >= 0) {
        picture.pts = given;
        anchorTime_ = given;
        sinceAnchor_ = 0;
        return;
    }
    ++sinceAnchor_;
    picture.pts = anchorTime_ < 0 ? frameTime(sinceAnchor_ - 1)
                                  : anchorTime_ + frameTime(sinceAnchor_);
}

FrameRate RateFromTimes(std::vector<ReferenceTime> times, FrameRate tag) {
    times.erase(std::remove(times.begin(), times.end(), ReferenceTime{-1}), times.end());
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    if (times.size() < 4) return tag.known() ? tag : FrameRate{25, 1};
    std::vector<ReferenceTime> gaps;
    for (std::size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
    std::vector<ReferenceTime> sorted = gaps;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                     sorted.end());
    const ReferenceTime median = sorted[sorted.size() / 2];
    // The mean of the gaps near the median: times rounded to the millisecond average out, a
    // missing picture does not count.
    double sum = 0;
    int count = 0;
    for (ReferenceTime gap : gaps)
        if (std::llabs(gap - median) * 4 <= median) sum += static_cast<double>(gap), ++count;
    if (count == 0 || sum <= 0) return tag.known() ? tag : FrameRate{25, 1};
    const double measured = kReferenceTimePerSecond * count / sum;
    if (tag.known()) {
        const double tagged = static_cast<double>(tag.numerator) / tag.denominator;
        if (std::fabs(measured - tagged) <= tagged * 0.002) return tag;
    }
    // Whole rates at a thousandth's precision are kept as they are; the rest as a fraction in
    // thousandths, which the standard rates replace where they match.
    const auto thousandths = static_cast<int>(std::lround(measured * 1000));
    FrameRate rate{thousandths % 1000 == 0 ? thousandths / 1000 : thousandths,
                   thousandths % 1000 == 0 ? 1 : 1000};
    return SnapToStandardRate(rate);
}

}  // namespace media
