// GLib's headers come before Qt's: GIO names a struct member "signals", which Qt defines as a
// keyword.
#include <ges/ges.h>
#include <gst/gst.h>

#include "media/render/ges_render.h"
#include "media/core/gst_handles.h"
#include "media/core/media_framework.h"
#include "media/render/avi_stream_format.h"
#include "media/render/ges_timeline_build.h"
#include "media/render/prepared_source.h"
#include "media/render/render_elements.h"
#include "media/render/render_output.h"
#include "media/render/render_session_state.h"
#include "media/render/span_guard.h"

namespace media {
namespace {

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

}  // namespace

RenderSetupResult SetUpGesRender(RenderSessionState& state, const RenderPlan& plan) {
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
    RenderSetupResult built = BuildGesTimeline(plan.timeline, timeline.get(), plan.audio, prepared);
    if (FAILED(built.status)) return built;
    ExpectSourceEnds(state, plan.timeline);

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
    if (gst_element_set_state(GST_ELEMENT(pipeline), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return NotStarted(state, "The conversion could not be started.");
    return built;
}

}  // namespace media
