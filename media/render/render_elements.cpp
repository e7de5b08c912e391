// GLib's headers come before Qt's: GIO names a struct member "signals", which Qt defines as a
// keyword.
#include <gst/video/video.h>

#include "media/render/render_elements.h"

#include <algorithm>
#include <string>

#include "media/core/frame_time.h"
#include "media/encoders/timestamp_restorer.h"
#include "media/render/avi_stream_format.h"
#include "media/render/render_session_state.h"
#include "media/source/decoding_repairs.h"
#include "media/source/source_timing.h"

namespace media {
namespace {

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

// A conversion already decodes, fits and encodes each stream on threads of its own, which keep
// the processors busy. Frame threads of a libav video decoder beyond half of them only add their
// hand-offs: on two processors one decoding thread spends a tenth less time than two, for the
// same pictures in the same wall time. libav's sound decoders have no such threads.
void leaveProcessorsToEncoders(GstElement* element) {
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "max-threads");
    if (!spec || G_PARAM_SPEC_VALUE_TYPE(spec) != G_TYPE_INT) return;
    g_object_set(element, "max-threads", std::max(1, static_cast<int>(g_get_num_processors()) / 2),
                 nullptr);
}

}  // namespace

void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
    auto* state = static_cast<RenderSessionState*>(data);
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory) return;
    const std::string name = GST_OBJECT_NAME(factory);
    if (name == "encodebin") {
        std::lock_guard lock(state->mutex);
        if (!state->encodebin) state->encodebin.reset(GST_ELEMENT(gst_object_ref(element)));
        return;
    }
    RepairDecodingElement(element);
    state->sourceEnds->Watch(element);
    state->streamHoles->Watch(element);
    if (name == "compositor") {
        g_signal_connect(element, "pad-added", G_CALLBACK(useLinearScaling), nullptr);
        return;
    }
    if (name.rfind("avdec_", 0) == 0) leaveProcessorsToEncoders(element);
    if (!FactoryKlassHas(factory, "Encoder")) return;
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
    if (FactoryKlassHas(factory, "Video")) InstallTimestampRestorer(element);
}

void ExpectSourceEnds(RenderSessionState& state, const TimelineModel& model) {
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

}  // namespace media
