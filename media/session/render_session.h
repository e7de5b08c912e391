#pragma once

// Renders a plan (render_plan.h) into an AVI file, choosing the way: a direct stream copy
// (stream_copy_render), one plain pipeline for a single span of a single file (direct_render),
// or else the GStreamer Editing Services: a GES timeline with one track per group
// (ges_timeline_build), a GESPipeline in render mode and an encoding profile for avimux, through
// the chosen encoders or as raw BGR video and S16LE PCM audio. Whichever runs, the file's
// streams and their profiles come from avi_stream_format, every element the pipeline makes is
// seen to in render_elements, and the file's life from reservation to commit is
// render_output's.
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

#include "media/core/reference_time.h"
#include "media/render/render_plan.h"

namespace media {

struct RenderSessionState;
class RenderWorker;

// Whether the plan is rendered through the editing services, which must then be started (on
// the thread that starts everything, before the render). A single span of a single file, or a
// direct stream copy, goes without them. May measure the source (cached): off the UI thread
// when the source is new.
bool NeedsEditingServices(const RenderPlan& plan);

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
