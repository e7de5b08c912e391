#pragma once

// The state of one direct stream copy as it reads, locates the span, copies and encodes again;
// private to the copy job.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/copy/avi_writer.h"
#include "media/copy/copied_sound_track.h"
#include "media/copy/copy_source.h"
#include "media/copy/copy_tally.h"
#include "media/copy/encoded_sound.h"
#include "media/copy/h264_restart.h"
#include "media/copy/picture_timeline.h"
#include "media/copy/stream_copy_formats.h"
#include "media/copy/stream_copy_job.h"
#include "media/core/frame_time.h"

namespace media {

// One copy, run on the job's thread.
class CopyRun {
public:
    explicit CopyRun(StreamCopyJob& job) : job_(job), request_(job.request_) {}
    StreamCopyOutcome run();

private:
    enum class Phase { Locating, Copying, Ended };

    bool fail(std::string problem) {
        if (outcome_.problem.empty()) outcome_.problem = std::move(problem);
        return false;
    }
    bool stopping() const { return job_.stopRequested_ || job_.cancelled_; }
    bool readOpening();
    bool readSpan();
    bool startReading(ReferenceTime target);
    bool takePacket(SourcePacket& packet);
    bool takePicture(const PictureFacts& facts, Bytes data, const SourcePacket& packet);
    bool settled(std::size_t id);
    bool settledAll(const std::vector<std::size_t>& ids);
    void forget(std::size_t before);
    bool locate(std::size_t id);
    void fixMark(std::size_t next);
    bool startsCopy(std::size_t id);
    bool startCopying(bool ended);
    bool encodeHead(ReferenceTime until);
    bool copyReady(bool ended);
    bool encodeTail();
    std::size_t keyFrameFor(std::size_t id) const;
    bool encodeAgain(std::size_t key, std::size_t last, ReferenceTime from, ReferenceTime until,
                     std::size_t* count);
    bool writePicture(const Bytes& data, bool key, ReferenceTime pts);
    bool startEncodedSound(std::optional<AviAudioStream>* audio);
    bool takeEncodedSound(bool untilCovered);
    bool finishFile();
    bool writeCopy();
    ReferenceTime outputTime(std::int64_t pictures) const { return FrameStart(pictures, rate_); }

    StreamCopyJob& job_;
    const StreamCopyRequest& request_;
    StreamCopyOutcome outcome_;
    CopySource source_;
    std::optional<CopiedFormat> format_;
    std::unique_ptr<PictureSyntax> syntax_;
    std::unique_ptr<PictureTimeline> timeline_;
    FrameRate rate_;
    ReferenceTime origin_ = 0;
    ReferenceTime markTime_ = 0;
    ReferenceTime endTime_ = 0;
    // Containers that keep milliseconds place a picture up to half of one off its time.
    ReferenceTime tolerance_ = 2 * kTimestampRounding;
    AviWriter writer_;
    std::unique_ptr<CopiedSoundTrack> sound_;
    std::unique_ptr<EncodedSound> encodedSound_;
    CopyOpening opening_;  // the file's start: rate, first picture, sound
    bool soundPresent_ = false;

    // The reading from a seek on.
    bool sawKey_ = false;
    bool startsAtFileStart_ = false;
    bool soughtTooLate_ = false;
    Phase phase_ = Phase::Locating;
    std::optional<std::size_t> mark_;  // the picture on show at the mark
    bool markFinal_ = false;
    ReferenceTime markPts_ = -1;        // the output's first picture
    std::vector<std::size_t> fromMark_;  // settled pictures from the mark on, display order
    std::size_t lookedAt_ = 0;           // of them, those looked at for a key frame
    std::optional<std::size_t> copyKey_;  // the first key frame at or after the mark
    ReferenceTime copyKeyPts_ = -1;
    std::int64_t copyKeyIndex_ = -1;
    std::size_t nextCopy_ = 0;
    std::vector<std::size_t> pending_;  // copied pictures waiting for a clean cut
    std::vector<Bytes> pendingData_;    // each one's data where it is rewritten, else empty
    H264Restart restart_;  // an H.264 recovery point the copy starts at, made an IDR
    std::int64_t pendingTopRank_ = -1;
    std::int64_t copied_ = 0;
    bool endReached_ = false;
    // Pictures written are forgotten, but not while a batch of pictures that settled together
    // is taken: a later one of the batch may be among them, and still to be counted.
    bool settling_ = false;
    std::size_t forgetBefore_ = 0;

    CopyTally tally_;  // what was written and what was due
};

}  // namespace media
