#include "media/copy/stream_copy_render.h"

#include <limits>

#include "media/copy/stream_copy.h"
#include "media/copy/stream_copy_job.h"
#include "media/core/gst_handles.h"
#include "media/render/avi_stream_format.h"
#include "media/render/render_elements.h"
#include "media/render/render_output.h"
#include "media/render/stream_copy_pipeline.h"

namespace media {
namespace {

std::shared_ptr<SessionJob> jobOf(RenderSessionState& state) {
    std::lock_guard lock(state.pipelineMutex);
    return state.copyJob;
}

// The copy's end, on the worker: the finished file moves into place, or a failed one goes.
void finishCopy(RenderSessionState& state, const StreamCopyOutcome& outcome) {
    if (!jobOf(state)) return;  // released, and the file abandoned with it
    if (!outcome.written) {
        state.output.Abandon();
        state.queueEvent({EC_ERRORABORT, state.withTargetName(outcome.problem)});
        return;
    }
    {
        std::lock_guard lock(state.mutex);
        state.writtenVideo = outcome.video;
        state.writtenVideo->copied = outcome.summary;
        state.finalPosition = outcome.length;
    }
    std::string problem;
    if (state.output.Commit(&problem))
        state.queueEvent({EC_COMPLETE, {}});
    else
        state.queueEvent({EC_ERRORABORT, problem});
}

RenderSetupResult startCopyJob(RenderSessionState& state, const RenderPlan& plan,
                               const StreamCopyInspection& inspection) {
    if (const RenderSetupResult reserved = ReserveOutput(state, plan.outputPath);
        FAILED(reserved.status))
        return reserved;
    StreamCopyRequest request;
    for (const TimelineGroup& group : plan.timeline.groups)
        if (group.isVideo() && !group.tracks.empty() && !group.tracks.front().sources.empty()) {
            request.sourcePath = group.tracks.front().sources.front().mediaName;
            break;
        }
    request.outputPath = state.output.temporaryPath();
    request.start = inspection.start;
    request.stop = inspection.toTheEnd ? std::numeric_limits<ReferenceTime>::max() / 4
                                       : inspection.stop;
    bool soundWanted = false;
    for (const TimelineGroup& group : plan.timeline.groups) soundWanted |= !group.isVideo();
    request.withSound = soundWanted && inspection.sourceHasAudio && inspection.copiesAudio;
    if (soundWanted && inspection.sourceHasAudio && !inspection.copiesAudio)
        request.encodedSound = plan.audio;
    request.elementAdded = G_CALLBACK(OnDeepElementAdded);
    request.elementAddedData = &state;
    // Runs on the job's thread; posted under the lock, which the session takes to clear it.
    auto finished = [&state](const StreamCopyOutcome& outcome) {
        std::lock_guard lock(state.mutex);
        if (state.postToWorker) state.postToWorker([&state, outcome] { finishCopy(state, outcome); });
    };
    auto job = std::make_shared<StreamCopyJob>(std::move(request), std::move(finished));
    {
        std::lock_guard lock(state.pipelineMutex);
        state.copyJob = job;
    }
    {
        std::lock_guard lock(state.mutex);
        state.settingUp = false;
    }
    job->Start();
    RenderSetupResult result;
    result.duration = inspection.stop - inspection.start;
    return result;
}

}  // namespace

bool StopStreamCopy(RenderSessionState& state) {
    const std::shared_ptr<SessionJob> job = jobOf(state);
    if (job) job->Stop();
    return job != nullptr;
}

std::optional<ReferenceTime> StreamCopyPosition(RenderSessionState& state) {
    const std::shared_ptr<SessionJob> job = jobOf(state);
    return job ? job->Position() : std::nullopt;
}

std::int64_t StreamCopyPacketsRead(RenderSessionState& state) {
    const std::shared_ptr<SessionJob> job = jobOf(state);
    return job ? job->PacketsRead() : 0;
}

RenderSetupResult SetUpStreamCopy(RenderSessionState& state, const RenderPlan& plan) {
    const StreamCopyInspection inspection = InspectStreamCopy(plan);
    if (!inspection.ok())
        return SetupFailure(inspection.refusedStep, VFW_E_CANNOT_RENDER, inspection.refusal);
    if (const RenderSetupResult usable = CheckOutputName(plan.outputPath); FAILED(usable.status))
        return usable;
    if (inspection.copiesVideo) return startCopyJob(state, plan, inspection);

    const TimelineGroup* videoGroup = nullptr;
    const TimelineGroup* audioGroup = nullptr;
    for (const TimelineGroup& group : plan.timeline.groups) {
        const TimelineGroup*& slot = group.isVideo() ? videoGroup : audioGroup;
        if (!slot) slot = &group;
    }
    const ContainerProfilePtr containerOwner = NewAviContainerProfile();
    GstEncodingContainerProfile* container = containerOwner.get();
    if (const RenderSetupResult added =
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
    request.sourceHasAudio = inspection.sourceHasAudio;
    request.copiesVideo = inspection.copiesVideo;
    request.copiesAudio = inspection.copiesAudio;
    request.seekStart = inspection.seekStart;
    request.seekStop = inspection.seekStop;
    request.seekToKeyFrame = inspection.seekToKeyFrame;
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
