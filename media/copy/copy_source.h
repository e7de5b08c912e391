#pragma once

// A source file read as packets, without decoding: the first picture stream and the first
// sound stream, each through its parser, so that every packet is one picture (an H.264 access
// unit, in byte-stream form) or one sound frame, with the container's times turned into the
// stream's own time. The direct stream copy plans and writes from these. Not for use outside
// media/.

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/core/gst_handles.h"
#include "media/core/reference_time.h"
#include "media/render/render_plan.h"

namespace media {

struct CopySourceStream {
    bool present = false;
    CapsPtr caps;        // as the packets are handed out (H.264 in byte-stream form)
    CapsPtr foundCaps;   // as the file gave it, before the parser's changes
    std::string codec;   // in words ("H.264 (High Profile)")
    std::vector<std::uint8_t> codecData;  // the set-up the container holds
    int width = 0;
    int height = 0;
    Fraction rateTag;  // what the container or stream says; {0, 1} when it says nothing
    Fraction pixelAspect{1, 1};
    int rotation = 0;  // degrees clockwise the stored pictures are turned to be shown
    int sampleRate = 0;
    int channels = 0;
};

struct SourcePacket {
    bool video = false;
    BufferPtr buffer;
    // In the stream's own time (its first picture need not be at 0, a sound frame may start
    // before it); kNoTime when not given.
    ReferenceTime pts = kNoTime;
    ReferenceTime dts = kNoTime;
    ReferenceTime duration = -1;
    bool containerKey = false;
};

// A buffer's bytes, copied.
std::vector<std::uint8_t> BufferBytes(GstBuffer* buffer);

class CopySource {
public:
    CopySource();
    ~CopySource();
    CopySource(const CopySource&) = delete;
    CopySource& operator=(const CopySource&) = delete;

    // Finds the file's streams and their formats. False with problem() set when the file
    // cannot be read as packets. Blocks up to a few seconds.
    bool Open(const std::string& path);
    const CopySourceStream& video() const { return streams_[0]; }
    const CopySourceStream& audio() const { return streams_[1]; }
    // An AVI file: its picture times are the slots of decoding order, not display times.
    bool avi() const { return avi_; }
    // The container's length in stream time; -1 when it does not say.
    ReferenceTime Duration() const;
    // Whether that length is reckoned rather than recorded: a program or transport stream has
    // no index, and its demultiplexer counts from its first timestamp, not from the stream's
    // zero; a bare picture stream's parser guesses from its bit rate.
    bool LengthIsEstimate() const;
    // A picture stream without a container: its parser counts its times from its start.
    bool bare() const;

    // Reading starts at the key frame at or before the time (stream time) the container knows
    // of, or at the start. Every reading starts with a seek: opening may have read on past the
    // start.
    bool Seek(ReferenceTime streamTime);
    // The next packet of either stream as the file holds them. False at the end, or on a
    // failure with problem() set.
    bool Next(SourcePacket* packet);
    const std::string& problem() const { return problem_; }
    const std::string& path() const { return path_; }
    // While *flag is set, Next returns false at once: a copy being stopped or given up.
    void SetInterrupt(const std::atomic<bool>* flag) { interrupt_ = flag; }

    struct Shared;

private:
    bool start();
    bool readFromStart();
    bool waitForState(GstState state);
    std::string readFailure();

    std::string path_;
    std::string problem_;
    bool avi_ = false;
    bool running_ = false;
    PipelinePtr pipeline_;
    std::shared_ptr<Shared> shared_;
    CopySourceStream streams_[2];
    GstElement* sinks_[2] = {nullptr, nullptr};  // held by the pipeline
    ReferenceTime lastTime_[2] = {kNoTime, kNoTime};
    const std::atomic<bool>* interrupt_ = nullptr;
    CapsPtr sampleCaps_[2];       // as the last packet came
    int lengthSize_[2] = {0, 0};  // H.264 in MP4 form: the unit length's size
};

}  // namespace media
