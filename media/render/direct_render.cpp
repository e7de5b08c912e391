#include "media/render/direct_render.h"

#include <gst/gst.h>

#include "media/core/frame_time.h"
#include "media/core/gst_handles.h"
#include "media/core/repaired_file_source.h"
#include "media/render/avi_stream_format.h"
#include "media/render/prepared_source.h"
#include "media/render/render_elements.h"
#include "media/render/render_output.h"
#include "media/render/render_session_state.h"
#include "media/render/stream_copy_pipeline.h"
#include "media/source/source_timing.h"

namespace media {
namespace {

constexpr ReferenceTime kSoundReach = kReferenceTimePerSecond / 4;

// The one source of a group with one track, one source and no transition that lasts; null
// otherwise.
const TimelineSource* onlySource(const TimelineGroup& group) {
    if (group.tracks.size() != 1) return nullptr;
    const TimelineTrack& track = group.tracks.front();
    if (track.sources.size() != 1) return nullptr;
    for (const TimelineTransition& transition : track.transitions)
        if (transition.stop > transition.start) return nullptr;
    return &track.sources.front();
}

bool sameSpan(const TimelineSource& a, const TimelineSource& b) {
    return a.mediaName == b.mediaName && a.start == b.start && a.stop == b.stop &&
           a.mediaStart == b.mediaStart && a.mediaStop == b.mediaStop;
}

struct DirectSpan {
    const TimelineGroup* videoGroup = nullptr;
    const TimelineGroup* audioGroup = nullptr;  // null for a file without sound
    const TimelineSource* source = nullptr;
    Fraction outputRate;
};

// A picture group first, at most one sound group after it, each the same span of the same file
// from the output's start, and a file whose sound was found where sound is wanted (the editing
// services give silence to a file without it).
std::optional<DirectSpan> directSpan(const RenderPlan& plan) {
    const std::vector<TimelineGroup>& groups = plan.timeline.groups;
    if (groups.empty() || groups.size() > 2 || !groups.front().isVideo()) return std::nullopt;
    DirectSpan span;
    span.videoGroup = &groups.front();
    span.source = onlySource(*span.videoGroup);
    span.outputRate = FrameRateFraction(span.videoGroup->outputFrameRate);
    if (!span.source || span.source->start != 0 || !span.videoGroup->mediaType.format ||
        span.outputRate.numerator <= 0)
        return std::nullopt;
    if (groups.size() == 2) {
        span.audioGroup = &groups.back();
        const TimelineSource* sound = onlySource(*span.audioGroup);
        if (span.audioGroup->isVideo() || !sound || !sameSpan(*sound, *span.source))
            return std::nullopt;
    }
    return span;
}

// How much later than the sound the pictures start: as the editing services place a clip, a
// quarter frame into the picture the span starts in. Negative for a span that starts later than
// that inside its picture; such a span is left to the editing services.
ReferenceTime pictureLead(const TimelineSource& source, FrameRate rate) {
    const std::int64_t marked = FrameIndexAt(source.mediaStart, rate);
    const ReferenceTime first = FrameStart(marked, rate);
    return first + (FrameStart(marked + 1, rate) - first) / 4 - source.mediaStart;
}

}  // namespace

bool UsesDirectRender(const RenderPlan& plan) {
    if (UsesStreamCopy(plan)) return false;
    const std::optional<DirectSpan> span = directSpan(plan);
    if (!span) return false;
    const SourceTiming timing = MeasureSourceTiming(span->source->mediaName);
    // Files whose seeks are mended are read as the editing services read them.
    return timing.measured && timing.frameRate.known() && !timing.seeksMended &&
           pictureLead(*span->source, timing.frameRate) >= 0 &&
           (!span->audioGroup || timing.hasSound);
}

RenderSetupResult SetUpDirectRender(RenderSessionState& state, const RenderPlan& plan) {
    const DirectSpan span = *directSpan(plan);
    const TimelineSource& source = *span.source;
    const SourceTiming timing = MeasureSourceTiming(source.mediaName);
    if (const RenderSetupResult usable = CheckOutputName(plan.outputPath); FAILED(usable.status))
        return usable;
    auto prepared = std::make_shared<PreparedSource>();
    if (const RenderSetupResult ready = PrepareSource(plan, prepared.get()); FAILED(ready.status))
        return ready;

    const ContainerProfilePtr containerOwner = NewAviContainerProfile();
    GstEncodingContainerProfile* container = containerOwner.get();
    if (const RenderSetupResult added =
            AddAviStreamProfile(container, *span.videoGroup, plan.video, true);
        FAILED(added.status))
        return added;
    if (span.audioGroup)
        if (const RenderSetupResult added =
                AddAviStreamProfile(container, *span.audioGroup, plan.audio, false);
            FAILED(added.status))
            return added;

    // As the editing services place a clip: the sound from the span's start, the pictures from
    // a quarter frame into the picture it starts in, both for the whole output frames that
    // start inside the span.
    const ReferenceTime lead = pictureLead(source, timing.frameRate);
    const std::int64_t frames =
        FrameCount(source.mediaStop - source.mediaStart,
                   {span.outputRate.numerator, span.outputRate.denominator});
    const GstClockTime length =
        gst_util_uint64_scale(static_cast<guint64>(frames),
                              static_cast<guint64>(span.outputRate.denominator) * GST_SECOND,
                              static_cast<guint64>(span.outputRate.numerator));
    const ReferenceTime seekStart = timing.ToMedia(source.mediaStart);

    if (const RenderSetupResult reserved = ReserveOutput(state, plan.outputPath);
        FAILED(reserved.status))
        return reserved;
    CopyPipelineRequest request;
    request.sourceHasAudio = span.audioGroup != nullptr;
    request.seekStart = seekStart;
    // The sound's decoder gives the last samples of a span only from packets after it.
    request.seekStop = seekStart + lead + NanosecondsToReferenceTime(length) + kSoundReach;
    request.sourcePath = source.mediaName;
    request.sourceUri = MediaUriOf(source.mediaName);
    request.location = state.output.temporaryPath();
    request.container = container;
    const BitmapInfoHeader& picture = span.videoGroup->mediaType.format->bmiHeader;
    request.width = picture.biWidth;
    request.height = picture.biHeight;
    request.frameRate = span.outputRate;
    request.stretch = source.stretchMode == kStretchModeStretch;
    request.videoLead = static_cast<GstClockTime>(ReferenceTimeToNanoseconds(lead));
    request.pictureLength = length;
    request.rotation = timing.rotation;
    if (span.audioGroup) request.audioRoute = plan.audio;
    request.prepared = prepared;
    request.elementAdded = G_CALLBACK(OnDeepElementAdded);
    request.elementAddedData = &state;
    std::string problem;
    GstElement* pipeline =
        request.sourceUri.empty() ? nullptr : MakeStreamCopyPipeline(request, &problem);
    if (!pipeline) {
        state.output.Abandon();
        return SetupFailure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER,
                            problem.empty() ? source.mediaName + " cannot be opened." : problem);
    }
    AdoptPipeline(state, GstPtr<GstElement>(pipeline));
    {
        std::lock_guard lock(state.mutex);
        if (state.encodebin) state.spanGuard = SpanGuard::Attach(state.encodebin.get(), length);
        state.settingUp = false;
    }
    if (!RunStreamCopyPipeline(pipeline, &problem)) return NotStarted(state, problem.c_str());
    RenderSetupResult result;
    result.duration = NanosecondsToReferenceTime(static_cast<std::int64_t>(length));
    return result;
}

}  // namespace media
