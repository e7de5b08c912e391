#pragma once

// The sound of a copy, put in step with its pictures: the frame whose start lies nearest to the
// first picture comes first (PCM is cut to the sample), a gap before the sound starts or inside
// it is filled with silence in the same format, and the sound ends within half a frame of the
// pictures' end. Frames are handed to the file writer interleaved with the pictures. Plain
// C++; silence that must be encoded is made by the media framework (EncodedSilence).

#include <cstdint>
#include <deque>
#include <vector>

#include "media/copy/avi_writer.h"
#include "media/copy/copied_sound.h"
#include "media/core/reference_time.h"

namespace media {

class CopiedSoundTrack {
public:
    CopiedSoundTrack(CopiedSound sound, AviWriter& writer) : sound_(std::move(sound)), writer_(writer) {}

    // A frame (or a run of PCM samples) of the source in stream time.
    void Add(ReferenceTime start, std::vector<std::uint8_t> data);
    // Forgets the frames not written: the source is read again from elsewhere.
    void Reset() { frames_.clear(); lastAdded_ = kNoTime; }
    // Where the first picture shows, in stream time: the output's time 0.
    void Begin(ReferenceTime firstPicture) { origin_ = firstPicture; }
    bool begun() const { return origin_ != kNoTime; }
    // Writes the sound that starts before the output time given (from the first picture).
    bool WriteUntil(ReferenceTime outputTime);
    // Writes what Finish(picturesEnd) would write up to there and no more: while the pictures
    // are written, the sound never runs past where it will end, however the two streams' packets
    // happen to arrive.
    bool WriteBefore(ReferenceTime picturesEnd) {
        return WriteUntil(sound_.samplesPerFrame ? picturesEnd - frameLength() / 2 : picturesEnd);
    }
    // Writes the rest up to the pictures' end, padding with silence where the source's sound
    // stops short of it.
    bool Finish(ReferenceTime picturesEnd);
    // Whether the source's sound read so far reaches that output time.
    bool Covers(ReferenceTime outputTime) const;
    // The output's sound so far, in its own time.
    ReferenceTime written() const;
    const CopiedSound& sound() const { return sound_; }
    // Frames of silence written where the source had none.
    std::int64_t silentFrames() const { return silentFrames_; }
    // Silence was due where none could be made: the sound starts late or ends early.
    bool lackedSilence() const { return lackedSilence_; }

private:
    struct Frame {
        ReferenceTime start;
        std::vector<std::uint8_t> data;
    };
    ReferenceTime frameLength() const;
    ReferenceTime unitsToTime(std::int64_t units) const;
    bool writeFrame(const std::uint8_t* data, std::size_t size, std::int64_t units);
    bool writeSilence(std::int64_t units);
    bool startAtOrigin();

    CopiedSound sound_;
    AviWriter& writer_;
    std::deque<Frame> frames_;
    ReferenceTime origin_ = kNoTime;
    bool started_ = false;
    std::int64_t unitsWritten_ = 0;  // frames, or samples for PCM
    std::int64_t silentFrames_ = 0;
    bool lackedSilence_ = false;
    ReferenceTime lastSourceEnd_ = kNoTime;
    ReferenceTime lastAdded_ = kNoTime;  // where the last frame read starts
};

}  // namespace media
