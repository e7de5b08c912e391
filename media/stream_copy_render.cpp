#include "media/stream_copy_render.h"

#include "media/avi_stream_format.h"
#include "media/gst_handles.h"
#include "media/render_elements.h"
#include "media/render_output.h"
#include "media/stream_copy.h"
#include "media/stream_copy_pipeline.h"

namespace media {

RenderSetupResult SetUpStreamCopy(RenderSessionState& state, const RenderPlan& plan) {
    const StreamCopyInspection inspection = InspectStreamCopy(plan);
    if (!inspection.ok())
        return SetupFailure(inspection.refusedStep, VFW_E_CANNOT_RENDER, inspection.refusal);
    if (const RenderSetupResult usable = CheckOutputName(plan.outputPath); FAILED(usable.status))
        return usable;

    const TimelineGroup* videoGroup = nullptr;
    const TimelineGroup* audioGroup = nullptr;
    for (const TimelineGroup& group : plan.timeline.groups) {
        const TimelineGroup*& slot = group.isVideo() ? videoGroup : audioGroup;
        if (!slot) slot = &group;
    }
    const ContainerProfilePtr containerOwner = NewAviContainerProfile();
    GstEncodingContainerProfile* container = containerOwner.get();
    if (inspection.copiesVideo) {
        CapsPtr caps(CopiedStreamCaps(inspection.videoCaps));
        gst_encoding_container_profile_add_profile(
            container,
            GST_ENCODING_PROFILE(gst_encoding_video_profile_new(caps.get(), nullptr, nullptr, 1)));
    } else if (const RenderSetupResult added =
                   AddAviStreamProfile(container, *videoGroup, plan.video, true);
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
                       AddAviStreamProfile(container, *audioGroup, plan.audio, false);
                   FAILED(added.status)) {
            return added;
        }
    }

    if (const RenderSetupResult reserved = ReserveOutput(state, plan.outputPath);
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
    request.elementAdded = G_CALLBACK(OnDeepElementAdded);
    request.elementAddedData = &state;
    std::string problem;
    GstElement* pipeline = MakeStreamCopyPipeline(request, &problem);
    if (!pipeline) {
        state.output.Abandon();
        return SetupFailure(RenderStep::SetOutputFileName, E_FAIL, problem);
    }
    AdoptPipeline(state, GstPtr<GstElement>(pipeline));
    {
        std::lock_guard lock(state.mutex);
        state.settingUp = false;
    }
    if (!RunStreamCopyPipeline(pipeline, &problem)) return NotStarted(state, problem.c_str());
    RenderSetupResult result;
    result.duration = inspection.stop - inspection.start;
    return result;
}

}  // namespace media
