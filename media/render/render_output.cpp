#include "media/render/render_output.h"

#include <atomic>
#include <utility>

#include "media/core/failure_words.h"
#include "media/core/gst_handles.h"
#include "media/render/avi_stream_format.h"

namespace media {
namespace {

std::atomic<int> livePipelines{0};

// Runs on whichever thread drops the pipeline's last reference.
void pipelineFinalised(gpointer, GObject*) {
    --livePipelines;
}

void beginFinishing(RenderSessionState& state);

std::string errorTextOf(GstMessage* message) {
    GError* error = nullptr;
    gchar* details = nullptr;
    gst_message_parse_error(message, &error, &details);
    const GCharPtr debug(details);
    std::string text = error ? FailureInWords(error, debug.get(), GST_MESSAGE_SRC(message))
                             : "The conversion failed.";
    // For files the system's own reason ("No space left on device", "File too large") says more
    // than the element's words; it ends the last line of the details.
    if (error && error->domain == GST_RESOURCE_ERROR && debug) {
        std::string last = debug.get();
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
        gchar* named = nullptr;
        g_object_get(source, "location", &named, nullptr);
        const GCharPtr location(named);
        if (location && text.find(location.get()) == std::string::npos)
            text = std::string(location.get()) + ": " + text;
    }
    g_clear_error(&error);
    return text;
}

// Runs on a streaming thread (or on the worker while it sets up): copies what the session
// needs and lets the message go, since nobody else reads this bus.
GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
    // Dropping a message is the handler's unref: a message kept alive keeps its source
    // element, and with it the whole pipeline, alive after every conversion.
    const MessagePtr dropped(message);
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
    return GST_BUS_DROP;
}

// Stops and frees a pipeline on the thread that built its timeline.
void destroyPipeline(GstPtr<GstElement> pipeline) {
    if (!pipeline) return;
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    if (bus) gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

}  // namespace

bool MultiplexerNegotiated(GstElement* encodebin) {
    GstPtr<GstElement> muxer = MultiplexerIn(encodebin);
    if (!muxer) return false;
    GST_OBJECT_LOCK(muxer.get());
    bool negotiated = muxer->numsinkpads > 0;
    for (GList* pad = muxer->sinkpads; pad; pad = pad->next)
        negotiated = negotiated && gst_pad_has_current_caps(GST_PAD(pad->data));
    GST_OBJECT_UNLOCK(muxer.get());
    return negotiated;
}

namespace {

// The picture size and rate that the multiplexer's video input negotiated: what the file's
// stream header holds, whatever was asked for.
std::optional<WrittenVideo> multiplexedVideo(GstElement* encodebin) {
    GstPtr<GstElement> muxer = MultiplexerIn(encodebin);
    if (!muxer) return std::nullopt;
    std::optional<WrittenVideo> written;
    const IteratorPtr pads(gst_element_iterate_sink_pads(muxer.get()));
    GValue item = G_VALUE_INIT;
    while (!written && gst_iterator_next(pads.get(), &item) == GST_ITERATOR_OK) {
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
    return written;
}

}  // namespace

void ReleasePipeline(RenderSessionState& state) {
    GstPtr<GstElement> pipeline;
    GstPtr<GstElement> encodebin;
    std::shared_ptr<SessionJob> copyJob;
    {
        std::lock_guard lock(state.pipelineMutex);
        pipeline = std::move(state.pipeline);
        copyJob = std::move(state.copyJob);
    }
    if (copyJob) copyJob->Cancel();
    copyJob.reset();  // waits for its thread
    {
        std::lock_guard lock(state.mutex);
        encodebin = std::move(state.encodebin);
        state.spanGuard.reset();
    }
    destroyPipeline(std::move(pipeline));
    // A file that was not finished goes; the file it was to replace stays as it was.
    state.output.Abandon();
}

namespace {

// Every stream has ended and the multiplexer has written its index. Runs on the worker: the
// pipeline stops there (closing the file, which some systems need before a rename) and the
// finished file replaces the target. Only then is the completion queued, so whoever hears of
// it finds the file in place.
void finishOutput(RenderSessionState& state) {
    GstPtr<GstElement> pipeline;
    {
        std::lock_guard lock(state.pipelineMutex);
        if (state.pipeline) pipeline.reset(GST_ELEMENT(gst_object_ref(state.pipeline.get())));
    }
    if (!pipeline) return;  // released already, and the file abandoned with it
    GstPtr<GstElement> encodebin;
    {
        std::lock_guard lock(state.mutex);
        if (state.encodebin) encodebin.reset(GST_ELEMENT(gst_object_ref(state.encodebin.get())));
    }
    const std::optional<WrittenVideo> written =
        encodebin ? multiplexedVideo(encodebin.get()) : std::nullopt;
    gint64 position = -1;
    gst_element_query_position(pipeline.get(), GST_FORMAT_TIME, &position);
    // A stop ends the sources early on purpose; a run to the end says where they fell short.
    bool stopped = false;
    std::shared_ptr<SpanGuard> guard;
    {
        std::lock_guard lock(state.mutex);
        stopped = state.draining;
        guard = state.spanGuard;
    }
    // A span the source could give no picture for (its last picture lies before the place
    // asked, as a reader sees it) is no conversion, however cleanly the graph ended.
    if (!stopped && written && guard && guard->PicturesWritten() == 0) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        state.queueEvent(
            {EC_ERRORABORT, "The source gave no picture for the span: nothing was converted."});
        return;
    }
    std::string shortfall;
    if (!stopped) {
        shortfall = state.streamHoles->Note();
        const std::string ends = state.sourceEnds->ShortfallNote();
        if (!ends.empty()) shortfall += (shortfall.empty() ? "" : "\n") + ends;
    }
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

}  // namespace

int LiveRenderPipelines() {
    return livePipelines.load();
}

RenderSetupResult CheckOutputName(const std::string& path) {
    GError* error = nullptr;
    const GCharPtr targetUri(gst_filename_to_uri(path.c_str(), &error));
    if (!targetUri || path.empty()) {
        std::string text =
            error && error->message ? error->message : "The output file name is not valid.";
        g_clear_error(&error);
        return SetupFailure(RenderStep::SetOutputFileName, E_INVALIDARG, text);
    }
    if (const std::string why = OutputTargetProblem(path); !why.empty())
        return SetupFailure(RenderStep::SetOutputFileName, E_INVALIDARG, path + ": " + why);
    return {};
}

RenderSetupResult ReserveOutput(RenderSessionState& state, const std::string& path) {
    std::string problem;
    if (!state.output.Reserve(path, &problem))
        return SetupFailure(RenderStep::Run, VFW_E_WRITE_FAILED, problem);
    std::lock_guard lock(state.mutex);
    state.temporaryName = state.output.temporaryPath();
    state.targetName = path;
    return {};
}

void AdoptPipeline(RenderSessionState& state, GstPtr<GstElement> pipeline) {
    ++livePipelines;
    g_object_weak_ref(G_OBJECT(pipeline.get()), pipelineFinalised, nullptr);
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    {
        std::lock_guard lock(state.pipelineMutex);
        state.pipeline = std::move(pipeline);
    }
    gst_bus_set_sync_handler(bus.get(), onBusMessage, &state, nullptr);
}

RenderSetupResult NotStarted(RenderSessionState& state, const char* fallback) {
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
    ReleasePipeline(state);
    return SetupFailure(RenderStep::Run, VFW_E_WRITE_FAILED, text.empty() ? fallback : text);
}

}  // namespace media
