#include "media/copy/stream_copy_job.h"

#include <gst/gst.h>

#include <algorithm>
#include <atomic>

#include "media/copy/smart_cut.h"
#include "media/copy/stream_copy_run.h"

namespace media {
namespace {

// How often a seek that lands after the mark is tried again from earlier on.
constexpr int kSeekTries = 6;

}  // namespace

bool CopyRun::readOpening() {
    opening_ = ReadCopyOpening(source_, *format_);
    if (!opening_.problem.empty()) return fail(opening_.problem);
    rate_ = opening_.rate;
    origin_ = opening_.origin;
    soundPresent_ = opening_.soundPresent;
    syntax_->TakeCodecData(opening_.setUp.data(), opening_.setUp.size());
    return true;
}

// Reads from the key frame at or before the target on, with a new timeline.
bool CopyRun::startReading(ReferenceTime target) {
    startsAtFileStart_ = target <= origin_;
    if (!source_.Seek(startsAtFileStart_ ? 0 : target)) return fail(source_.problem());
    timeline_ = std::make_unique<PictureTimeline>(format_->codec, rate_, source_.avi());
    if (sound_) sound_->Reset();
    forgetBefore_ = 0;
    sawKey_ = soughtTooLate_ = endReached_ = markFinal_ = false;
    phase_ = Phase::Locating;
    mark_.reset();
    copyKey_.reset();
    fromMark_.clear();
    lookedAt_ = 0;
    tally_.due = 0;
    tally_.lastDue = kNoTime;
    return true;
}

bool CopyRun::takePicture(const PictureFacts& facts, Bytes data, const SourcePacket& packet) {
    if (!facts.coded && syntax_->Packed()) return true;  // a packed stream's placeholder
    const bool key = facts.key || (packet.containerKey && facts.type == 'I');
    if (!sawKey_ && !key) {
        // Cannot be decoded from here. A reading that passes the mark before its first key
        // frame started too late (a transport stream's seek lands where it can).
        const ReferenceTime time = packet.pts != kNoTime ? packet.pts : packet.dts;
        if (time != kNoTime && time > markTime_ + tolerance_ && !startsAtFileStart_)
            soughtTooLate_ = true;
        return true;
    }
    if (facts.field == 2 && timeline_->next() > timeline_->firstKept()) {
        // The second field of a frame joins its first in one chunk.
        TimelinePicture& first = timeline_->at(timeline_->next() - 1);
        if (!first.settled) {
            first.data.insert(first.data.end(), data.begin(), data.end());
            return true;
        }
    }
    sawKey_ = true;
    TimelinePicture picture;
    picture.facts = facts;
    picture.key = key;
    picture.containerPts = packet.pts;
    picture.containerDts = packet.dts;
    picture.data = std::move(data);
    if (!settledAll(timeline_->Add(std::move(picture)))) return false;
    return phase_ != Phase::Copying || copyReady(false);
}

bool CopyRun::takePacket(SourcePacket& packet) {
    if (!packet.video) {
        if (sound_ && !encodedSound_ && packet.pts != kNoTime)
            sound_->Add(packet.pts, BufferBytes(packet.buffer.get()));
        return true;
    }
    const Bytes unit = BufferBytes(packet.buffer.get());
    // Both pictures of a packed unit come at the unit's time; display order sorts them out.
    for (const PictureFacts& facts : syntax_->Read(unit.data(), unit.size())) {
        Bytes data(unit.begin() + static_cast<std::ptrdiff_t>(facts.offset),
                   unit.begin() + static_cast<std::ptrdiff_t>(facts.offset + facts.size));
        if (syntax_->Packed()) data = UnpackedDivxMark(data.data(), data.size());
        if (!takePicture(facts, std::move(data), packet)) return false;
    }
    return true;
}

bool CopyRun::settledAll(const std::vector<std::size_t>& ids) {
    settling_ = true;
    bool taken = true;
    for (std::size_t id : ids)
        if (!(taken = settled(id))) break;
    settling_ = false;
    forget(forgetBefore_);
    return taken;
}

void CopyRun::forget(std::size_t before) {
    forgetBefore_ = std::max(forgetBefore_, before);
    if (!settling_) timeline_->DropBefore(forgetBefore_);
}

bool CopyRun::settled(std::size_t id) {
    const TimelinePicture& picture = timeline_->at(id);
    if (markFinal_ && picture.pts >= markPts_ && picture.pts < endTime_) {
        ++tally_.due;
        tally_.lastDue = std::max(tally_.lastDue, picture.pts);
    }
    return phase_ == Phase::Locating ? locate(id) : true;
}

// Finds the marked picture (the one on show at the mark) and the first key frame at or after
// it, as the pictures settle in display order.
bool CopyRun::locate(std::size_t id) {
    const TimelinePicture& picture = timeline_->at(id);
    // Pictures shown before the reading's first key frame refer to pictures before it: they
    // cannot be decoded from here.
    const TimelinePicture& firstKey = timeline_->at(timeline_->firstKept());
    if (firstKey.displayIndex < 0 || picture.displayIndex < firstKey.displayIndex) return true;
    if (!markFinal_) {
        if (picture.pts <= markTime_ + tolerance_) {
            mark_ = id;  // a later one may still be on show at the mark
            return true;
        }
        if (!mark_ && !startsAtFileStart_) {
            soughtTooLate_ = true;  // the container's index put the seek after the mark
            return true;
        }
        if (!mark_) mark_ = id;  // the mark lies before the first picture
        fixMark(id);
    } else {
        fromMark_.push_back(id);
    }
    for (; lookedAt_ < fromMark_.size() && !copyKey_; ++lookedAt_)
        if (timeline_->at(fromMark_[lookedAt_]).key && startsCopy(fromMark_[lookedAt_]))
            copyKey_ = fromMark_[lookedAt_];
    if (!copyKey_ && picture.pts < endTime_) return true;  // neither the key frame nor the end yet
    return startCopying(false);
}

// The marked picture is known, and the picture settled after it: both are due before the end.
void CopyRun::fixMark(std::size_t next) {
    markFinal_ = true;
    markPts_ = timeline_->at(*mark_).pts;
    fromMark_.assign(1, *mark_);
    if (*mark_ != next) fromMark_.push_back(next);
    for (std::size_t each : fromMark_) {
        if (timeline_->at(each).pts >= endTime_) continue;
        ++tally_.due;
        tally_.lastDue = std::max(tally_.lastDue, timeline_->at(each).pts);
    }
    if (sound_) sound_->Begin(markPts_);
}

// Whether the copy can start at a key frame: an H.264 recovery point can where it can be
// rewritten as an IDR (after encoded pictures, it must be one).
bool CopyRun::startsCopy(std::size_t id) {
    const TimelinePicture& picture = timeline_->at(id);
    restart_ = H264Restart();
    if (format_->codec != PictureCodec::H264 || picture.facts.orderRestarts) return true;
    restart_.TakeSets(syntax_->SetUp());
    return restart_.StartAt(picture.data);
}

// The pictures from the mark to the first key frame are encoded again; copying goes on from
// the key frame. Without a key frame before the end, the whole span is encoded again.
bool CopyRun::startCopying(bool ended) {
    if (copyKey_ && timeline_->at(*copyKey_).pts >= endTime_) copyKey_.reset();
    if (format_->encoder.empty() && (!copyKey_ || *copyKey_ != *mark_)) {
        // Nothing can encode these pictures: the copy starts at the key frame before the mark,
        // as the inspection told the user.
        copyKey_ = keyFrameFor(*mark_);
        mark_ = copyKey_;
        markPts_ = timeline_->at(*mark_).pts;
        startsCopy(*copyKey_);  // where it cannot become an IDR, it is copied as it is
        tally_.startsEarly = true;
        if (sound_) sound_->Begin(markPts_);
    }
    if (ended && !copyKey_) endTime_ = std::min(endTime_, tally_.lastDue + outputTime(1));
    const ReferenceTime headEnd = copyKey_ ? timeline_->at(*copyKey_).pts : endTime_;
    if (!encodeHead(headEnd)) return false;
    if (!copyKey_) {
        phase_ = Phase::Ended;
        tally_.wholeSpanEncoded = tally_.head > 0;
        return true;
    }
    phase_ = Phase::Copying;
    copyKeyPts_ = timeline_->at(*copyKey_).pts;
    copyKeyIndex_ = timeline_->at(*copyKey_).displayIndex;
    nextCopy_ = *copyKey_;
    return copyReady(ended);
}

bool CopyRun::encodeHead(ReferenceTime until) {
    if (markPts_ >= until) return true;
    // The key frame the head decodes from, and the last picture it needs.
    const std::size_t key = keyFrameFor(*mark_);
    std::size_t last = *mark_;
    for (std::size_t id = timeline_->firstKept(); id < timeline_->next(); ++id) {
        const TimelinePicture& each = timeline_->at(id);
        if (each.settled && each.pts >= markPts_ && each.pts < until) last = std::max(last, id);
    }
    return encodeAgain(key, last, markPts_, until, &tally_.head);
}

// The key frame that a picture decodes from: the last one before it in decoding order that is
// not shown after it (a picture shown before a key frame is decoded from the one before).
std::size_t CopyRun::keyFrameFor(std::size_t id) const {
    const ReferenceTime shown = timeline_->at(id).pts;
    std::size_t key = id;
    while (key > timeline_->firstKept() &&
           !(timeline_->at(key).key && timeline_->at(key).pts <= shown))
        --key;
    return key;
}

bool CopyRun::encodeAgain(std::size_t key, std::size_t last, ReferenceTime from,
                          ReferenceTime until, std::size_t* count) {
    if (format_->encoder.empty())
        return fail("The " + format_->name + " pictures between key frames cannot be encoded "
                    "again: no " + format_->name + " encoder is installed.");
    SmartCutRequest cut;
    cut.caps.reset(gst_caps_ref(source_.video().caps.get()));
    cut.encoder = format_->encoder;
    cut.h264Profile = syntax_->H264Profile();
    cut.withBPictures = timeline_->reordered();
    cut.rate = {rate_.numerator, rate_.denominator};
    cut.from = from;
    cut.until = until;
    std::vector<BufferPtr> buffers;
    const ReferenceTime keyTime = timeline_->at(key).pts;
    ReferenceTime latest = keyTime;
    for (std::size_t id = key; id <= last; ++id)
        if (timeline_->at(id).settled) latest = std::max(latest, timeline_->at(id).pts);
    std::int64_t wanted = 0;
    std::int64_t unsettled = 0;
    for (std::size_t id = key; id <= last; ++id) {
        const TimelinePicture& each = timeline_->at(id);
        // A picture not yet shown in order is one the pictures before it in display order
        // refer to: it shows after all of them.
        const ReferenceTime shown = each.settled ? each.pts : latest + outputTime(++unsettled);
        if (shown < keyTime) continue;  // leading pictures of the key frame
        if (shown >= from && shown < until) ++wanted;
        Bytes data = each.data;
        if (id == key && !each.facts.carriesSetUp)
            data.insert(data.begin(), syntax_->SetUp().begin(), syntax_->SetUp().end());
        buffers.emplace_back(gst_buffer_new_memdup(data.data(), data.size()));
        cut.packets.push_back({buffers.back().get(), shown, each.key});
    }
    std::atomic<std::int64_t> encoded{0};
    const std::int64_t base = tally_.written;
    cut.pictureEncoded = [this, &encoded, base] { job_.position_ = outputTime(base + ++encoded); };
    cut.cancelled = [this] { return job_.cancelled_.load(); };
    std::vector<EncodedPicture> pictures;
    std::string problem;
    if (!EncodeAgain(cut, &pictures, &problem)) return fail(problem);
    if (static_cast<std::int64_t>(pictures.size()) != wanted)
        return fail("Encoding again gave " + std::to_string(pictures.size()) + " pictures where " +
                    std::to_string(wanted) + " were due.");
    for (const EncodedPicture& picture : pictures)
        if (!writePicture(picture.data, picture.key, kNoTime)) return false;
    *count += pictures.size();
    return true;
}

// Copies the pictures from the key frame on in decoding order, each run of them once it is a
// clean cut: exactly the next pictures in display order, so that nothing written waits for a
// picture that is not.
bool CopyRun::copyReady(bool ended) {
    while (!endReached_ && nextCopy_ < timeline_->next() && timeline_->at(nextCopy_).settled) {
        const TimelinePicture& picture = timeline_->at(nextCopy_);
        if (picture.pts < copyKeyPts_) {  // shown before the key frame: in the head
            ++nextCopy_;
            continue;
        }
        if (picture.pts >= endTime_) {
            endReached_ = true;
            break;
        }
        // Frame numbers are counted again in decoding order, as the pictures come.
        std::optional<Bytes> data = nextCopy_ == *copyKey_
                                        ? restart_.key()
                                        : restart_.Renumbered(picture.data, picture.facts.orderRestarts);
        if (!data)
            return fail("The " + format_->name + " picture at " +
                        FormatClockMilliseconds(picture.pts) + " cannot follow the key frame the "
                        "copy starts at. Choose a video compressor instead.");
        pendingData_.push_back(std::move(*data));
        pending_.push_back(nextCopy_++);
        pendingTopRank_ = std::max(pendingTopRank_, picture.displayIndex - copyKeyIndex_);
        if (pendingTopRank_ != copied_ + static_cast<std::int64_t>(pending_.size()) - 1) continue;
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            TimelinePicture& each = timeline_->at(pending_[i]);
            Bytes& data = pendingData_[i].empty() ? each.data : pendingData_[i];
            if (pending_[i] == *copyKey_ && !each.facts.carriesSetUp) {
                const Bytes setUp = restart_.SetUp(syntax_->SetUp());
                data.insert(data.begin(), setUp.begin(), setUp.end());
            }
            if (!writePicture(data, each.key, each.pts)) return false;
        }
        copied_ += static_cast<std::int64_t>(pending_.size());
        pending_.clear();
        pendingData_.clear();
        // Only the group of pictures being copied is kept, for a tail that may need it.
        std::size_t groupKey = nextCopy_ - 1;
        while (groupKey > timeline_->firstKept() && !timeline_->at(groupKey).key) --groupKey;
        forget(groupKey);
    }
    if (!endReached_ && !ended) return true;
    phase_ = Phase::Ended;
    return encodeTail();
}

// The pictures before the end that could not be copied: their references lie past the end.
bool CopyRun::encodeTail() {
    std::optional<std::size_t> first;
    std::size_t last = 0;
    ReferenceTime from = endTime_;
    for (std::size_t id = timeline_->firstKept(); id < timeline_->next(); ++id) {
        const TimelinePicture& each = timeline_->at(id);
        const bool written = id < nextCopy_ &&
                             std::find(pending_.begin(), pending_.end(), id) == pending_.end();
        if (!each.settled || written || each.pts < copyKeyPts_ || each.pts >= endTime_) continue;
        if (!first) first = id;
        last = id;
        from = std::min(from, each.pts);
    }
    if (!first) return true;
    if (format_->encoder.empty()) {
        tally_.droppedTail = true;  // the copy ends at the last picture it can end on
        return true;
    }
    return encodeAgain(keyFrameFor(*first), last, from, std::min(endTime_, tally_.lastDue + outputTime(1)),
                       &tally_.tail);
}

bool CopyRun::writePicture(const Bytes& data, bool key, ReferenceTime pts) {
    // A picture the container places later than the next slot: the slots between repeat the
    // picture before, as the source shows it (only where decoding order is display order).
    if (pts != kNoTime && !timeline_->reordered()) {
        const std::int64_t slot = FrameStartingAt(pts - markPts_, rate_);
        while (tally_.written < slot) {
            if (sound_ && !sound_->WriteBefore(outputTime(tally_.written))) return fail(writer_.problem());
            if (!writer_.WriteVideo(nullptr, 0, false)) return fail(writer_.problem());
            ++tally_.written;
            ++tally_.repeats;
        }
    }
    if (!takeEncodedSound(false)) return false;
    if (sound_ && !sound_->WriteBefore(outputTime(tally_.written))) return fail(writer_.problem());
    if (!writer_.WriteVideo(data.data(), data.size(), key)) return fail(writer_.problem());
    ++tally_.written;
    job_.position_ = outputTime(tally_.written);
    return true;
}

bool CopyRun::readSpan() {
    ReferenceTime target = markTime_;
    for (int attempt = 0; attempt < kSeekTries; ++attempt) {
        if (!startReading(target)) return false;
        SourcePacket packet;
        bool more = true;
        while (!stopping() && phase_ != Phase::Ended && !soughtTooLate_ &&
               (more = source_.Next(&packet))) {
            ++job_.packetsRead_;
            if (!takePacket(packet)) return false;
        }
        if (!source_.problem().empty()) return fail(source_.problem());
        if (soughtTooLate_) {
            // The container's index is coarse: start earlier, further each time.
            const ReferenceTime back = std::max<ReferenceTime>(
                2 * kReferenceTimePerSecond, 2 * (markTime_ - target) + kReferenceTimePerSecond);
            target = std::max(origin_, target - back);
            continue;
        }
        if (!more && !stopping()) {
            // The file ended: every picture held shows now.
            if (!settledAll(timeline_->Finish())) return false;
            if (phase_ == Phase::Locating && mark_) {
                if (!markFinal_) fixMark(*mark_);
                if (!startCopying(true)) return false;
            } else if (phase_ == Phase::Copying && !copyReady(true)) {
                return false;
            }
        }
        if (!mark_ && !stopping())
            return fail("The span from " + FormatClockMilliseconds(request_.start) +
                        " lies past the end of " + request_.sourcePath + ".");
        // The sound that belongs to the pictures written may still come.
        const ReferenceTime picturesEnd = outputTime(tally_.written);
        if (encodedSound_) return takeEncodedSound(true);
        while (sound_ && !job_.cancelled_ && !sound_->Covers(picturesEnd) && source_.Next(&packet))
            if (!packet.video && !takePacket(packet)) return false;
        return true;
    }
    return fail(request_.sourcePath + ": the key frame before " +
                FormatClockMilliseconds(request_.start) + " could not be found.");
}

// Encoded sound starts a second before the mark (the frame nearest to the first picture is
// taken from it): its first frame gives the file's sound header.
bool CopyRun::startEncodedSound(std::optional<AviAudioStream>* audio) {
    encodedSound_ = std::make_unique<EncodedSound>();
    std::string problem;
    if (!encodedSound_->Start(request_.sourcePath, *request_.encodedSound,
                              markTime_ - kReferenceTimePerSecond, request_.elementAdded,
                              request_.elementAddedData, &problem))
        return fail(problem);
    ReferenceTime start = -1;
    Bytes first;
    if (!encodedSound_->Next(true, &start, &first)) {
        if (!encodedSound_->problem().empty()) return fail(encodedSound_->problem());
        encodedSound_.reset();  // no sound from the mark on
        return true;
    }
    std::optional<CopiedSound> sound =
        CopiedSoundOf(encodedSound_->caps(), first.data(), first.size());
    if (!sound) return fail("The encoded sound cannot be written into an AVI file.");
    *audio = sound->avi;
    sound_ = std::make_unique<CopiedSoundTrack>(std::move(*sound), writer_);
    sound_->Add(start, std::move(first));
    return true;
}

// Hands the encoded sound that is ready to the sound track; at the end, all of it up to the
// pictures' end.
bool CopyRun::takeEncodedSound(bool untilCovered) {
    if (!encodedSound_) return true;
    ReferenceTime start = -1;
    Bytes frame;
    const ReferenceTime picturesEnd = outputTime(tally_.written);
    while (!job_.cancelled_ && !(untilCovered && sound_->Covers(picturesEnd)) &&
           encodedSound_->Next(untilCovered, &start, &frame))
        sound_->Add(start, std::move(frame));
    if (!encodedSound_->problem().empty()) return fail(encodedSound_->problem());
    return true;
}

bool CopyRun::finishFile() {
    if (sound_ && !sound_->Finish(outputTime(tally_.written))) return fail(writer_.problem());
    std::string problem;
    if (!writer_.Finish(&problem)) return fail(problem);
    return true;
}

// The copy from the source's opening to the file's check; false when it failed.
bool CopyRun::writeCopy() {
    source_.SetInterrupt(&job_.cancelled_);
    if (!source_.Open(request_.sourcePath)) return fail(source_.problem());
    std::string refusal;
    format_ = CopiedFormatOf(source_, &refusal);
    if (!format_) return fail(refusal);
    syntax_ = std::make_unique<PictureSyntax>(format_->codec);
    syntax_->TakeCodecData(source_.video().codecData.data(), source_.video().codecData.size());
    if (!readOpening()) return false;
    markTime_ = origin_ + request_.start;
    endTime_ = origin_ + request_.stop;
    tally_.rate = rate_;
    std::optional<AviAudioStream> audio;
    if (request_.encodedSound && soundPresent_) {
        if (!startEncodedSound(&audio)) return false;
    } else if (request_.withSound) {
        // The sound is never left out unsaid.
        std::optional<CopiedSound> sound = CopiedSoundOf(opening_);
        if (!sound)
            return fail(opening_.firstSound.empty()
                            ? "The sound of " + request_.sourcePath +
                                  " cannot be found where its pictures begin."
                            : SoundRefusal(opening_));
        audio = sound->avi;
        sound_ = std::make_unique<CopiedSoundTrack>(std::move(*sound), writer_);
    }
    std::string problem;
    if (!writer_.Open(request_.outputPath, AviVideoStreamOf(*format_, rate_, syntax_->SetUp()),
                      audio, &problem))
        return fail(problem);
    if (!readSpan() || job_.cancelled_) return false;
    // Silence in place of a sound the source has is not a copy of it.
    if (sound_ && !encodedSound_ && !source_.audio().present)
        return fail("The sound of " + request_.sourcePath +
                    " could not be found with its pictures. Try again, or choose an audio "
                    "compressor instead.");
    if (!finishFile()) return false;
    tally_.stopped = job_.stopRequested_;
    tally_.firstShown = markPts_;
    if (sound_ && !sound_->lackedSilence())
        tally_.soundFrame = sound_->sound().samplesPerFrame
                                ? static_cast<double>(sound_->sound().samplesPerFrame) /
                                      sound_->sound().sampleRate
                                : 0.0;
    if (const std::string wrong = CheckCopiedFile(request_.outputPath, tally_); !wrong.empty())
        return fail(wrong);
    return true;
}

StreamCopyOutcome CopyRun::run() {
    if (!writeCopy()) return outcome_;
    outcome_.written = true;
    outcome_.stopped = job_.stopRequested_;
    outcome_.video.width = format_->width;
    outcome_.video.height = format_->height;
    outcome_.video.frameRate = {rate_.numerator, rate_.denominator};
    outcome_.length = outputTime(tally_.written);
    outcome_.summary =
        CopySummary(tally_, format_->name, sound_ && !encodedSound_ ? sound_->sound().name : "");
    return outcome_;
}

StreamCopyJob::StreamCopyJob(StreamCopyRequest request,
                             std::function<void(const StreamCopyOutcome&)> finished)
    : request_(std::move(request)), finished_(std::move(finished)) {}

StreamCopyJob::~StreamCopyJob() {
    cancelled_ = true;
    if (thread_.joinable()) thread_.join();
}

void StreamCopyJob::Start() {
    thread_ = std::thread([this] {
        StreamCopyOutcome outcome;
        {
            CopyRun run(*this);
            outcome = run.run();
        }
        if (finished_) finished_(outcome);
    });
}

std::optional<ReferenceTime> StreamCopyJob::Position() const {
    const ReferenceTime position = position_;
    if (position < 0) return std::nullopt;
    return position;
}

}  // namespace media
