// GLib's headers come before Qt's: GIO names a struct member "signals", which Qt defines as a
// keyword.
#include <gst/gst.h>

#include "media/session/render_session.h"
#include "media/copy/stream_copy_render.h"
#include "media/core/gst_handles.h"
#include "media/render/direct_render.h"
#include "media/render/ges_render.h"
#include "media/render/render_elements.h"
#include "media/render/render_output.h"
#include "media/render/render_session_state.h"

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

// Builds the pipeline and runs it. Runs on the worker.
RenderSetupResult setUp(RenderSessionState& state, const RenderPlan& plan) {
    if (UsesStreamCopy(plan)) return SetUpStreamCopy(state, plan);
    if (UsesDirectRender(plan)) {
        ExpectSourceEnds(state, plan.timeline);
        return SetUpDirectRender(state, plan);
    }
    return SetUpGesRender(state, plan);
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
