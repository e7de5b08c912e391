#include "media/copy/copied_sound_track.h"

#include <algorithm>
#include <cstdlib>

namespace media {
namespace {

// PCM runs whose times disagree by less than this follow each other without a gap: containers
// round their times.
constexpr ReferenceTime kPcmSlack = 10'000;  // 1 ms

}  // namespace

ReferenceTime CopiedSoundTrack::unitsToTime(std::int64_t units) const {
    const std::int64_t samples = sound_.samplesPerFrame ? units * sound_.samplesPerFrame : units;
    return sound_.sampleRate ? samples * kReferenceTimePerSecond / sound_.sampleRate : 0;
}

ReferenceTime CopiedSoundTrack::frameLength() const {
    return sound_.samplesPerFrame ? unitsToTime(1) : kPcmSlack;
}

ReferenceTime CopiedSoundTrack::written() const {
    return unitsToTime(unitsWritten_);
}

void CopiedSoundTrack::Add(ReferenceTime start, std::vector<std::uint8_t> data) {
    if (start == kNoTime || data.empty()) return;
    if (sound_.swapBytes) SwapSampleBytes(data, sound_.bytesPerSample / std::max(1, sound_.channels));
    // Frames long before the first picture are of no use once it is known.
    if (begun() && !started_) {
        while (frames_.size() > 1 && frames_[1].start <= origin_) frames_.pop_front();
    }
    lastAdded_ = std::max(lastAdded_, start);
    frames_.push_back({start, std::move(data)});
}

bool CopiedSoundTrack::Covers(ReferenceTime outputTime) const {
    return begun() && lastAdded_ != kNoTime && lastAdded_ - origin_ >= outputTime;
}

bool CopiedSoundTrack::writeFrame(const std::uint8_t* data, std::size_t size,
                                  std::int64_t units) {
    unitsWritten_ += units;
    return writer_.WriteAudio(data, size);
}

bool CopiedSoundTrack::writeSilence(std::int64_t units) {
    if (units <= 0) return true;
    if (sound_.silence.empty()) sound_.silence = EncodedSilence(sound_);
    if (sound_.silence.empty()) {
        lackedSilence_ = true;
        return true;
    }
    if (!sound_.samplesPerFrame) {
        std::vector<std::uint8_t> zeros;
        for (std::int64_t i = 0; i < units; ++i)
            zeros.insert(zeros.end(), sound_.silence.begin(), sound_.silence.end());
        return writeFrame(zeros.data(), zeros.size(), units);
    }
    for (std::int64_t i = 0; i < units; ++i) {
        ++silentFrames_;
        if (!writeFrame(sound_.silence.data(), sound_.silence.size(), 1)) return false;
    }
    return true;
}

// Starts the sound at the first picture: the frame starting nearest to it first, silence
// before it when the source's sound starts later; PCM from the very sample.
bool CopiedSoundTrack::startAtOrigin() {
    if (started_ || !begun() || frames_.empty()) return true;
    started_ = true;
    if (sound_.samplesPerFrame) {
        std::size_t nearest = 0;
        for (std::size_t i = 1; i < frames_.size(); ++i)
            if (std::llabs(frames_[i].start - origin_) < std::llabs(frames_[nearest].start - origin_))
                nearest = i;
        frames_.erase(frames_.begin(), frames_.begin() + static_cast<std::ptrdiff_t>(nearest));
        const ReferenceTime late = frames_.front().start - origin_;
        const std::int64_t before = late > frameLength() / 2
                                        ? (late + frameLength() / 2) / frameLength()
                                        : 0;
        lastSourceEnd_ = frames_.front().start;
        return writeSilence(before);
    }
    const auto samplesOf = [this](ReferenceTime t) {
        return t * sound_.sampleRate / kReferenceTimePerSecond;
    };
    const auto bytesPerSample = static_cast<std::size_t>(sound_.bytesPerSample);
    while (frames_.size() > 1 &&
           frames_.front().start +
                   unitsToTime(static_cast<std::int64_t>(frames_.front().data.size() / bytesPerSample)) <=
               origin_)
        frames_.pop_front();
    Frame& first = frames_.front();
    if (first.start < origin_) {
        const auto cut = static_cast<std::size_t>(samplesOf(origin_ - first.start)) * bytesPerSample;
        first.data.erase(first.data.begin(),
                         first.data.begin() + static_cast<std::ptrdiff_t>(std::min(cut, first.data.size())));
        first.start = origin_;
    }
    lastSourceEnd_ = first.start;
    return writeSilence(samplesOf(first.start - origin_));
}

bool CopiedSoundTrack::WriteUntil(ReferenceTime outputTime) {
    if (!begun()) return true;
    if (!started_) {
        // The nearest frame is known once one starts at or after the first picture.
        const bool ready = !frames_.empty() && frames_.back().start >= origin_;
        if (!ready) return true;
        if (!startAtOrigin()) return false;
    }
    const auto bytesPerSample = static_cast<std::size_t>(std::max(1, sound_.bytesPerSample));
    while (!frames_.empty() && written() < outputTime) {
        Frame frame = std::move(frames_.front());
        frames_.pop_front();
        const std::int64_t units =
            sound_.samplesPerFrame ? 1 : static_cast<std::int64_t>(frame.data.size() / bytesPerSample);
        const ReferenceTime slack = sound_.samplesPerFrame ? frameLength() / 2 : kPcmSlack;
        const ReferenceTime gap = frame.start - lastSourceEnd_;
        if (gap < -slack) continue;  // overlaps what was written: a repeat
        if (gap > slack) {
            const std::int64_t missing = sound_.samplesPerFrame
                                             ? (gap + frameLength() / 2) / frameLength()
                                             : gap * sound_.sampleRate / kReferenceTimePerSecond;
            if (!writeSilence(missing)) return false;
        }
        std::int64_t take = units;
        if (!sound_.samplesPerFrame) {
            // PCM goes only up to the time asked; the rest waits for the next call.
            const std::int64_t room =
                outputTime * sound_.sampleRate / kReferenceTimePerSecond - unitsWritten_;
            take = std::clamp<std::int64_t>(room, 1, units);
        }
        const std::size_t bytes = sound_.samplesPerFrame ? frame.data.size()
                                                         : static_cast<std::size_t>(take) * bytesPerSample;
        if (!writeFrame(frame.data.data(), bytes, take))
            return false;
        lastSourceEnd_ = frame.start + unitsToTime(take);
        if (take < units) {
            frame.data.erase(frame.data.begin(), frame.data.begin() + static_cast<std::ptrdiff_t>(
                                                                          take * static_cast<std::int64_t>(bytesPerSample)));
            frame.start = lastSourceEnd_;
            frames_.push_front(std::move(frame));
        }
    }
    return true;
}

bool CopiedSoundTrack::Finish(ReferenceTime picturesEnd) {
    if (!begun()) return true;
    if (!started_ && !frames_.empty()) {
        started_ = false;
        if (!startAtOrigin()) return false;
    }
    started_ = true;
    if (sound_.samplesPerFrame) {
        // Whole frames while they start at least half a frame before the pictures' end.
        const ReferenceTime half = frameLength() / 2;
        while (!frames_.empty() && written() + half < picturesEnd)
            if (!WriteUntil(written() + 1)) return false;
        while (written() + half < picturesEnd) {
            if (!writeSilence(1)) return false;
            if (sound_.silence.empty()) break;  // none can be made: the sound ends short
        }
        return true;
    }
    // PCM to the sample.
    const auto bytesPerSample = static_cast<std::size_t>(std::max(1, sound_.bytesPerSample));
    const std::int64_t wanted = picturesEnd * sound_.sampleRate / kReferenceTimePerSecond;
    while (!frames_.empty() && unitsWritten_ < wanted) {
        Frame& frame = frames_.front();
        const auto room = static_cast<std::size_t>(wanted - unitsWritten_) * bytesPerSample;
        if (frame.data.size() > room) frame.data.resize(room);
        if (!WriteUntil(written() + 1)) return false;
    }
    return writeSilence(wanted - unitsWritten_);
}

}  // namespace media
