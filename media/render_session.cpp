// GLib's headers come before Qt's: GIO names a struct member "signals", which Qt defines as a
// keyword.
#include <ges/ges.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include <gst/audio/audio.h>

#include "media/decoding_repairs.h"
#include "media/failure_words.h"
#include "media/gst_handles.h"
#include "media/media_framework.h"
#include "media/output_file.h"
#include "media/render_session.h"
#include "media/stream_copy.h"
#include "media/stream_copy_pipeline.h"
#include "media/repaired_file_source.h"
#include "media/source_ends.h"
#include "media/source_timing.h"
#include "media/span_guard.h"
#include "media/video_limits.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace media {
namespace {

// GStreamer counts in nanoseconds, the timeline in 100 ns units.
GstClockTime toClockTime(ReferenceTime t) {
    return static_cast<GstClockTime>(ReferenceTimeToNanoseconds(t));
}

// Drops a reference to an encoding profile. GStreamer 1.22's profiles do not chain up to
// GObject's finalize, so the notify queue that GObject allocates while it disposes one is never
// freed (a few dozen bytes each time). Kept out of line: the sanitizer build's leak list names
// this function, which does nothing else.
[[gnu::noinline]] void DropEncodingProfile(GstEncodingProfile* profile) {
    if (profile) g_object_unref(profile);
    // Not a tail call, so that this function stays on the stack the leak list matches.
    __asm__ __volatile__("" ::: "memory");
}
struct EncodingProfileUnref {
    void operator()(GstEncodingContainerProfile* profile) const {
        DropEncodingProfile(GST_ENCODING_PROFILE(profile));
    }
};

std::string errorTextOf(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text =
        error ? FailureInWords(error, debug, GST_MESSAGE_SRC(message)) : "The conversion failed.";
    // For files the system's own reason ("No space left on device", "File too large") says more
    // than the element's words; it ends the last line of the details.
    if (error && error->domain == GST_RESOURCE_ERROR && debug) {
        std::string last = debug;
        while (!last.empty() && last.back() == '\n') last.pop_back();
        if (const auto line = last.rfind('\n'); line != std::string::npos) last.erase(0, line + 1);
        if (const auto colon = last.rfind(": "); colon != std::string::npos) {
            const std::string reason = last.substr(colon + 2);
            // Details without a reason end with the element's path, which tells a user nothing.
            const bool elementPath = !reason.empty() && reason.front() == '/';
            if (!reason.empty() && !elementPath && text.find(reason) == std::string::npos)
                text += " (" + reason + ")";
        }
    }
    // The file writer's own words ("No space left on the resource.") do not say which file.
    GstObject* source = GST_MESSAGE_SRC(message);
    GParamSpec* locationSpec =
        source ? g_object_class_find_property(G_OBJECT_GET_CLASS(source), "location") : nullptr;
    if (error && error->domain == GST_RESOURCE_ERROR && locationSpec &&
        locationSpec->value_type == G_TYPE_STRING) {
        gchar* location = nullptr;
        g_object_get(source, "location", &location, nullptr);
        if (location && text.find(location) == std::string::npos)
            text = std::string(location) + ": " + text;
        g_free(location);
    }
    g_clear_error(&error);
    g_free(debug);
    return text;
}

bool klassHas(GstElementFactory* factory, const char* word) {
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass && std::strstr(klass, word) != nullptr;
}

// libav's "no time" (the lowest 64-bit number) read as a clock time, or no time at all.
bool bogusTimestamp(GstClockTime t) {
    return !GST_CLOCK_TIME_IS_VALID(t) || t > static_cast<GstClockTime>(G_MAXINT64);
}

// Some libav video encoders (avenc_mpeg4 in gst-libav 1.22 among them) stamp their output
// with libav's "no time". The multiplexer then cannot interleave, writes all audio before the
// video, and position queries fail. Every frame that goes in comes out, in order when the
// encoder makes no B-frames, so each output buffer gets the running time of the input frame
// it came from, placed in the encoder's output segment (which the encoder shifts by 1000
// hours to leave room for decoding times).
struct TimestampRestorer {
    std::mutex mutex;
    std::deque<GstClockTime> pendingRunningTimes;
    GstSegment input;
    GstSegment output;

    TimestampRestorer() {
        gst_segment_init(&input, GST_FORMAT_TIME);
        gst_segment_init(&output, GST_FORMAT_TIME);
    }
};
using RestorerBox = std::shared_ptr<TimestampRestorer>;

// Runs on the encoder's streaming thread.
GstPadProbeReturn rememberInputTimestamp(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& restorer = **static_cast<RestorerBox*>(data);
    std::lock_guard lock(restorer.mutex);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
        restorer.pendingRunningTimes.push_back(
            GST_CLOCK_TIME_IS_VALID(pts)
                ? gst_segment_to_running_time(&restorer.input, GST_FORMAT_TIME, pts)
                : GST_CLOCK_TIME_NONE);
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format == GST_FORMAT_TIME) gst_segment_copy_into(segment, &restorer.input);
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
        restorer.pendingRunningTimes.clear();
    }
    return GST_PAD_PROBE_OK;
}

// Runs on the encoder's streaming thread.
GstPadProbeReturn restoreOutputTimestamp(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& restorer = **static_cast<RestorerBox*>(data);
    if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            std::lock_guard lock(restorer.mutex);
            if (segment->format == GST_FORMAT_TIME)
                gst_segment_copy_into(segment, &restorer.output);
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_HEADER) && gst_buffer_get_size(buffer) == 0)
        return GST_PAD_PROBE_OK;
    GstClockTime restored = GST_CLOCK_TIME_NONE;
    {
        std::lock_guard lock(restorer.mutex);
        if (restorer.pendingRunningTimes.empty()) return GST_PAD_PROBE_OK;
        const GstClockTime runningTime = restorer.pendingRunningTimes.front();
        restorer.pendingRunningTimes.pop_front();
        if (GST_CLOCK_TIME_IS_VALID(runningTime))
            restored = gst_segment_position_from_running_time(&restorer.output, GST_FORMAT_TIME,
                                                              runningTime);
    }
    if (bogusTimestamp(GST_BUFFER_PTS(buffer)) && GST_CLOCK_TIME_IS_VALID(restored)) {
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_PTS(buffer) = restored;
        GST_BUFFER_DTS(buffer) = restored;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

void installTimestampRestorer(GstElement* encoder) {
    GstPtr<GstPad> sink(gst_element_get_static_pad(encoder, "sink"));
    GstPtr<GstPad> src(gst_element_get_static_pad(encoder, "src"));
    if (!sink || !src) return;
    auto restorer = std::make_shared<TimestampRestorer>();
    auto release = [](gpointer data) { delete static_cast<RestorerBox*>(data); };
    const auto watched = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                      GST_PAD_PROBE_TYPE_EVENT_FLUSH);
    gst_pad_add_probe(sink.get(), watched, rememberInputTimestamp, new RestorerBox(restorer),
                      release);
    gst_pad_add_probe(src.get(), watched, restoreOutputTimestamp, new RestorerBox(restorer),
                      release);
}

struct StreamFormat {
    CapsPtr caps;
    std::string presetName;  // the encoder factory encodebin must use; empty for raw
    std::string errorText;
};

// The format one group's stream takes in the file: raw BGR or PCM without compression,
// otherwise what the chosen encoder makes that the multiplexer accepts.
StreamFormat streamFormat(bool videoGroup, const StreamRoute& route) {
    StreamFormat format;
    if (!route.compressionOn) {
        format.caps.reset(gst_caps_from_string(videoGroup ? "video/x-raw, format=(string)BGR"
                                                          : "audio/x-raw, format=(string)S16LE"));
        return format;
    }
    if (!route.encoder || route.encoder->factoryName.empty()) {
        format.errorText = "No compressor is bound: the chosen compressor is not installed.";
        return format;
    }
    const std::string& name = route.encoder->factoryName;
    GstPtr<GstElementFactory> factory(gst_element_factory_find(name.c_str()));
    if (!factory) {
        format.errorText = "The compressor " + name + " is not installed.";
        return format;
    }
    // Picture encoders (JPEG, PNG) write a frame at a time and serve as video compressors.
    const bool kindMatches = videoGroup ? klassHas(factory.get(), "Video") ||
                                              klassHas(factory.get(), "Image")
                                        : klassHas(factory.get(), "Audio");
    if (!kindMatches || !klassHas(factory.get(), "Encoder")) {
        format.errorText = "The compressor " + name + " cannot take this stream.";
        return format;
    }
    CapsPtr avi = AviSinkCaps(videoGroup);
    CapsPtr encoded(gst_caps_new_empty());
    for (const GList* item = gst_element_factory_get_static_pad_templates(factory.get());
         item && avi; item = item->next) {
        auto* tmpl = static_cast<GstStaticPadTemplate*>(item->data);
        if (tmpl->direction != GST_PAD_SRC) continue;
        CapsPtr own(gst_static_pad_template_get_caps(tmpl));
        CapsPtr both(gst_caps_intersect_full(own.get(), avi.get(), GST_CAPS_INTERSECT_FIRST));
        for (guint i = 0; i < gst_caps_get_size(both.get()); ++i) {
            const GstStructure* s = gst_caps_get_structure(both.get(), i);
            if (!gst_structure_has_name(s, "video/x-raw") &&
                !gst_structure_has_name(s, "audio/x-raw")) {
                // One structure is enough to pick the encoder and the multiplexer's pad. Its
                // size and rate are the template's first choice (H.263 lists 352x288 first),
                // not the output's: left in, they would force that size on every output.
                GstStructure* chosen = gst_structure_copy(s);
                gst_structure_remove_fields(chosen, "width", "height", "framerate",
                                            "pixel-aspect-ratio", nullptr);
                gst_caps_append_structure(encoded.get(), chosen);
                break;
            }
        }
        if (!gst_caps_is_empty(encoded.get())) break;
    }
    if (gst_caps_is_empty(encoded.get())) {
        format.errorText = "The compressor " + name + " cannot write into an AVI file.";
        return format;
    }
    format.caps = std::move(encoded);
    format.presetName = name;
    return format;
}

}  // namespace

namespace {
std::atomic<int> livePipelines{0};

// Runs on whichever thread drops the pipeline's last reference.
void pipelineFinalised(gpointer, GObject*) {
    --livePipelines;
}
}  // namespace

int LiveRenderPipelines() {
    return livePipelines.load();
}

bool EncoderFeedsAvi(const std::string& factoryName, bool video) {
    if (factoryName.empty()) return false;
    StreamRoute route;
    route.compressionOn = true;
    route.encoder = EncoderChoice{factoryName, {}};
    return streamFormat(video, route).caps != nullptr;
}

Fraction FrameRateFraction(double framesPerSecond) {
    if (!(framesPerSecond >= kLowestOutputFrameRate && framesPerSecond <= kHighestOutputFrameRate))
        return {0, 1};
    // The NTSC rates as the settings write them ("23.976", "29.97") and as sources report them.
    if (std::fabs(framesPerSecond - 23.976) < 0.0005) return {24000, 1001};
    if (std::fabs(framesPerSecond - 29.97) < 0.0005) return {30000, 1001};
    gint numerator = 0;
    gint denominator = 1;
    gst_util_double_to_fraction(framesPerSecond, &numerator, &denominator);
    if (numerator <= 0 || denominator <= 0) return {0, 1};
    return {numerator, denominator};
}

std::string FormatFrameRate(Fraction rate) {
    if (rate.denominator <= 0) return "?";
    if (rate.numerator % rate.denominator == 0)
        return std::to_string(rate.numerator / rate.denominator);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f",
                  static_cast<double>(rate.numerator) / rate.denominator);
    std::string text = buffer;
    while (text.back() == '0') text.pop_back();
    return text;
}

// --- State shared by the UI thread, the worker and the streaming threads ---

struct RenderSessionState {
    mutable std::mutex mutex;
    std::deque<RenderEvent> events;
    std::function<void()> notifier;
    bool ended = false;
    bool draining = false;
    // While the pipeline is being set up its errors only explain the failing step.
    bool settingUp = true;
    std::string firstSetupError;
    std::vector<std::string> encoderFactories;
    GstElement* encodebin = nullptr;  // a reference of our own, for the stop
    std::shared_ptr<SpanGuard> spanGuard;  // keeps the sound within the pictures
    // Where the sources' streams ended; filled before the pipeline exists, then only read.
    std::shared_ptr<SourceEnds> sourceEnds = std::make_shared<SourceEnds>();
    std::string videoFactory;
    std::string audioFactory;
    EncoderProperties videoProperties;
    EncoderProperties audioProperties;

    // The end of the file: once the streams have ended, the worker finishes the file and moves
    // it into place before the completion event is queued. postToWorker is empty once the
    // session is going away.
    std::function<void(std::function<void()>)> postToWorker;
    bool finishing = false;
    std::optional<WrittenVideo> writtenVideo;
    std::optional<ReferenceTime> finalPosition;
    // The hidden file being written and the name the user gave, so that messages name the
    // latter.
    std::string temporaryName;
    std::string targetName;

    // The pipeline is the worker's. Queries from other threads hold this second lock, which
    // no streaming thread ever takes, so a query cannot wait on a thread that waits on us.
    std::mutex pipelineMutex;
    GstElement* pipeline = nullptr;

    // The worker's alone: reserved in set-up, committed when the file is finished, abandoned
    // when the pipeline is released without that.
    UnfinishedOutput output;

    // A text that speaks of the hidden file speaks of the target instead.
    std::string withTargetName(std::string text) const {
        std::lock_guard lock(mutex);
        if (temporaryName.empty()) return text;
        for (std::size_t at = text.find(temporaryName); at != std::string::npos;
             at = text.find(temporaryName, at + targetName.size()))
            text.replace(at, temporaryName.size(), targetName);
        return text;
    }

    // Runs on any thread. The notifier is called under the lock, so that once it has been
    // cleared nothing can reach what it posted to.
    void queueEvent(RenderEvent event) {
        std::lock_guard lock(mutex);
        if (settingUp) {
            if (event.code == EC_ERRORABORT && firstSetupError.empty())
                firstSetupError = event.text;
            return;
        }
        ended = true;
        events.push_back(std::move(event));
        if (notifier) notifier();
    }
};

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

void beginFinishing(RenderSessionState& state);

// Runs on a streaming thread (or on the worker while it sets up): copies what the session
// needs and lets the message go, since nobody else reads this bus.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* state = static_cast<RenderSessionState*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            beginFinishing(*state);
            break;
        case GST_MESSAGE_ERROR:
            state->queueEvent({EC_ERRORABORT, state->withTargetName(errorTextOf(message))});
            break;
        default:
            break;
    }
    // Dropping a message is the handler's unref: a message kept alive keeps its source
    // element, and with it the whole pipeline, alive after every conversion.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void applyProperties(GstElement* element, const EncoderProperties& properties) {
    for (const EncoderProperty& property : properties) {
        GParamSpec* spec =
            g_object_class_find_property(G_OBJECT_GET_CLASS(element), property.name.c_str());
        if (!spec || !(spec->flags & G_PARAM_WRITABLE) || (spec->flags & G_PARAM_CONSTRUCT_ONLY))
            continue;
        gst_util_set_object_arg(G_OBJECT(element), property.name.c_str(), property.value.c_str());
    }
}

// Runs on the thread that requests the pad. The mixer fits each picture into the frame with
// GStreamer's cubic resampler by default, which costs about a sixth of a conversion's CPU time;
// linear resampling (filtered to the scale, like ffmpeg's bilinear) looks the same at the bit
// rates an AVI is made for.
void useLinearScaling(GstElement*, GstPad* pad, gpointer) {
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SINK) return;
    if (!g_object_class_find_property(G_OBJECT_GET_CLASS(pad), "converter-config")) return;
    GstStructure* config = gst_structure_new(
        "GstVideoConverter", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD,
        GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR, nullptr);
    g_object_set(pad, "converter-config", config, nullptr);
    gst_structure_free(config);
}

// Runs on the thread that adds the element: the worker while the render is set up.
void onDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
    auto* state = static_cast<RenderSessionState*>(data);
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory) return;
    const std::string name = GST_OBJECT_NAME(factory);
    if (name == "encodebin") {
        std::lock_guard lock(state->mutex);
        if (!state->encodebin) state->encodebin = GST_ELEMENT(gst_object_ref(element));
        return;
    }
    RepairDecodingElement(element);
    state->sourceEnds->Watch(element);
    if (name == "compositor") {
        g_signal_connect(element, "pad-added", G_CALLBACK(useLinearScaling), nullptr);
        return;
    }
    if (!klassHas(factory, "Encoder")) return;
    EncoderProperties properties;
    {
        std::lock_guard lock(state->mutex);
        state->encoderFactories.push_back(name);
        if (name == state->videoFactory)
            properties = state->videoProperties;
        else if (name == state->audioFactory)
            properties = state->audioProperties;
    }
    // libav's encoders run on one thread unless told otherwise; let them use the machine, as
    // the codecs' own command-line tools do. A stored setting still has the last word.
    if (name.rfind("avenc_", 0) == 0) applyProperties(element, {{"threads", "0"}});
    applyProperties(element, properties);
    if (klassHas(factory, "Video")) installTimestampRestorer(element);
}

// Stops and frees a pipeline on the thread that built its timeline.
void destroyPipeline(GstElement* pipeline) {
    if (!pipeline) return;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
    if (bus) gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    gst_object_unref(pipeline);
}

// The multiplexer inside the encoding bin, with a reference of the caller's; null before the
// bin has made it.
GstPtr<GstElement> findMultiplexer(GstElement* encodebin) {
    GstPtr<GstElement> found;
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(encodebin));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && klassHas(factory, "Muxer"))
            found.reset(GST_ELEMENT(gst_object_ref(element)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
    return found;
}

// Whether every input of the multiplexer inside the encoding bin knows its stream's format.
// Until it does, an end-of-stream makes the multiplexer write stream headers without a format,
// a file that no player opens.
bool multiplexerNegotiated(GstElement* encodebin) {
    GstPtr<GstElement> muxer = findMultiplexer(encodebin);
    if (!muxer) return false;
    GST_OBJECT_LOCK(muxer.get());
    bool negotiated = muxer->numsinkpads > 0;
    for (GList* pad = muxer->sinkpads; pad; pad = pad->next)
        negotiated = negotiated && gst_pad_has_current_caps(GST_PAD(pad->data));
    GST_OBJECT_UNLOCK(muxer.get());
    return negotiated;
}

// The picture size and rate that the multiplexer's video input negotiated: what the file's
// stream header holds, whatever was asked for.
std::optional<WrittenVideo> multiplexedVideo(GstElement* encodebin) {
    GstPtr<GstElement> muxer = findMultiplexer(encodebin);
    if (!muxer) return std::nullopt;
    std::optional<WrittenVideo> written;
    GstIterator* pads = gst_element_iterate_sink_pads(muxer.get());
    GValue item = G_VALUE_INIT;
    while (!written && gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
        CapsPtr caps(gst_pad_get_current_caps(GST_PAD(g_value_get_object(&item))));
        const GstStructure* structure = caps ? gst_caps_get_structure(caps.get(), 0) : nullptr;
        WrittenVideo video;
        if (structure && gst_structure_get_int(structure, "width", &video.width) &&
            gst_structure_get_int(structure, "height", &video.height)) {
            gst_structure_get_fraction(structure, "framerate", &video.frameRate.numerator,
                                       &video.frameRate.denominator);
            written = video;
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(pads);
    return written;
}

void releasePipeline(RenderSessionState& state) {
    GstElement* pipeline = nullptr;
    GstElement* encodebin = nullptr;
    {
        std::lock_guard lock(state.pipelineMutex);
        pipeline = std::exchange(state.pipeline, nullptr);
    }
    {
        std::lock_guard lock(state.mutex);
        encodebin = std::exchange(state.encodebin, nullptr);
        state.spanGuard.reset();
    }
    destroyPipeline(pipeline);
    if (encodebin) gst_object_unref(encodebin);
    // A file that was not finished goes; the file it was to replace stays as it was.
    state.output.Abandon();
}

// Every stream has ended and the multiplexer has written its index. Runs on the worker: the
// pipeline stops there (closing the file, which some systems need before a rename) and the
// finished file replaces the target. Only then is the completion queued, so whoever hears of
// it finds the file in place.
void finishOutput(RenderSessionState& state) {
    GstPtr<GstElement> pipeline;
    {
        std::lock_guard lock(state.pipelineMutex);
        if (state.pipeline) pipeline.reset(GST_ELEMENT(gst_object_ref(state.pipeline)));
    }
    if (!pipeline) return;  // released already, and the file abandoned with it
    GstPtr<GstElement> encodebin;
    {
        std::lock_guard lock(state.mutex);
        if (state.encodebin) encodebin.reset(GST_ELEMENT(gst_object_ref(state.encodebin)));
    }
    const std::optional<WrittenVideo> written =
        encodebin ? multiplexedVideo(encodebin.get()) : std::nullopt;
    gint64 position = -1;
    gst_element_query_position(pipeline.get(), GST_FORMAT_TIME, &position);
    // A stop ends the sources early on purpose; a run to the end says where they fell short.
    bool stopped = false;
    {
        std::lock_guard lock(state.mutex);
        stopped = state.draining;
    }
    const std::string shortfall = stopped ? std::string() : state.sourceEnds->ShortfallNote();
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    {
        std::lock_guard lock(state.mutex);
        state.writtenVideo = written;
        if (position >= 0) state.finalPosition = NanosecondsToReferenceTime(position);
    }
    std::string problem;
    if (state.output.Commit(&problem))
        state.queueEvent({EC_COMPLETE, shortfall});
    else
        state.queueEvent({EC_ERRORABORT, problem});
}

// Runs on a streaming thread: the end-of-stream message.
void beginFinishing(RenderSessionState& state) {
    {
        // Posted under the lock: the session clears postToWorker under it before its worker
        // goes.
        std::lock_guard lock(state.mutex);
        if (state.settingUp || state.finishing || state.ended) return;
        if (state.postToWorker) {
            state.finishing = true;
            state.postToWorker([&state] { finishOutput(state); });
            return;
        }
    }
    state.queueEvent({EC_ERRORABORT, "The conversion ended before its file was finished."});
}

RenderSetupResult failure(RenderStep step, HRESULT status, std::string text) {
    RenderSetupResult result;
    result.status = status;
    result.failedStep = step;
    result.errorText = std::move(text);
    return result;
}

std::string describeSpan(const TimelineSource& source) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%.3f s to %.3f s",
                  static_cast<double>(source.mediaStart) / kReferenceTimePerSecond,
                  static_cast<double>(source.mediaStop) / kReferenceTimePerSecond);
    return buffer;
}

using AssetPtr = std::unique_ptr<GESUriClipAsset, GObjectUnref>;

// The audio format the sources bring: the first source with sound decides.
void sourceAudioFormat(const std::map<std::string, AssetPtr>& assets, const TimelineGroup& group,
                       int* rate, int* channels) {
    for (const TimelineTrack& track : group.tracks) {
        for (const TimelineSource& source : track.sources) {
            auto found = assets.find(source.mediaName);
            if (found == assets.end()) continue;
            GstDiscovererInfo* info = ges_uri_clip_asset_get_info(found->second.get());
            if (!info) continue;
            GList* audios = gst_discoverer_info_get_audio_streams(info);
            if (audios) {
                auto* audio = GST_DISCOVERER_AUDIO_INFO(audios->data);
                *rate = static_cast<int>(gst_discoverer_audio_info_get_sample_rate(audio));
                *channels = static_cast<int>(gst_discoverer_audio_info_get_channels(audio));
            }
            gst_discoverer_stream_info_list_free(audios);
            if (*rate > 0 && *channels > 0) return;
        }
    }
}

// Keeps a GES clip's picture filling the whole frame instead of fitting it with bars.
void stretchToFrame(GESClip* clip, int width, int height) {
    GList* children = ges_container_get_children(GES_CONTAINER(clip), FALSE);
    for (GList* item = children; item; item = item->next) {
        if (GES_IS_VIDEO_SOURCE(item->data))
            ges_timeline_element_set_child_properties(GES_TIMELINE_ELEMENT(item->data), "posx", 0,
                                                      "posy", 0, "width", width, "height", height,
                                                      nullptr);
    }
    g_list_free_full(children, g_object_unref);
}

// The clip of a source span on a layer. The span is in the user's time, from the first
// picture; the in-point is in the file's own. A video clip starts a quarter frame into the
// picture that the span starts in. The editing services take, for each output frame, the picture
// whose time is nearest, and an accurate seek turns the picture before the in-point into one
// starting at it: at the frame's start itself, or in its middle, pictures whose times the
// container rounded (to the millisecond, or with a few milliseconds of jitter) lose to a
// neighbour; a quarter frame in, they never do. The sound starts at the span's start itself.
// The length is that of the whole output frames that start inside the span, the same for sound
// and picture. What the container says of its length does not limit the clip: the measured end
// of the pictures does.
GESClip* placeClip(GESLayer* layer, GESUriClipAsset* asset, const TimelineSource& source,
                   GESTrackType type, Fraction outputRate, GError** error) {
    const SourceTiming timing = MeasureSourceTiming(source.mediaName);
    ReferenceTime start = source.mediaStart;
    if (type == GES_TRACK_TYPE_VIDEO && timing.frameRate.known()) {
        const std::int64_t frame = FrameIndexAt(start, timing.frameRate);
        start = FrameStart(frame, timing.frameRate) +
                (FrameStart(frame + 1, timing.frameRate) - FrameStart(frame, timing.frameRate)) / 4;
    }
    const GstClockTime inpoint = toClockTime(timing.ToMedia(start));
    GstClockTime duration = toClockTime(source.mediaStop - source.mediaStart);
    if (outputRate.numerator > 0 && outputRate.denominator > 0) {
        const std::int64_t frames = FrameCount(source.mediaStop - source.mediaStart,
                                               {outputRate.numerator, outputRate.denominator});
        duration = gst_util_uint64_scale(static_cast<guint64>(frames),
                                         static_cast<guint64>(outputRate.denominator) * GST_SECOND,
                                         static_cast<guint64>(outputRate.numerator));
    }
    GESClip* clip = GES_CLIP(ges_asset_extract(GES_ASSET(asset), error));
    if (!clip) return nullptr;
    ges_clip_set_supported_formats(clip, type);
    GESTimelineElement* element = GES_TIMELINE_ELEMENT(clip);
    const GstClockTime declared = ges_uri_clip_asset_get_max_duration(asset);
    const bool pastDeclared = GST_CLOCK_TIME_IS_VALID(declared) && declared < inpoint + duration;
    ges_timeline_element_set_start(element, toClockTime(source.start));
    // The clip's sources are made as it joins the layer, each limited to what the container
    // declared; the measured end lifts that limit once they are there.
    if (pastDeclared) {
        ges_timeline_element_set_inpoint(element, 0);
        ges_timeline_element_set_duration(element, std::min(duration, declared));
    } else {
        ges_timeline_element_set_inpoint(element, inpoint);
        ges_timeline_element_set_duration(element, duration);
    }
    if (!ges_layer_add_clip_full(layer, clip, error)) return nullptr;
    if (pastDeclared && (!ges_timeline_element_set_max_duration(element, inpoint + duration) ||
                         !ges_timeline_element_set_inpoint(element, inpoint) ||
                         !ges_timeline_element_set_duration(element, duration))) {
        g_set_error(error, GES_ERROR, GES_ERROR_INVALID_OVERLAP_IN_TRACK,
                    "the file's pictures end before the span does");
        return nullptr;
    }
    return clip;
}

// Turns the pictures of a clip whose source says it is rotated, so that they stand upright.
void turnUpright(GESClip* clip, int rotation) {
    GstVideoOrientationMethod method = GST_VIDEO_ORIENTATION_IDENTITY;
    if (rotation == 90)
        method = GST_VIDEO_ORIENTATION_90R;
    else if (rotation == 180)
        method = GST_VIDEO_ORIENTATION_180;
    else if (rotation == 270)
        method = GST_VIDEO_ORIENTATION_90L;
    else
        return;
    GList* children = ges_container_get_children(GES_CONTAINER(clip), FALSE);
    for (GList* item = children; item; item = item->next) {
        if (GES_IS_VIDEO_SOURCE(item->data))
            ges_timeline_element_set_child_properties(GES_TIMELINE_ELEMENT(item->data),
                                                      "video-direction", method, nullptr);
    }
    g_list_free_full(children, g_object_unref);
}

// GES keeps what it learnt of a file, failures included, for the life of the process. A file
// that has appeared or changed since it was last looked at is discovered anew; an unchanged one
// is not, as discovery costs a good part of a short conversion.
GESUriClipAsset* requestAsset(const std::string& path, const gchar* uri, GError** error) {
    struct Stamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        bool operator==(const Stamp&) const = default;
    };
    static std::mutex mutex;
    static std::map<std::string, Stamp> known;

    std::error_code failed;
    Stamp stamp{std::filesystem::file_size(path, failed),
                std::filesystem::last_write_time(path, failed)};
    bool fresh = false;
    {
        std::lock_guard lock(mutex);
        const auto found = known.find(path);
        fresh = !failed && found != known.end() && found->second == stamp;
    }
    if (!fresh) ges_asset_needs_reload(GES_TYPE_URI_CLIP, uri);
    GESUriClipAsset* asset = ges_uri_clip_asset_request_sync(uri, error);
    std::lock_guard lock(mutex);
    if (asset && !failed)
        known[path] = stamp;
    else
        known.erase(path);
    return asset;
}

// How many channels of sound the file gets. The AVI multiplexer of GStreamer 1.22 cannot write
// raw sound of more than two channels (its reordering into the file's channel order fails on
// every buffer), and most audio encoders take one or two: sound they cannot take is mixed down
// to stereo, with its channels' places, by the editing services' converter. An encoder that
// takes the source's channels (AC-3 takes 5.1) keeps them, with the channel mask in the file.
int channelsFor(const StreamRoute& route, int sourceChannels) {
    if (sourceChannels <= 2) return sourceChannels;
    if (!route.compressionOn || !route.encoder) return 2;
    GstPtr<GstElementFactory> factory(gst_element_factory_find(route.encoder->factoryName.c_str()));
    if (!factory) return 2;
    CapsPtr wanted(gst_caps_new_simple(
        "audio/x-raw", "channels", G_TYPE_INT, sourceChannels, "channel-mask", GST_TYPE_BITMASK,
        gst_audio_channel_get_fallback_mask(sourceChannels), nullptr));
    return gst_element_factory_can_sink_any_caps(factory.get(), wanted.get()) ? sourceChannels : 2;
}

// The editing services' front end: the GES timeline made from the model. Runs on the worker.
RenderSetupResult buildTimeline(const TimelineModel& model, GESTimeline* timeline,
                                const StreamRoute& audioRoute) {
    // Sound and picture last the whole frames of the output's rate.
    Fraction outputRate;
    for (const TimelineGroup& group : model.groups) {
        if (!group.isVideo()) continue;
        outputRate = FrameRateFraction(group.outputFrameRate);
        break;
    }
    // Discovery first: it blocks, and the audio track takes the format the sources bring.
    std::map<std::string, AssetPtr> assets;
    for (const TimelineGroup& group : model.groups) {
        for (const TimelineTrack& track : group.tracks) {
            for (const TimelineSource& source : track.sources) {
                if (assets.count(source.mediaName)) continue;
                GError* error = nullptr;
                const std::string uri = MediaUriOf(source.mediaName);
                GESUriClipAsset* asset =
                    uri.empty() ? nullptr : requestAsset(source.mediaName, uri.c_str(), &error);
                if (!asset) {
                    std::string text =
                        source.mediaName + ": " +
                        (error && error->message ? error->message : "cannot be opened.");
                    g_clear_error(&error);
                    return failure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER, text);
                }
                assets.emplace(source.mediaName, AssetPtr(asset));
            }
        }
    }

    for (const TimelineGroup& group : model.groups) {
        const bool video = group.isVideo();
        GESTrack* track =
            video ? GES_TRACK(ges_video_track_new()) : GES_TRACK(ges_audio_track_new());
        CapsPtr restriction;
        if (video) {
            const BitmapInfoHeader& picture = group.mediaType.format->bmiHeader;
            const Fraction rate = FrameRateFraction(group.outputFrameRate);
            restriction.reset(gst_caps_new_simple(
                "video/x-raw", "width", G_TYPE_INT, picture.biWidth, "height", G_TYPE_INT,
                picture.biHeight, "framerate", GST_TYPE_FRACTION, rate.numerator, rate.denominator,
                "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
        } else {
            int rate = 0;
            int channels = 0;
            sourceAudioFormat(assets, group, &rate, &channels);
            // A source without sound gets silence in the common CD format.
            if (rate <= 0 || channels <= 0) {
                rate = 44100;
                channels = 2;
            }
            channels = channelsFor(audioRoute, channels);
            restriction.reset(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, rate,
                                                  "channels", G_TYPE_INT, channels, nullptr));
            // Beyond stereo the channels need their places, which the encoder writes.
            if (channels > 2)
                gst_caps_set_simple(restriction.get(), "channel-mask", GST_TYPE_BITMASK,
                                    gst_audio_channel_get_fallback_mask(channels), nullptr);
        }
        ges_track_set_restriction_caps(track, restriction.get());
        if (!ges_timeline_add_track(timeline, track))
            return failure(RenderStep::SetTimelineObject, E_FAIL, "The timeline refused a track.");

        const GESTrackType type = video ? GES_TRACK_TYPE_VIDEO : GES_TRACK_TYPE_AUDIO;
        const int width = video ? group.mediaType.format->bmiHeader.biWidth : 0;
        const int height = video ? group.mediaType.format->bmiHeader.biHeight : 0;
        // The last video track lies on top, so its layer comes first.
        std::vector<const TimelineTrack*> order;
        for (const TimelineTrack& t : group.tracks) order.push_back(&t);
        if (video) std::reverse(order.begin(), order.end());
        for (const TimelineTrack* modelTrack : order) {
            GESLayer* layer = ges_timeline_append_layer(timeline);
            for (const TimelineSource& source : modelTrack->sources) {
                GESUriClipAsset* asset = assets.at(source.mediaName).get();
                const GESTrackType formats =
                    ges_clip_asset_get_supported_formats(GES_CLIP_ASSET(asset));
                if (!(formats & type)) {
                    // An empty audio track plays silence for the timeline's length.
                    if (!video) continue;
                    return failure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER,
                                   source.mediaName + " holds no picture.");
                }
                GError* error = nullptr;
                GESClip* clip = placeClip(layer, asset, source, type, outputRate, &error);
                if (!clip) {
                    std::string text =
                        "Could not take " + describeSpan(source) + " of " + source.mediaName +
                        (error && error->message ? std::string(": ") + error->message : ".");
                    g_clear_error(&error);
                    return failure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER, text);
                }
                if (video) turnUpright(clip, MeasureSourceTiming(source.mediaName).rotation);
                if (video && source.stretchMode == kStretchModeStretch)
                    stretchToFrame(clip, width, height);
            }
        }
    }
    ges_timeline_commit(timeline);

    RenderSetupResult result;
    result.duration =
        NanosecondsToReferenceTime(static_cast<std::int64_t>(ges_timeline_get_duration(timeline)));
    if (!model.groups.empty() && result.duration <= 0)
        return failure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER,
                       "The timeline holds nothing to convert.");
    return result;
}

// The output's name as a conversion takes it: a local path that names no folder, device or
// pipe.
RenderSetupResult checkOutputName(const std::string& path) {
    GError* error = nullptr;
    gchar* targetUri = gst_filename_to_uri(path.c_str(), &error);
    if (!targetUri || path.empty()) {
        std::string text =
            error && error->message ? error->message : "The output file name is not valid.";
        g_clear_error(&error);
        g_free(targetUri);
        return failure(RenderStep::SetOutputFileName, E_INVALIDARG, text);
    }
    g_free(targetUri);
    if (const std::string why = OutputTargetProblem(path); !why.empty())
        return failure(RenderStep::SetOutputFileName, E_INVALIDARG, path + ": " + why);
    return {};
}

// The file is written under a hidden name and moved into place once finished.
RenderSetupResult reserveOutput(RenderSessionState& state, const std::string& path) {
    std::string problem;
    if (!state.output.Reserve(path, &problem))
        return failure(RenderStep::Run, VFW_E_WRITE_FAILED, problem);
    std::lock_guard lock(state.mutex);
    state.temporaryName = state.output.temporaryPath();
    state.targetName = path;
    return {};
}

// The session's pipeline from now on: its messages come to the session, and it is counted
// until it is finalised.
void adoptPipeline(RenderSessionState& state, GstElement* pipeline) {
    ++livePipelines;
    g_object_weak_ref(G_OBJECT(pipeline), pipelineFinalised, nullptr);
    {
        std::lock_guard lock(state.pipelineMutex);
        state.pipeline = pipeline;
    }
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
    gst_bus_set_sync_handler(bus.get(), onBusMessage, &state, nullptr);
}

// A pipeline that would not run. The failure is reported as the step's; its events are not
// the running graph's.
RenderSetupResult notStarted(RenderSessionState& state, const char* fallback) {
    std::string text;
    {
        std::lock_guard lock(state.mutex);
        state.settingUp = true;
        for (const RenderEvent& event : state.events)
            if (event.code == EC_ERRORABORT && text.empty()) text = event.text;
        if (text.empty()) text = state.firstSetupError;
        state.events.clear();
        state.ended = false;
    }
    releasePipeline(state);
    return failure(RenderStep::Run, VFW_E_WRITE_FAILED, text.empty() ? fallback : text);
}

// The encoding profile of a group's stream, added to the container: the encoder's format, or
// raw video or PCM, with the video held to the output's size and rate. Fails with the step
// whose stream the multiplexer or the encoder would refuse.
RenderSetupResult addStreamProfile(GstEncodingContainerProfile* container,
                                   const TimelineGroup& group, const StreamRoute& route,
                                   bool first) {
    const bool videoGroup = group.isVideo();
    StreamFormat format = streamFormat(videoGroup, route);
    if (!format.caps) {
        const bool unbound =
            route.compressionOn && (!route.encoder || route.encoder->factoryName.empty());
        if (unbound)
            return failure(
                first ? RenderStep::AddVideoCompressor : RenderStep::AddAudioCompressor,
                E_POINTER, format.errorText);
        return failure(first ? RenderStep::RenderVideoStream : RenderStep::RenderAudioStream,
                       VFW_E_CANNOT_RENDER, format.errorText);
    }
    CapsPtr restriction;
    if (videoGroup) {
        const BitmapInfoHeader& picture = group.mediaType.format->bmiHeader;
        const Fraction rate = FrameRateFraction(group.outputFrameRate);
        // The encoding bin scales and drops frames to suit the encoder's first choice
        // unless told otherwise: held to the output's size and rate, it either makes
        // exactly those or fails.
        restriction.reset(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT,
                                              picture.biWidth, "height", G_TYPE_INT,
                                              picture.biHeight, "framerate", GST_TYPE_FRACTION,
                                              rate.numerator, rate.denominator, nullptr));
        std::string problem;
        if (rate.numerator <= 0) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "The frame rate %g cannot be written: a conversion takes %g to %g "
                          "frames a second.",
                          group.outputFrameRate, kLowestOutputFrameRate,
                          kHighestOutputFrameRate);
            problem = text;
        } else {
            problem = VideoLimitProblem(format.presetName, format.caps.get(), picture.biWidth,
                                        picture.biHeight, rate);
        }
        if (!problem.empty())
            return failure(
                first ? RenderStep::RenderVideoStream : RenderStep::RenderAudioStream,
                VFW_E_CANNOT_RENDER, problem);
    }
    GstEncodingProfile* stream = videoGroup
                                     ? GST_ENCODING_PROFILE(gst_encoding_video_profile_new(
                                           format.caps.get(), nullptr, restriction.get(), 1))
                                     : GST_ENCODING_PROFILE(gst_encoding_audio_profile_new(
                                           format.caps.get(), nullptr, nullptr, 1));
    if (!format.presetName.empty())
        gst_encoding_profile_set_preset_name(stream, format.presetName.c_str());
    gst_encoding_container_profile_add_profile(container, stream);
    return {};
}

// A direct stream copy: the span read from the source and written through the encoding bin,
// the copied streams as they are. Runs on the worker.
RenderSetupResult setUpCopy(RenderSessionState& state, const RenderPlan& plan) {
    const StreamCopyInspection inspection = InspectStreamCopy(plan);
    if (!inspection.ok())
        return failure(inspection.refusedStep, VFW_E_CANNOT_RENDER, inspection.refusal);
    if (const RenderSetupResult usable = checkOutputName(plan.outputPath); FAILED(usable.status))
        return usable;

    const TimelineGroup* videoGroup = nullptr;
    const TimelineGroup* audioGroup = nullptr;
    for (const TimelineGroup& group : plan.timeline.groups) {
        const TimelineGroup*& slot = group.isVideo() ? videoGroup : audioGroup;
        if (!slot) slot = &group;
    }
    CapsPtr aviCaps(gst_caps_from_string("video/x-msvideo"));
    GstEncodingContainerProfile* container =
        gst_encoding_container_profile_new("avi", nullptr, aviCaps.get(), nullptr);
    std::unique_ptr<GstEncodingContainerProfile, EncodingProfileUnref> containerOwner(container);
    if (inspection.copiesVideo) {
        CapsPtr caps(CopiedStreamCaps(inspection.videoCaps));
        gst_encoding_container_profile_add_profile(
            container, GST_ENCODING_PROFILE(
                           gst_encoding_video_profile_new(caps.get(), nullptr, nullptr, 1)));
    } else if (const RenderSetupResult added =
                   addStreamProfile(container, *videoGroup, plan.video, true);
               FAILED(added.status)) {
        return added;
    }
    // A source without sound gives a file without sound.
    if (inspection.sourceHasAudio && audioGroup) {
        if (inspection.copiesAudio) {
            CapsPtr caps(CopiedStreamCaps(inspection.audioCaps));
            gst_encoding_container_profile_add_profile(
                container, GST_ENCODING_PROFILE(
                               gst_encoding_audio_profile_new(caps.get(), nullptr, nullptr, 1)));
        } else if (const RenderSetupResult added =
                       addStreamProfile(container, *audioGroup, plan.audio, false);
                   FAILED(added.status)) {
            return added;
        }
    }

    if (const RenderSetupResult reserved = reserveOutput(state, plan.outputPath);
        FAILED(reserved.status))
        return reserved;
    CopyPipelineRequest request;
    request.inspection = &inspection;
    for (const TimelineTrack& track : videoGroup->tracks)
        if (!track.sources.empty()) request.sourcePath = track.sources.front().mediaName;
    request.location = state.output.temporaryPath();
    request.container = container;
    const BitmapInfoHeader& picture = videoGroup->mediaType.format->bmiHeader;
    request.width = picture.biWidth;
    request.height = picture.biHeight;
    request.frameRate = FrameRateFraction(videoGroup->outputFrameRate);
    for (const TimelineTrack& track : videoGroup->tracks)
        for (const TimelineSource& source : track.sources)
            request.stretch = source.stretchMode == kStretchModeStretch;
    request.elementAdded = G_CALLBACK(onDeepElementAdded);
    request.elementAddedData = &state;
    std::string problem;
    GstElement* pipeline = MakeStreamCopyPipeline(request, &problem);
    if (!pipeline) {
        state.output.Abandon();
        return failure(RenderStep::SetOutputFileName, E_FAIL, problem);
    }
    adoptPipeline(state, pipeline);
    {
        std::lock_guard lock(state.mutex);
        state.settingUp = false;
    }
    if (!RunStreamCopyPipeline(pipeline, &problem)) return notStarted(state, problem.c_str());
    RenderSetupResult result;
    result.duration = inspection.stop - inspection.start;
    return result;
}

// Where each kind of source stream must reach: the first source's span of each group.
void expectSourceEnds(SourceEnds& ends, const TimelineModel& model) {
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
        ends.Expect(group.isVideo(), source.mediaStop, MeasureSourceTiming(source.mediaName),
                    tolerance);
    }
}

// Builds the pipeline and runs it. Runs on the worker.
RenderSetupResult setUp(RenderSessionState& state, const RenderPlan& plan) {
    if (UsesStreamCopy(plan)) return setUpCopy(state, plan);
    // Started by whoever started the render, on a thread where it is safe.
    if (!EditingServicesStarted())
        return failure(RenderStep::SetTimelineObject, E_FAIL,
                       "The editing services were not started.");
    GstPtr<GESTimeline> timeline(GES_TIMELINE(gst_object_ref_sink(ges_timeline_new())));
    if (!timeline)
        return failure(RenderStep::SetTimelineObject, E_FAIL, "The timeline could not be made.");
    RenderSetupResult built = buildTimeline(plan.timeline, timeline.get(), plan.audio);
    if (FAILED(built.status)) return built;
    expectSourceEnds(*state.sourceEnds, plan.timeline);

    const std::vector<TimelineGroup>& groups = plan.timeline.groups;
    if (groups.empty())
        return failure(RenderStep::GetGroupCount, E_INVALIDARG, "The timeline has no group.");

    if (const RenderSetupResult usable = checkOutputName(plan.outputPath); FAILED(usable.status))
        return usable;

    // The AVI multiplexer, with the first group routed as video and the others as audio.
    CapsPtr aviCaps(gst_caps_from_string("video/x-msvideo"));
    GstEncodingContainerProfile* container =
        gst_encoding_container_profile_new("avi", nullptr, aviCaps.get(), nullptr);
    std::unique_ptr<GstEncodingContainerProfile, EncodingProfileUnref> containerOwner(container);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const RenderSetupResult added =
            addStreamProfile(container, groups[g], g == 0 ? plan.video : plan.audio, g == 0);
        if (FAILED(added.status)) return added;
    }

    if (const RenderSetupResult reserved = reserveOutput(state, plan.outputPath);
        FAILED(reserved.status))
        return reserved;
    gchar* outputUri = gst_filename_to_uri(state.output.temporaryPath().c_str(), nullptr);
    if (!outputUri) {
        state.output.Abandon();
        return failure(RenderStep::SetOutputFileName, E_INVALIDARG,
                       "The output file name is not valid.");
    }
    std::unique_ptr<gchar, decltype(&g_free)> outputUriOwner(outputUri, g_free);

    GESPipeline* pipeline = GES_PIPELINE(gst_object_ref_sink(ges_pipeline_new()));
    adoptPipeline(state, GST_ELEMENT(pipeline));
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(onDeepElementAdded), &state);

    auto setupError = [&state](const char* fallback) {
        std::lock_guard lock(state.mutex);
        return state.firstSetupError.empty() ? std::string(fallback) : state.firstSetupError;
    };
    // The pipeline takes a reference of its own; ours goes when this function returns, so the
    // timeline dies with the pipeline, on this thread.
    if (!ges_pipeline_set_timeline(pipeline, timeline.get())) {
        releasePipeline(state);
        return failure(RenderStep::SetTimelineObject, E_FAIL,
                       setupError("The pipeline refused the timeline."));
    }
    if (!ges_pipeline_set_render_settings(pipeline, outputUri, GST_ENCODING_PROFILE(container))) {
        releasePipeline(state);
        return failure(RenderStep::SetOutputFileName, E_FAIL,
                       setupError("The AVI multiplexer and file writer could not be set up."));
    }
    if (!ges_pipeline_set_mode(pipeline, GES_PIPELINE_MODE_RENDER)) {
        releasePipeline(state);
        return failure(groups.front().isVideo() ? RenderStep::RenderVideoStream
                                                : RenderStep::RenderAudioStream,
                       VFW_E_CANNOT_RENDER,
                       setupError("The streams could not be connected to the multiplexer."));
    }

    {
        std::lock_guard lock(state.mutex);
        if (state.encodebin)
            state.spanGuard = SpanGuard::Attach(
                state.encodebin,
                static_cast<GstClockTime>(ReferenceTimeToNanoseconds(built.duration)));
        state.settingUp = false;
    }
    if (gst_element_set_state(GST_ELEMENT(pipeline), GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE)
        return notStarted(state, "The conversion could not be started.");
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
    setNotifier(nullptr);
    release();
    {
        std::lock_guard lock(state_->mutex);
        state_->postToWorker = nullptr;
    }
    worker_.reset();  // runs what is queued, a file's finishing and the release included
}

void RenderSession::start(RenderPlan plan, std::function<void(const RenderSetupResult&)> done) {
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
        const std::optional<ReferenceTime> now = position();
        if (now != lastPosition_) {
            lastPosition_ = now;
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

void RenderSession::setNotifier(std::function<void()> notifier) {
    std::lock_guard lock(state_->mutex);
    state_->notifier = std::move(notifier);
    if (state_->notifier && !state_->events.empty()) state_->notifier();
}

bool RenderSession::getEvent(RenderEvent* event) {
    std::lock_guard lock(state_->mutex);
    if (state_->events.empty()) return false;
    if (event) *event = std::move(state_->events.front());
    state_->events.pop_front();
    return true;
}

void RenderSession::drain(std::chrono::milliseconds bound) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->ended || state_->finishing || state_->draining || state_->settingUp) return;
        state_->draining = true;
    }
    // Most of the bound may go to waiting for the streams' formats (below); the rest is for
    // the multiplexer to write its index.
    const std::chrono::milliseconds negotiationWait = bound * 4 / 5;
    worker_->post([state = state_, negotiationWait] {
        GstElement* encodebin = nullptr;
        {
            std::lock_guard lock(state->mutex);
            if (state->encodebin) encodebin = GST_ELEMENT(gst_object_ref(state->encodebin));
        }
        if (!encodebin) return;
        // A Stop pressed the moment the graph runs comes before the first picture has reached
        // the multiplexer: wait for it, so that the file it finishes has a format. A graph that
        // never gets that far is not ended at all; the bound then reports the stop as failed,
        // rather than a finished file that no player opens.
        const auto waitUntil = std::chrono::steady_clock::now() + negotiationWait;
        bool negotiated = multiplexerNegotiated(encodebin);
        while (!negotiated && std::chrono::steady_clock::now() < waitUntil) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            negotiated = multiplexerNegotiated(encodebin);
        }
        if (!negotiated) {
            gst_object_unref(encodebin);
            return;
        }
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
            GstIterator* pads = gst_element_iterate_sink_pads(encodebin);
            GValue item = G_VALUE_INIT;
            while (gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
                gst_pad_send_event(GST_PAD(g_value_get_object(&item)), gst_event_new_eos());
                g_value_reset(&item);
            }
            g_value_unset(&item);
            gst_iterator_free(pads);
        }
        gst_object_unref(encodebin);
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

bool RenderSession::ended() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended;
}

void RenderSession::release() {
    if (!worker_) return;
    worker_->post([state = state_] { releasePipeline(*state); });
}

std::optional<ReferenceTime> RenderSession::position() const {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->settingUp) return std::nullopt;
        if (state_->finalPosition) return state_->finalPosition;
    }
    std::lock_guard lock(state_->pipelineMutex);
    gint64 position = 0;
    if (!state_->pipeline ||
        !gst_element_query_position(state_->pipeline, GST_FORMAT_TIME, &position) || position < 0)
        return std::nullopt;
    return NanosecondsToReferenceTime(position);
}

std::optional<WrittenVideo> RenderSession::writtenVideo() const {
    std::lock_guard lock(state_->mutex);
    return state_->writtenVideo;
}

std::vector<std::string> RenderSession::encoderFactories() const {
    std::lock_guard lock(state_->mutex);
    return state_->encoderFactories;
}

}  // namespace media
