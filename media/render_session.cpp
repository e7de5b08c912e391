// GLib's headers come before Qt's: GIO names a struct member "signals", which Qt defines as a
// keyword.
#include <ges/ges.h>
#include <gst/gst.h>

#include "media/avi_stream_format.h"
#include "media/direct_render.h"
#include "media/ges_timeline_build.h"
#include "media/gst_handles.h"
#include "media/media_framework.h"
#include "media/prepared_source.h"
#include "media/render_elements.h"
#include "media/render_output.h"
#include "media/render_session.h"
#include "media/render_session_state.h"
#include "media/source_timing.h"
#include "media/stream_copy.h"
#include "media/stream_copy_render.h"

#include <QMetaObject>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace media {

bool NeedsEditingServices(const RenderPlan& plan) {
    return !UsesStreamCopy(plan) && !UsesDirectRender(plan);
}

class RenderWorker {
public:
    RenderWorker() : thread_([this] { run(); }) {}
    ~RenderWorker() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    RenderWorker(const RenderWorker&) = delete;
    RenderWorker& operator=(const RenderWorker&) = delete;

    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
    }

private:
    void run() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
                if (tasks_.empty()) return;  // told to quit, and nothing is left to do
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool quit_ = false;
    std::thread thread_;  // last, so that it starts after the rest exists
};

namespace {

// Where each kind of source stream must reach: the first source's span of each group. Holes
// are named up to the same place.
void expectSourceEnds(RenderSessionState& state, const TimelineModel& model) {
    ReferenceTime tolerance = 0;
    for (const TimelineGroup& group : model.groups) {
        if (!group.isVideo()) continue;
        const Fraction rate = FrameRateFraction(group.outputFrameRate);
        if (rate.numerator > 0) tolerance = FrameStart(1, {rate.numerator, rate.denominator});
        break;
    }
    for (const TimelineGroup& group : model.groups) {
        if (group.tracks.empty() || group.tracks.front().sources.empty()) continue;
        const TimelineSource& source = group.tracks.front().sources.front();
        const SourceTiming timing = MeasureSourceTiming(source.mediaName);
        state.sourceEnds->Expect(group.isVideo(), source.mediaStop, timing, tolerance);
        if (group.isVideo()) state.streamHoles->Expect(timing, source.mediaStop);
    }
}

// The adopted pipeline renders the timeline through the container's streams into the file at
// outputUri; released again when it cannot. The pipeline takes a reference of its own to the
// timeline, so the timeline dies with the pipeline, on this thread.
RenderSetupResult renderInto(RenderSessionState& state, GESPipeline* pipeline,
                             GESTimeline* timeline, const char* outputUri,
                             GstEncodingContainerProfile* container, bool firstIsVideo) {
    auto setupError = [&state](const char* fallback) {
        std::lock_guard lock(state.mutex);
        return state.firstSetupError.empty() ? std::string(fallback) : state.firstSetupError;
    };
    if (!ges_pipeline_set_timeline(pipeline, timeline)) {
        ReleasePipeline(state);
        return SetupFailure(RenderStep::SetTimelineObject, E_FAIL,
                            setupError("The pipeline refused the timeline."));
    }
    if (!ges_pipeline_set_render_settings(pipeline, outputUri, GST_ENCODING_PROFILE(container))) {
        ReleasePipeline(state);
        return SetupFailure(RenderStep::SetOutputFileName, E_FAIL,
                            setupError("The AVI multiplexer and file writer could not be set up."));
    }
    if (!ges_pipeline_set_mode(pipeline, GES_PIPELINE_MODE_RENDER)) {
        ReleasePipeline(state);
        return SetupFailure(
            firstIsVideo ? RenderStep::RenderVideoStream : RenderStep::RenderAudioStream,
            VFW_E_CANNOT_RENDER,
            setupError("The streams could not be connected to the multiplexer."));
    }
    return {};
}

// Builds the pipeline and runs it. Runs on the worker.
RenderSetupResult setUp(RenderSessionState& state, const RenderPlan& plan) {
    if (UsesStreamCopy(plan)) return SetUpStreamCopy(state, plan);
    if (UsesDirectRender(plan)) {
        expectSourceEnds(state, plan.timeline);
        return SetUpDirectRender(state, plan);
    }
    // Started by whoever started the render, on a thread where it is safe.
    if (!EditingServicesStarted())
        return SetupFailure(RenderStep::SetTimelineObject, E_FAIL,
                            "The editing services were not started.");
    GstPtr<GESTimeline> timeline(GES_TIMELINE(gst_object_ref_sink(ges_timeline_new())));
    if (!timeline)
        return SetupFailure(RenderStep::SetTimelineObject, E_FAIL,
                            "The timeline could not be made.");
    PreparedSource prepared;
    if (const RenderSetupResult ready = PrepareSource(plan, &prepared); FAILED(ready.status))
        return ready;
    RenderSetupResult built =
        BuildGesTimeline(plan.timeline, timeline.get(), plan.audio, prepared);
    if (FAILED(built.status)) return built;
    expectSourceEnds(state, plan.timeline);

    const std::vector<TimelineGroup>& groups = plan.timeline.groups;
    if (groups.empty())
        return SetupFailure(RenderStep::GetGroupCount, E_INVALIDARG, "The timeline has no group.");

    if (const RenderSetupResult usable = CheckOutputName(plan.outputPath); FAILED(usable.status))
        return usable;

    // The AVI multiplexer, with the first group routed as video and the others as audio.
    const ContainerProfilePtr containerOwner = NewAviContainerProfile();
    GstEncodingContainerProfile* container = containerOwner.get();
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const RenderSetupResult added =
            AddAviStreamProfile(container, groups[g], g == 0 ? plan.video : plan.audio, g == 0);
        if (FAILED(added.status)) return added;
    }

    if (const RenderSetupResult reserved = ReserveOutput(state, plan.outputPath);
        FAILED(reserved.status))
        return reserved;
    const GCharPtr outputUri(gst_filename_to_uri(state.output.temporaryPath().c_str(), nullptr));
    if (!outputUri) {
        state.output.Abandon();
        return SetupFailure(RenderStep::SetOutputFileName, E_INVALIDARG,
                            "The output file name is not valid.");
    }

    GESPipeline* pipeline = GES_PIPELINE(gst_object_ref_sink(ges_pipeline_new()));
    AdoptPipeline(state, GstPtr<GstElement>(GST_ELEMENT(pipeline)));
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(OnDeepElementAdded), &state);

    if (const RenderSetupResult rendering = renderInto(
            state, pipeline, timeline.get(), outputUri.get(), container, groups.front().isVideo());
        FAILED(rendering.status))
        return rendering;
    if (prepared.subtitles.cues &&
        !InsertSubtitleOverlay(GST_ELEMENT(pipeline), timeline.get(), prepared.subtitles)) {
        ReleasePipeline(state);
        return SetupFailure(RenderStep::RenderVideoStream, VFW_E_CANNOT_RENDER,
                            "The subtitles could not be drawn: an element is missing (textoverlay "
                            "or dvdspu).");
    }

    {
        std::lock_guard lock(state.mutex);
        if (state.encodebin)
            state.spanGuard = SpanGuard::Attach(
                state.encodebin.get(),
                static_cast<GstClockTime>(ReferenceTimeToNanoseconds(built.duration)));
        state.settingUp = false;
    }
    if (gst_element_set_state(GST_ELEMENT(pipeline), GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE)
        return NotStarted(state, "The conversion could not be started.");
    return built;
}

}  // namespace

RenderSession::RenderSession(QObject* parent)
    : QObject(parent),
      state_(std::make_shared<RenderSessionState>()),
      worker_(std::make_unique<RenderWorker>()) {
    state_->postToWorker = [worker = worker_.get()](std::function<void()> task) {
        worker->post(std::move(task));
    };
}

RenderSession::~RenderSession() {
    SetNotifier(nullptr);
    Release();
    {
        std::lock_guard lock(state_->mutex);
        state_->postToWorker = nullptr;
    }
    worker_.reset();  // runs what is queued, a file's finishing and the release included
}

void RenderSession::Start(RenderPlan plan, std::function<void(const RenderSetupResult&)> done) {
    if (started_) return;
    started_ = true;
    {
        std::lock_guard lock(state_->mutex);
        if (plan.video.encoder) {
            state_->videoFactory = plan.video.encoder->factoryName;
            state_->videoProperties = plan.video.encoder->properties;
        }
        if (plan.audio.encoder) {
            state_->audioFactory = plan.audio.encoder->factoryName;
            state_->audioProperties = plan.audio.encoder->properties;
        }
    }
    worker_->post([this, state = state_, plan = std::move(plan), done = std::move(done)] {
        const RenderSetupResult result = setUp(*state, plan);
        // Dropped by Qt if this object is gone by the time it would run.
        QMetaObject::invokeMethod(
            this,
            [this, done, result] {
                if (SUCCEEDED(result.status)) watchForStall();
                done(result);
            },
            Qt::QueuedConnection);
    });
}

// Checks once a second that the render moves on. A reader stuck in a loop on a file it cannot
// read (gst-libav's GIF reader used to wait for ever at the end of the file) would otherwise
// hold the conversion open until the user kills it.
void RenderSession::watchForStall() {
    stallTimer_ = new QTimer(this);
    connect(stallTimer_, &QTimer::timeout, this, [this] {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->ended || state_->draining) {
                stallTimer_->stop();
                return;
            }
        }
        const std::optional<ReferenceTime> now = Position();
        const std::int64_t packetsRead = StreamCopyPacketsRead(*state_);
        if (now != lastPosition_ || packetsRead != lastPacketsRead_) {
            lastPosition_ = now;
            lastPacketsRead_ = packetsRead;
            stalledSeconds_ = 0;
            return;
        }
        if (++stalledSeconds_ < kStallLimitSeconds) return;
        stallTimer_->stop();
        state_->queueEvent({EC_ERRORABORT, "The conversion made no progress for " +
                                               std::to_string(kStallLimitSeconds) + " seconds at " +
                                               FormatClockMilliseconds(now.value_or(0)) +
                                               ": the source cannot be read on from there."});
    });
    stallTimer_->start(1000);
}

void RenderSession::SetNotifier(std::function<void()> notifier) {
    std::lock_guard lock(state_->mutex);
    state_->notifier = std::move(notifier);
    if (state_->notifier && !state_->events.empty()) state_->notifier();
}

bool RenderSession::GetEvent(RenderEvent* event) {
    std::lock_guard lock(state_->mutex);
    if (state_->events.empty()) return false;
    if (event) *event = std::move(state_->events.front());
    state_->events.pop_front();
    return true;
}

void RenderSession::Drain(std::chrono::milliseconds bound) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->ended || state_->finishing || state_->draining || state_->settingUp) return;
        state_->draining = true;
    }
    // Most of the bound may go to waiting for the streams' formats (below); the rest is for
    // the multiplexer to write its index.
    const std::chrono::milliseconds negotiationWait = bound * 4 / 5;
    // A copy finishes its file itself once told to stop.
    if (!StopStreamCopy(*state_))
    worker_->post([state = state_, negotiationWait] {
        GstPtr<GstElement> encodebinOwner;
        {
            std::lock_guard lock(state->mutex);
            if (state->encodebin)
                encodebinOwner.reset(GST_ELEMENT(gst_object_ref(state->encodebin.get())));
        }
        GstElement* encodebin = encodebinOwner.get();
        if (!encodebin) return;
        // A Stop pressed the moment the graph runs comes before the first picture has reached
        // the multiplexer: wait for it, so that the file it finishes has a format. A graph that
        // never gets that far is not ended at all; the bound then reports the stop as failed,
        // rather than a finished file that no player opens.
        const auto waitUntil = std::chrono::steady_clock::now() + negotiationWait;
        bool negotiated = MultiplexerNegotiated(encodebin);
        while (!negotiated && std::chrono::steady_clock::now() < waitUntil) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            negotiated = MultiplexerNegotiated(encodebin);
        }
        if (!negotiated) return;
        // End-of-stream into the encoders' inputs: they flush, the multiplexer writes its
        // index, and the pipeline reports its end. (Sent to the pipeline, it would not stop a
        // render.) The pictures end first; the sound follows up to their end.
        std::shared_ptr<SpanGuard> guard;
        {
            std::lock_guard lock(state->mutex);
            guard = state->spanGuard;
        }
        if (guard) {
            guard->EndPicturesNow();
        } else {
            const IteratorPtr pads(gst_element_iterate_sink_pads(encodebin));
            GValue item = G_VALUE_INIT;
            while (gst_iterator_next(pads.get(), &item) == GST_ITERATOR_OK) {
                gst_pad_send_event(GST_PAD(g_value_get_object(&item)), gst_event_new_eos());
                g_value_reset(&item);
            }
            g_value_unset(&item);
        }
    });
    QTimer::singleShot(bound, this, [state = state_] {
        bool finished = false;
        {
            // A file being finished is past the stop's part: its completion follows.
            std::lock_guard lock(state->mutex);
            finished = state->ended || state->finishing;
        }
        if (!finished)
            state->queueEvent({EC_ERRORABORT,
                               "The conversion did not stop in time; the output file may be "
                               "incomplete."});
    });
}

bool RenderSession::Ended() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended;
}

void RenderSession::Release() {
    if (!worker_) return;
    worker_->post([state = state_] { ReleasePipeline(*state); });
}

std::optional<ReferenceTime> RenderSession::Position() const {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->settingUp) return std::nullopt;
        if (state_->finalPosition) return state_->finalPosition;
    }
    if (const std::optional<ReferenceTime> copied = StreamCopyPosition(*state_)) return copied;
    std::lock_guard lock(state_->pipelineMutex);
    gint64 position = 0;
    if (!state_->pipeline ||
        !gst_element_query_position(state_->pipeline.get(), GST_FORMAT_TIME, &position) ||
        position < 0)
        return std::nullopt;
    return NanosecondsToReferenceTime(position);
}

std::optional<WrittenVideo> RenderSession::WrittenVideo() const {
    std::lock_guard lock(state_->mutex);
    return state_->writtenVideo;
}

std::vector<std::string> RenderSession::EncoderFactories() const {
    std::lock_guard lock(state_->mutex);
    return state_->encoderFactories;
}

}  // namespace media
