#pragma once

// Direct stream copy: the source's own compressed pictures and sound written into the AVI file
// as they are, without decoding them. What a copy of a span will write is worked out before
// anything is written, so that a front end can refuse it with the reason, or say where it
// really starts.
//
// A cut that does not fall on a key frame stays frame-exact: the pictures from the mark to the
// next key frame are encoded again in the source's own format (H.264, MPEG-4 Part 2, MPEG-1 or
// MPEG-2, with its encoder installed), the rest of the span is copied (stream_copy_job). Where
// no such encoder is installed the copy starts at the key frame before the mark. Formats made
// of key frames only (Motion JPEG, DV) are always exact.

#include <string>

#include "media/core/reference_time.h"
#include "media/render/render_plan.h"
#include "media/source/media_probe.h"

namespace media {

// Where the written pictures begin.
enum class CopyStart {
    AtMark,            // the marked picture is the first (encoded again up to a key frame)
    AtKeyFrameBefore,  // the copy begins at the key frame before the mark: no encoder
};

struct StreamCopyInspection {
    // Why the copy cannot be written (a stream the AVI cannot carry, a size, a rate, a resize
    // or a span it cannot honour), in one sentence for the user; empty when it can.
    std::string refusal;
    RenderStep refusedStep = RenderStep::None;

    bool copiesVideo = false;
    bool copiesAudio = false;
    bool sourceHasAudio = false;
    std::string videoFormat;  // the copied picture format in words ("H.264"); empty if encoded
    std::string audioFormat;  // the copied sound format ("MP3"); empty if encoded or none

    CopyStart startKind = CopyStart::AtMark;
    // The pictures' real rate, from their times; the rate the file is written at.
    Fraction frameRate;
    // In the source's time from its first picture: the start mark, and where the output really
    // begins (the marked picture's start, or the key frame's) and ends.
    ReferenceTime markedStart = 0;
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    bool toTheEnd = false;  // the span ends with the source's last picture

    // For the pipeline: the span in the file's own times, and how to seek it.
    ReferenceTime fileOrigin = 0;  // where the first picture stands in the file
    ReferenceTime seekStart = 0;
    ReferenceTime seekStop = 0;
    bool seekToKeyFrame = false;  // start at the key frame before seekStart
    std::string audioCaps;        // the copied sound's format as the multiplexer takes it

    bool ok() const { return refusal.empty(); }
};

// Reads the source's streams and its first pictures (for their real rate). Blocks for a
// moment (a fraction of a second on a local file): call it off the UI thread. Needs a started
// media framework.
StreamCopyInspection InspectStreamCopy(const RenderPlan& plan);

// What a copy needs to know of its source, read from its packets without decoding them (much
// quicker than ProbeMediaFile, which decodes): picture size, the pictures' real rate, the
// length the container states, the sound's format. A failure (a file whose streams cannot be
// read as they are) leaves the full probe to find out more.
ProbeResult ProbeForStreamCopy(const std::string& path);

// What was copied, for the "Done." line: "H.264 video and MP3 sound copied".
std::string CopiedStreamsText(const StreamCopyInspection& inspection);

}  // namespace media
