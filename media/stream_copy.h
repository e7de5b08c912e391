#pragma once

// Direct stream copy: the source's own compressed pictures and sound written into the AVI file
// as they are, without decoding them. What a copy of a span will write is worked out before
// anything is written, so that a front end can refuse it with the reason, or say where it
// really starts.
//
// A cut that does not fall on a key frame stays frame-exact where the pictures from the mark to
// the next key frame can be encoded again in the source's own format (H.264, with an H.264
// encoder installed); the rest of the span is copied. Other formats start at the key frame
// before the mark. Formats made of key frames only (Motion JPEG, DV) are always exact.

#include <string>

#include "media/reference_time.h"
#include "media/render_session.h"

namespace media {

// Where the written pictures begin.
enum class CopyStart {
    AtMark,               // the marked picture is the first, copied
    ReencodedToKeyFrame,  // from the mark to the next key frame the pictures are encoded again
    AtKeyFrameBefore,     // the copy begins at the key frame before the mark
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
    // In the source's time from its first picture: the start mark, and where the output really
    // begins (the marked picture's start, or the key frame's) and ends.
    ReferenceTime markedStart = 0;
    ReferenceTime start = 0;
    ReferenceTime stop = 0;

    // For the pipeline: the span in the file's own times, and how to seek it.
    ReferenceTime fileOrigin = 0;  // where the first picture stands in the file
    ReferenceTime seekStart = 0;
    ReferenceTime seekStop = 0;
    bool seekToKeyFrame = false;  // start at the key frame before seekStart
    bool reencodeHead = false;    // encode the pictures before the first key frame again
    std::string videoCaps;        // the copied streams' formats as the multiplexer takes them
    std::string audioCaps;

    bool ok() const { return refusal.empty(); }
};

// Whether a plan writes a stream as it is.
bool UsesStreamCopy(const RenderPlan& plan);

// Reads the source's streams and the key frame before the start mark. Blocks for a moment
// (a fraction of a second on a local file): call it off the UI thread. Needs a started media
// framework.
StreamCopyInspection InspectStreamCopy(const RenderPlan& plan);

// What was copied, for the "Done." line: "H.264 video and MP3 sound copied".
std::string CopiedStreamsText(const StreamCopyInspection& inspection);

}  // namespace media
