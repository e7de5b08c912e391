#pragma once

// What a conversion is asked to do and what it answers: the plan (the timeline model, the
// output file, the route of each group's stream), the set-up step that failed, and what the
// file's video got. Plain C++: the engine, the command line and every way of converting (the
// editing services, the plain graph, the direct stream copy) share these words.

#include <optional>
#include <string>

#include "media/core/graph_event_codes.h"
#include "media/core/reference_time.h"
#include "media/core/status.h"
#include "media/encoders/encoder_properties.h"
#include "media/render/timeline_model.h"
#include "media/source/source_choices.h"

namespace media {

// EC_COMPLETE once the file is finished, or EC_ERRORABORT with the text saying which error.
struct RenderEvent {
    long code = 0;
    std::string text;  // for EC_ERRORABORT, the media framework's words
};

struct EncoderChoice {
    std::string factoryName;
    EncoderProperties properties;  // applied when the encoder element is created
};

// What a group's stream goes through on its way to the multiplexer.
struct StreamRoute {
    bool compressionOn = false;
    std::optional<EncoderChoice> encoder;  // must be set when compressionOn is true
    bool streamCopy = false;               // the source's stream is written as it is (no encoder)
};

struct RenderPlan {
    TimelineModel timeline;
    // Local file, UTF-8. It is written as a hidden file beside it and moved into place once
    // finished, so an existing file is replaced only by a finished one; a folder, a device or a
    // named pipe is refused.
    std::string outputPath;
    StreamRoute video;     // the first group's route
    StreamRoute audio;     // every later group's route
    SourceChoices source;  // sound track, subtitles and deinterlacing of the first source
};

// The set-up step that failed, so that the caller can name it.
enum class RenderStep {
    None,
    SetTimelineObject,   // the GES timeline could not be made from the model
    ConnectFrontEnd,     // a source could not be opened or placed
    GetGroupCount,       // the timeline has no group
    SetOutputFileName,   // the output file name cannot be used, or names no regular file
    AddVideoCompressor,  // compression is on but no encoder is bound
    AddAudioCompressor,
    RenderVideoStream,  // the encoder or the multiplexer refused the stream (its size or rate)
    RenderAudioStream,
    Run,  // the output could not be created (e.g. the folder is not writable) or would not run
};

struct RenderSetupResult {
    HRESULT status = S_OK;
    RenderStep failedStep = RenderStep::None;
    std::string errorText;       // the reason, naming the file, folder or limit; empty when none
    ReferenceTime duration = 0;  // the rendered length, as GES placed the clips
};

// Nearest fraction for a frame rate; 23.976 and 29.97 are the NTSC rates 24000/1001 and
// 30000/1001. {0, 1} for a rate outside kLowestOutputFrameRate to kHighestOutputFrameRate.
struct Fraction {
    int numerator = 0;
    int denominator = 1;
    bool operator==(const Fraction&) const = default;
};
Fraction FrameRateFraction(double framesPerSecond);
// "25", "29.97", "12.5": a rate as people write it.
std::string FormatFrameRate(Fraction rate);

// What the file's video stream really got, read from the multiplexer's input once the file
// is finished.
struct WrittenVideo {
    int width = 0;
    int height = 0;
    Fraction frameRate;
    // A direct stream copy: what it wrote as it is and what it encoded again, in words.
    std::string copied;
};

// Whether an installed element factory is an encoder of that kind whose output the AVI
// multiplexer takes, judged from its description alone (no trial encoding, so it is quick).
bool EncoderFeedsAvi(const std::string& factoryName, bool video);

// The largest picture side that the AVI multiplexer takes for uncompressed video, as its
// input template says (the MPEG-4, H.263 and Motion JPEG formats share it); 0 when the media
// framework cannot tell (not started, or no multiplexer installed).
int LargestAviFrameSide();

// Conversion pipelines of this process that have been made and not yet finalised. A pipeline
// goes some time after its session releases it (its teardown runs on the session's worker);
// one that never goes is a leak of everything it held.
int LiveRenderPipelines();

// Whether a plan writes a stream as it is.
bool UsesStreamCopy(const RenderPlan& plan);

}  // namespace media
