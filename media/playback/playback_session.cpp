#include "media/playback/playback_session.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>

#include "media/core/failure_words.h"
#include "media/core/gst_handles.h"
#include "media/core/local_file.h"
#include "media/core/repaired_file_source.h"
#include "media/playback/frame_cache.h"
#include "media/playback/sound_device.h"
#include "media/source/decoding_repairs.h"

namespace media {
namespace {

constexpr GstClockTime kSeekSettleTimeout = 2 * GST_SECOND;
// How long a step waits for the cache when it is decoding toward the wanted picture: always
// sooner than a decode started anew from the key frame.
constexpr std::chrono::milliseconds kCacheWait{5000};

// A decoded buffer mapped for reading; unmapped and released with the last copy of its frame.
struct MappedSample {
    SamplePtr sample;
    GstVideoFrame frame{};
    ~MappedSample() { gst_video_frame_unmap(&frame); }
};

// Takes ownership of the sample. Runs on a streaming thread.
VideoFrame FrameFromSample(GstSample* taken) {
    VideoFrame result;
    SamplePtr sample(taken);
    if (!sample) return result;
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) return result;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return result;
    auto mapped = std::make_shared<MappedSample>();
    mapped->frame = frame;
    const GstSegment* segment = gst_sample_get_segment(sample.get());
    mapped->sample = std::move(sample);
    result.width = GST_VIDEO_FRAME_WIDTH(&mapped->frame);
    result.height = GST_VIDEO_FRAME_HEIGHT(&mapped->frame);
    result.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped->frame, 0);
    result.pixels = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped->frame, 0));
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    result.timestamp = GST_CLOCK_TIME_IS_VALID(pts)
                           ? NanosecondsToReferenceTime(static_cast<std::int64_t>(pts))
                           : -1;
    // Positions in the file, which the sink's segment maps the buffer's times to.
    auto streamTimeOf = [segment](GstClockTime time) -> ReferenceTime {
        if (!GST_CLOCK_TIME_IS_VALID(time) || !segment || segment->format != GST_FORMAT_TIME)
            return -1;
        guint64 streamTime = 0;
        const gint sign =
            gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, time, &streamTime);
        if (sign == 0) return -1;
        return sign > 0 ? NanosecondsToReferenceTime(static_cast<std::int64_t>(streamTime)) : 0;
    };
    result.streamStart = streamTimeOf(pts);
    const GstClockTime duration = GST_BUFFER_DURATION(buffer);
    if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(duration))
        result.streamEnd = streamTimeOf(pts + duration);
    result.keeper = std::move(mapped);
    return result;
}

}  // namespace

struct PlaybackSession::Pipeline {
    GstPtr<GstElement> owner;         // the player element
    GstElement* playbin = nullptr;    // owner's
    GstElement* videoSink = nullptr;  // owned by playbin once set

    ~Pipeline() {
        if (!playbin) return;
        // Joins the streaming threads: after this no callback of ours runs any more.
        gst_element_set_state(playbin, GST_STATE_NULL);
        const GstPtr<GstBus> bus(gst_element_get_bus(playbin));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    }
};

struct PlaybackSession::Callbacks {
    // Runs on a streaming thread.
    static GstFlowReturn newPreroll(GstAppSink* sink, gpointer data) {
        static_cast<PlaybackSession*>(data)->onSample(
            FrameFromSample(gst_app_sink_pull_preroll(sink)));
        return GST_FLOW_OK;
    }
    // Runs on a streaming thread.
    static GstFlowReturn newSample(GstAppSink* sink, gpointer data) {
        static_cast<PlaybackSession*>(data)->onSample(
            FrameFromSample(gst_app_sink_pull_sample(sink)));
        return GST_FLOW_OK;
    }
    // Runs on whichever thread posted the message. Every message is dropped here: nothing
    // reads this bus otherwise, and there is no main loop to dispatch a watch.
    static GstBusSyncReply busMessage(GstBus*, GstMessage* message, gpointer data) {
        // Dropping the message is the handler's unref.
        const MessagePtr dropped(message);
        auto* session = static_cast<PlaybackSession*>(data);
        switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_EOS:
                session->onMessage(EC_COMPLETE, S_OK, {});
                break;
            case GST_MESSAGE_STEP_DONE: {
                // The player element steps the sound after the pictures by the time they
                // moved, which keeps the two together; only the pictures' step counts here.
                GstFormat format = GST_FORMAT_UNDEFINED;
                gboolean reachedEnd = FALSE;
                gst_message_parse_step_done(message, &format, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, &reachedEnd);
                if (format == GST_FORMAT_BUFFERS) session->onStepDone(reachedEnd);
                break;
            }
            case GST_MESSAGE_ERROR: {
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                const HRESULT status = error && error->domain == GST_CORE_ERROR &&
                                               error->code == GST_CORE_ERROR_MISSING_PLUGIN
                                           ? VFW_E_NO_CODEC
                                           : VFW_E_CANNOT_RENDER;
                g_clear_error(&error);
                session->onMessage(EC_ERRORABORT, status, FailureInWords(message));
                break;
            }
            default:
                break;
        }
        return GST_BUS_DROP;
    }
};

PlaybackSession::PlaybackSession() = default;

PlaybackSession::~PlaybackSession() {
    close();
}

void PlaybackSession::close() {
    cache_.reset();
    cachedPosition_.reset();
    pipeline_.reset();
    hasVideo_ = false;
    videoFormat_ = {};
    timing_ = {};
}

HRESULT PlaybackSession::Create() {
    close();
    auto pipeline = std::make_unique<Pipeline>();
    pipeline->owner.reset(gst_element_factory_make("playbin", nullptr));
    if (pipeline->owner) gst_object_ref_sink(pipeline->owner.get());
    pipeline->playbin = pipeline->owner.get();
    // Sunk at once, so that the early return drops it; playbin takes its own reference.
    const GstPtr<GstElement> sinkOwner(gst_element_factory_make("appsink", nullptr));
    if (sinkOwner) gst_object_ref_sink(sinkOwner.get());
    GstElement* videoSink = sinkOwner.get();
    if (!pipeline->playbin || !videoSink) {
        pipeline->playbin = nullptr;
        SetLastError(E_FAIL, "The media framework has no player element (playbin or appsink).");
        return E_FAIL;
    }

    // Two pictures at most wait for the window; a late one is dropped, never queued up.
    const CapsPtr caps(
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGBx", nullptr));
    g_object_set(videoSink, "caps", caps.get(), "max-buffers", 2u, "drop", TRUE, "sync", TRUE,
                 "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = &Callbacks::newPreroll;
    callbacks.new_sample = &Callbacks::newSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(videoSink), &callbacks, this, nullptr);
    g_object_set(pipeline->playbin, "video-sink", videoSink, nullptr);
    pipeline->videoSink = videoSink;
    // A picture that its file says is turned is shown upright.
    if (GstElement* flip = gst_element_factory_make("videoflip", nullptr)) {
        gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
        g_object_set(pipeline->playbin, "video-filter", flip, nullptr);
    }
    RepairDecodingInside(pipeline->playbin);

    // Without a sound device the sound goes to a clock-synchronised fake sink, so the pictures
    // still play at the right pace.
    GstElement* audioSink =
        DesktopHasSoundDevice() ? gst_element_factory_make("autoaudiosink", nullptr) : nullptr;
    if (audioSink)
        g_object_set(pipeline->playbin, "audio-sink", audioSink, nullptr);
    else if (GstElement* fake = gst_element_factory_make("fakesink", nullptr)) {
        g_object_set(fake, "sync", TRUE, nullptr);
        g_object_set(pipeline->playbin, "audio-sink", fake, nullptr);
    }

    const GstPtr<GstBus> bus(gst_element_get_bus(pipeline->playbin));
    gst_bus_set_sync_handler(bus.get(), &Callbacks::busMessage, this, nullptr);
    pipeline_ = std::move(pipeline);
    return S_OK;
}

HRESULT PlaybackSession::RenderFile(const std::string& path, std::chrono::milliseconds timeout) {
    if (!pipeline_) return E_POINTER;
    // A pipe would hold the state change below, on the caller's thread, for ever.
    if (const HRESULT hr = CheckLocalMediaFile(path); FAILED(hr)) return hr;
    const std::string uri = MediaUriOf(path);
    if (uri.empty()) {
        SetLastError(E_INVALIDARG, "Invalid file name.");
        return E_INVALIDARG;
    }
    g_object_set(pipeline_->playbin, "uri", uri.c_str(), nullptr);
    {
        std::lock_guard lock(eventMutex_);
        events_.clear();
    }

    GstStateChangeReturn change = gst_element_set_state(pipeline_->playbin, GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_ASYNC) {
        change = gst_element_get_state(pipeline_->playbin, nullptr, nullptr,
                                       static_cast<GstClockTime>(timeout.count()) * GST_MSECOND);
    }
    HRESULT failure = S_OK;
    if (change == GST_STATE_CHANGE_FAILURE) {
        failure = VFW_E_CANNOT_RENDER;
        std::lock_guard lock(eventMutex_);
        for (const GraphEvent& event : events_)
            if (event.code == EC_ERRORABORT) failure = event.param1;
    } else if (change == GST_STATE_CHANGE_ASYNC) {
        failure = VFW_E_TIMEOUT;
        SetLastError(failure, "The file could not be cued in time.");
    }
    if (FAILED(failure)) {
        if (LastErrorCode() != failure) SetLastError(failure, "The file cannot be decoded.");
        const std::string text = LastErrorText();
        close();
        SetLastError(failure, text);
        return failure;
    }
    // Open Video measured the file already; anyone else waits for the measurement here.
    const std::optional<SourceTiming> known = KnownSourceTiming(path);
    timing_ = known ? *known : MeasureSourceTiming(path, timeout);
    readStreams();
    if (hasVideo_) {
        cache_ = std::make_unique<FrameCache>();
        cache_->Open(path, videoFormat_.width, videoFormat_.height);
    }
    return S_OK;
}

void PlaybackSession::readStreams() {
    gint videos = 0;
    g_object_get(pipeline_->playbin, "n-video", &videos, nullptr);
    hasVideo_ = videos > 0;
    videoFormat_ = {};
    if (!hasVideo_) return;

    // The decoder's own caps carry the native size; the sink's could be scaled.
    GstPad* videoPad = nullptr;
    g_signal_emit_by_name(pipeline_->playbin, "get-video-pad", 0, &videoPad);
    const GstPtr<GstPad> pad(videoPad);
    CapsPtr caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
    if (!caps) {
        if (const GstPtr<GstPad> sinkPad{gst_element_get_static_pad(pipeline_->videoSink, "sink")})
            caps.reset(gst_pad_get_current_caps(sinkPad.get()));
    }
    if (!caps) return;
    GstVideoInfo info;
    if (gst_video_info_from_caps(&info, caps.get())) {
        videoFormat_.width = GST_VIDEO_INFO_WIDTH(&info);
        videoFormat_.height = GST_VIDEO_INFO_HEIGHT(&info);
        if (timing_.rotation == 90 || timing_.rotation == 270)
            std::swap(videoFormat_.width, videoFormat_.height);
        // The source's rate as the probe settled it: a stream that states none still steps
        // and marks by frames.
        FrameRate rate{GST_VIDEO_INFO_FPS_N(&info), std::max(GST_VIDEO_INFO_FPS_D(&info), 1)};
        if (timing_.measured) rate = timing_.frameRate;
        videoFormat_.frameRateNumerator = rate.numerator;
        videoFormat_.frameRateDenominator = rate.denominator;
    }
}

HRESULT PlaybackSession::GetVideoFormat(VideoFormat& format) const {
    if (!pipeline_ || !hasVideo_) return E_NOINTERFACE;
    if (videoFormat_.width <= 0 || videoFormat_.height <= 0) return E_FAIL;
    format = videoFormat_;
    return S_OK;
}

HRESULT PlaybackSession::Run() {
    if (!pipeline_) return E_POINTER;
    if (FAILED(cueCachedPosition())) return E_FAIL;
    return gst_element_set_state(pipeline_->playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE
               ? E_FAIL
               : S_OK;
}

HRESULT PlaybackSession::Pause() {
    if (!pipeline_) return E_POINTER;
    const GstStateChangeReturn change = gst_element_set_state(pipeline_->playbin, GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) return E_FAIL;
    // A running graph pauses on the next picture; until it is cued the picture on show is
    // still the one that played before it, and a mark or a frame step would start from there.
    if (change == GST_STATE_CHANGE_ASYNC)
        gst_element_get_state(pipeline_->playbin, nullptr, nullptr, kSeekSettleTimeout);
    return S_OK;
}

HRESULT PlaybackSession::Stop() {
    // Going down to READY would throw away the decoders and make the next cue slow; a paused
    // graph holds its place just as well.
    return Pause();
}

HRESULT PlaybackSession::SetRate(double rate) {
    if (!pipeline_) return E_POINTER;
    return rate == 1.0 ? S_OK : E_NOTIMPL;
}

HRESULT PlaybackSession::SetPosition(ReferenceTime position) {
    if (!pipeline_) return E_POINTER;
    if (position < 0) position = 0;
    if (showCached(position)) return S_OK;
    cachedPosition_.reset();
    const gboolean done = gst_element_seek_simple(
        pipeline_->playbin, GST_FORMAT_TIME,
        static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
        ReferenceTimeToNanoseconds(timing_.ToMedia(position)));
    if (!done) {
        SetLastError(E_FAIL, "The position could not be changed.");
        return E_FAIL;
    }
    // Until the picture at the new place is decoded, position queries still answer with the
    // old place; waiting here keeps the next position read honest. A short wait: the decoder
    // only runs from the nearest key frame.
    gst_element_get_state(pipeline_->playbin, nullptr, nullptr, kSeekSettleTimeout);
    anticipate();
    return S_OK;
}

bool PlaybackSession::showCached(ReferenceTime position) {
    if (!cache_) return false;
    GstState state = GST_STATE_VOID_PENDING;
    if (gst_element_get_state(pipeline_->playbin, &state, nullptr, 0) != GST_STATE_CHANGE_SUCCESS ||
        state != GST_STATE_PAUSED)
        return false;
    // The cache keeps the file's own stream times.
    VideoFrame frame = cache_->Find(timing_.ToMedia(position), kCacheWait);
    if (frame.isNull()) return false;
    onSample(std::move(frame));
    cachedPosition_ = position;
    anticipate();
    return true;
}

HRESULT PlaybackSession::cueCachedPosition() {
    if (!cachedPosition_) return S_OK;
    const ReferenceTime position = *cachedPosition_;
    cachedPosition_.reset();
    // The graph itself goes there: the cache stays out of this one move.
    std::unique_ptr<FrameCache> cache = std::move(cache_);
    const HRESULT hr = SetPosition(position);
    cache_ = std::move(cache);
    return hr;
}

void PlaybackSession::anticipate() {
    if (!cache_) return;
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline_->playbin, &state, nullptr, 0);
    if (state != GST_STATE_PAUSED) return;
    ReferenceTime start = -1;
    ReferenceTime end = -1;
    {
        std::lock_guard lock(frameMutex_);
        start = latestFrame_.streamStart;
        end = latestFrame_.streamEnd;
    }
    cache_->Anticipate(start, end);
}

HRESULT PlaybackSession::StepForward(std::uint32_t pictures, std::chrono::milliseconds timeout) {
    if (!pipeline_) return E_POINTER;
    if (!hasVideo_) return E_NOINTERFACE;
    if (pictures == 0) return S_OK;
    // A pause just asked for may still be waiting for its picture; the step starts from it.
    GstState state = GST_STATE_VOID_PENDING;
    if (gst_element_get_state(pipeline_->playbin, &state, nullptr, kSeekSettleTimeout) ==
            GST_STATE_CHANGE_FAILURE ||
        state != GST_STATE_PAUSED)
        return E_UNEXPECTED;
    // On from a picture of the cache: from the cache too while it has the pictures; otherwise
    // the graph goes to the picture on show first.
    ReferenceTime shownStart = 0;
    ReferenceTime shownEnd = 0;
    if (cachedPosition_ && SUCCEEDED(GetPictureSpan(shownStart, shownEnd)) &&
        shownEnd > shownStart) {
        const ReferenceTime length = shownEnd - shownStart;
        if (showCached(shownStart + length * static_cast<ReferenceTime>(pictures) + length / 2))
            return S_OK;
    }
    // No picture follows the last one. The measured end says so at once; the graph's answer,
    // the end of the step at the end of the stream, has been seen not to come at all when the
    // machine is busy.
    if (timing_.measured && timing_.videoEnd >= 0 && SUCCEEDED(GetPictureSpan(shownStart, shownEnd)) &&
        shownEnd > shownStart && timing_.Length() - shownEnd < (shownEnd - shownStart) / 2)
        return S_FALSE;
    if (FAILED(cueCachedPosition())) return E_FAIL;

    std::unique_lock lock(frameMutex_);
    const std::uint64_t taken = framesTaken_;
    stepEnded_ = false;
    stepReachedEnd_ = false;
    lock.unlock();
    // Pictures counted in buffers go to the video sink only; flushing drops the picture on
    // show and the ones stepped over, and cues the next.
    if (!gst_element_send_event(pipeline_->playbin, gst_event_new_step(GST_FORMAT_BUFFERS, pictures,
                                                                       1.0, TRUE, FALSE))) {
        SetLastError(E_FAIL, "The picture could not be stepped.");
        return E_FAIL;
    }
    lock.lock();
    // The step ends before the next picture is cued; the picture is what counts, unless the
    // step ran into the end of the pictures.
    const bool done = frameArrived_.wait_for(
        lock, timeout, [&] { return framesTaken_ != taken || (stepEnded_ && stepReachedEnd_); });
    if (!done) {
        SetLastError(VFW_E_TIMEOUT, "The next picture did not come in time.");
        return VFW_E_TIMEOUT;
    }
    const bool moved = framesTaken_ != taken;
    lock.unlock();
    if (moved) anticipate();
    return moved ? S_OK : S_FALSE;
}

void PlaybackSession::onStepDone(bool reachedEnd) {
    {
        std::lock_guard lock(frameMutex_);
        stepEnded_ = true;
        stepReachedEnd_ = reachedEnd;
    }
    frameArrived_.notify_all();
}

HRESULT PlaybackSession::GetCurrentPosition(ReferenceTime& position) const {
    if (!pipeline_) return E_POINTER;
    // The graph stands elsewhere while a picture of the cache is on show.
    if (cachedPosition_) {
        position = *cachedPosition_;
        return S_OK;
    }
    gint64 ns = 0;
    if (!gst_element_query_position(pipeline_->playbin, GST_FORMAT_TIME, &ns) || ns < 0)
        return E_FAIL;
    position = timing_.ToUser(NanosecondsToReferenceTime(ns));
    return S_OK;
}

HRESULT PlaybackSession::GetStopPosition(ReferenceTime& position) const {
    if (!pipeline_) return E_POINTER;
    // The measured length: what a container says of its duration may be an estimate or its
    // end rather than its length.
    if (timing_.measured && timing_.Length() > 0) {
        position = timing_.Length();
        return S_OK;
    }
    gint64 ns = 0;
    if (!gst_element_query_duration(pipeline_->playbin, GST_FORMAT_TIME, &ns) || ns < 0)
        return E_FAIL;
    position = timing_.ToUser(NanosecondsToReferenceTime(ns));
    return S_OK;
}

HRESULT PlaybackSession::GetPictureSpan(ReferenceTime& start, ReferenceTime& end) const {
    if (!pipeline_ || !hasVideo_) return E_FAIL;
    std::lock_guard lock(frameMutex_);
    if (latestFrame_.isNull() || latestFrame_.streamStart < 0) return E_FAIL;
    start = timing_.ToUser(latestFrame_.streamStart);
    end = latestFrame_.streamEnd > latestFrame_.streamStart ? timing_.ToUser(latestFrame_.streamEnd)
                                                            : -1;
    return S_OK;
}

void PlaybackSession::SetEventListener(std::function<void()> listener) {
    std::lock_guard lock(eventMutex_);
    eventListener_ = std::move(listener);
}

bool PlaybackSession::GetEvent(GraphEvent& event) {
    std::lock_guard lock(eventMutex_);
    if (events_.empty()) return false;
    event = events_.front();
    events_.pop_front();
    return true;
}

void PlaybackSession::onMessage(long code, HRESULT status, const std::string& text) {
    if (FAILED(status)) SetLastError(status, text);
    std::lock_guard lock(eventMutex_);
    events_.push_back({code, status});
    if (eventListener_) eventListener_();
}

void PlaybackSession::SetFrameListener(std::function<void()> listener) {
    std::lock_guard lock(frameMutex_);
    frameListener_ = std::move(listener);
    framePending_ = false;
}

VideoFrame PlaybackSession::TakeFrame() {
    std::lock_guard lock(frameMutex_);
    framePending_ = false;
    return latestFrame_;
}

void PlaybackSession::onSample(VideoFrame frame) {
    if (frame.isNull()) return;
    VideoFrame previous;  // released outside the lock
    std::lock_guard lock(frameMutex_);
    previous = std::move(latestFrame_);
    latestFrame_ = std::move(frame);
    ++framesTaken_;
    frameArrived_.notify_all();
    if (!framePending_ && frameListener_) {
        framePending_ = true;
        frameListener_();
    }
}

}  // namespace media
