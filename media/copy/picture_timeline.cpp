#include "media/copy/picture_timeline.h"

#include <algorithm>
#include <cmath>

#include "media/source/source_timing.h"

namespace media {

std::vector<std::size_t> PictureTimeline::Add(TimelinePicture picture) {
    picture.id = next();
    if (picture.facts.type == 'B') reordered_ = true;
    pictures_.push_back(picture);
    std::vector<std::size_t> timed;
    for (std::size_t id : order_.Add(picture.id, picture.facts)) place(id, timed);
    return timed;
}

std::vector<std::size_t> PictureTimeline::Finish() {
    std::vector<std::size_t> timed;
    for (std::size_t id : order_.Flush()) place(id, timed);
    // No picture of the reading has a time of its own: they follow each other from 0.
    for (std::size_t i = 0; i < untimed_.size(); ++i) {
        at(untimed_[i]).pts = frameTime(static_cast<std::int64_t>(i));
        at(untimed_[i]).settled = true;
        timed.push_back(untimed_[i]);
    }
    untimed_.clear();
    return timed;
}

void PictureTimeline::DropBefore(std::size_t id) {
    while (first_ < id && !pictures_.empty()) {
        pictures_.pop_front();
        ++first_;
    }
}

// The time a picture shows at, from its container's word where there is one.
ReferenceTime PictureTimeline::givenTime(const TimelinePicture& picture) const {
    const ReferenceTime slot =
        picture.containerDts != kNoTime ? picture.containerDts : picture.containerPts;
    if (!slotTimes_) return picture.containerPts;
    if (picture.facts.ticksPerSecond > 0 && slot != kNoTime) {
        // An MPEG-4 picture says when it shows within its second; its slot, which lies less
        // than half a second from it (B-pictures, a packed stream's delay), says which second.
        const ReferenceTime within =
            picture.facts.ticks * kReferenceTimePerSecond / picture.facts.ticksPerSecond;
        const std::int64_t second =
            (slot - within + kReferenceTimePerSecond / 2) / kReferenceTimePerSecond;
        return std::max<std::int64_t>(second, 0) * kReferenceTimePerSecond + within;
    }
    if (!reordered_) return slot;
    if (anchorTime_ != kNoTime) return kNoTime;
    // The earliest slot of the pictures not yet shown is where the first of them shows.
    ReferenceTime earliest = kNoTime;
    for (const TimelinePicture& other : pictures_) {
        if (other.displayIndex >= 0 && other.id != picture.id) continue;
        const ReferenceTime otherSlot =
            other.containerDts != kNoTime ? other.containerDts : other.containerPts;
        if (otherSlot != kNoTime && (earliest == kNoTime || otherSlot < earliest))
            earliest = otherSlot;
    }
    return earliest;
}

// A picture's place in display order is settled: its time is the container's, or follows from
// the last picture that had one. Pictures before the first that has one wait for it and are
// timed back from it.
void PictureTimeline::place(std::size_t id, std::vector<std::size_t>& timed) {
    TimelinePicture& picture = at(id);
    picture.displayIndex = settledCount_++;
    ReferenceTime given = givenTime(picture);
    // Display times only grow: a time that does not (a program stream's time given to the
    // picture before the one it belongs to) is not taken.
    if (given != kNoTime && anchorTime_ != kNoTime &&
        given <= anchorTime_ + frameTime(picture.displayIndex - anchorIndex_ - 1))
        given = kNoTime;
    if (given != kNoTime) {
        anchorTime_ = given;
        anchorIndex_ = picture.displayIndex;
        for (std::size_t waiting : untimed_) {
            TimelinePicture& early = at(waiting);
            early.pts = given - frameTime(anchorIndex_ - early.displayIndex);
            early.settled = true;
            timed.push_back(waiting);
        }
        untimed_.clear();
    } else if (anchorTime_ == kNoTime) {
        untimed_.push_back(id);
        return;
    }
    picture.pts = anchorTime_ + frameTime(picture.displayIndex - anchorIndex_);
    picture.settled = true;
    timed.push_back(id);
}

FrameRate RateFromTimes(std::vector<std::pair<std::int64_t, ReferenceTime>> shown, FrameRate tag) {
    std::sort(shown.begin(), shown.end());
    // The time each picture takes, from each pair of pictures whose times are given.
    std::vector<double> periods;
    for (std::size_t i = 1; i < shown.size(); ++i) {
        const std::int64_t pictures = shown[i].first - shown[i - 1].first;
        const ReferenceTime span = shown[i].second - shown[i - 1].second;
        if (pictures > 0 && span > 0)
            periods.insert(periods.end(), static_cast<std::size_t>(pictures),
                           static_cast<double>(span) / static_cast<double>(pictures));
    }
    if (periods.size() < 3) return tag.known() ? tag : FrameRate{25, 1};
    std::vector<double> sorted = periods;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                     sorted.end());
    const double median = sorted[sorted.size() / 2];
    // The mean of the periods near the median: times rounded to the millisecond average out, a
    // missing picture does not count.
    double sum = 0;
    int count = 0;
    for (double period : periods)
        if (std::fabs(period - median) * 4 <= median) sum += period, ++count;
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
