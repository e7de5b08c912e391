#pragma once

// Renders a timeline model into an AVI file with the GStreamer Editing Services: a GES
// timeline with one track per group, a GESPipeline in render mode and an encoding profile for
// avimux, through the chosen encoders or as raw BGR video and S16LE PCM audio.
//
// The session (render_session.cpp) sets up and runs; the GES timeline is built in
// ges_timeline_build, the file's streams and their profiles come from avi_stream_format, every
// element the pipeline makes is seen to in render_elements (encoders' settings and timestamps,
// timestamp_restorer), the file's life from reservation to commit is render_output's, and a
// direct stream copy's pipeline is set up by stream_copy_render.
//
// Threads. GES insists that a timeline is built, changed and destroyed on one thread, and its
// asset discovery blocks, so every session runs its own worker thread for set-up, the stop
// request and tear-down. Bus messages are taken by a sync handler on the streaming threads,
// which copies them into the session's event queue and calls the notifier. Set-up results come
// back as queued calls to this object, which lives on the thread that made it. Nothing here
// ever blocks that thread for longer than a state query.

#include <QObject>

class QTimer;

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "media/encoder_properties.h"
#include "media/graph_event_codes.h"
#include "media/reference_time.h"
#include "media/source_choices.h"
#include "media/status.h"
#include "media/timeline_model.h"

namespace media {

struct RenderSessionState;
class RenderWorker;

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
    bool streamCopy = false;  // the source's stream is written as it is (no encoder)
};

struct RenderPlan {
    TimelineModel timeline;
    // Local file, UTF-8. It is written as a hidden file beside it and moved into place once
    // finished, so an existing file is replaced only by a finished one; a folder, a device or a
    // named pipe is refused.
    std::string outputPath;
    StreamRoute video;       // the first group's route
    StreamRoute audio;       // every later group's route
    SourceChoices source;    // sound track, subtitles and deinterlacing of the first source
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

// Whether the plan is rendered through the editing services, which must then be started (on
// the thread that starts everything, before the render). A single span of a single file, or a
// direct stream copy, goes without them. May measure the source (cached): off the UI thread
// when the source is new.
bool NeedsEditingServices(const RenderPlan& plan);

// The largest picture side that the AVI multiplexer takes for uncompressed video, as its
// input template says (the MPEG-4, H.263 and Motion JPEG formats share it); 0 when the media
// framework cannot tell (not started, or no multiplexer installed).
int LargestAviFrameSide();

// Conversion pipelines of this process that have been made and not yet finalised. A pipeline
// goes some time after its session releases it (its teardown runs on the session's worker);
// one that never goes is a leak of everything it held.
int LiveRenderPipelines();

// A running conversion whose position has not moved for this long is given up: whatever the
// input does, a conversion ends.
inline constexpr int kStallLimitSeconds = 20;

class RenderSession : public QObject {
    Q_OBJECT

public:
    explicit RenderSession(QObject* parent = nullptr);
    // Tears the pipeline down (without draining: the file may be left unfinished) and waits
    // for the worker to end.
    ~RenderSession() override;

    // Starts building and running the pipeline on the worker. done is called on this object's
    // thread with the outcome: on success the pipeline is running. Call once.
    void Start(RenderPlan plan, std::function<void(const RenderSetupResult&)> done);

    // Called whenever an event is queued, on the thread that queued it (a streaming thread);
    // it must only post. Set an empty function before whatever it posts to goes away. If
    // events are waiting already, it is called at once.
    void SetNotifier(std::function<void()> notifier);
    // Takes the oldest waiting event without waiting; false when there is none.
    bool GetEvent(RenderEvent* event);

    // Ends the render early with a finished file: end-of-stream goes into the encoders, and the
    // completion event follows once the multiplexer has written its index. When that has not
    // happened within the bound, an EC_ERRORABORT event says so instead.
    void Drain(std::chrono::milliseconds bound);
    // True once the completion or an error event was queued: nothing more will be written, and
    // a completed file has been moved into place.
    bool Ended() const;

    // Stops the pipeline and releases it on the worker; returns at once.
    void Release();

    // How far the render has come, in timeline time; nullopt before it runs. Once the file is
    // finished, where it ended.
    std::optional<ReferenceTime> Position() const;
    // The finished file's picture size and rate; nullopt before the completion event, or when
    // the file has no video stream.
    std::optional<media::WrittenVideo> WrittenVideo() const;

    // The factories of the encoders the pipeline created, for checks and reports.
    std::vector<std::string> EncoderFactories() const;

private:
    void watchForStall();

    std::shared_ptr<RenderSessionState> state_;
    std::unique_ptr<RenderWorker> worker_;
    bool started_ = false;
    QTimer* stallTimer_ = nullptr;
    std::optional<ReferenceTime> lastPosition_;
    std::int64_t lastPacketsRead_ = 0;  // by a direct stream copy
    int stalledSeconds_ = 0;
};

}  // namespace media
