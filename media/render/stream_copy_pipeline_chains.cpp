// The chains a decoded stream of the plain pipeline goes through on its way to the encoding
// bin: pictures turned upright, deinterlaced, fitted to the output's frame and rate and given
// their subtitles, each within the span; sound mixed down to what its encoder takes.

#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>

#include "media/core/gst_handles.h"
#include "media/render/avi_stream_format.h"
#include "media/render/prepared_source.h"
#include "media/render/stream_copy_pipeline.h"
#include "media/render/stream_copy_pipeline_state.h"
#include "media/source/deinterlacing_stage.h"

namespace media {
namespace {

// Runs on a streaming thread. The pictures' span starts videoLead later than the sound's: each
// output frame then takes the picture whose time is nearest to its own plus the lead, so that
// pictures whose times the container rounded or jittered never lose to a neighbour. It lasts
// pictureLength.
GstPadProbeReturn delayPictureSpan(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    if (segment->format != GST_FORMAT_TIME || segment->rate < 0) return GST_PAD_PROBE_OK;
    const auto* state = static_cast<CopyPipelineState*>(data);
    GstSegment later;
    gst_segment_copy_into(segment, &later);
    later.start += state->videoLead;
    if (GST_CLOCK_TIME_IS_VALID(later.time)) later.time += state->videoLead;
    later.position = std::max(later.position, later.start);
    if (GST_CLOCK_TIME_IS_VALID(state->pictureLength))
        later.stop = later.start + state->pictureLength;
    ReplaceSegment(info, later);
    return GST_PAD_PROBE_OK;
}

// Runs on the fitted pictures' streaming thread. The pictures end at the span's end: a
// demultiplexer that reads on past it (the program stream's) gives no picture more. The
// encoding bin is not told that end, as its own rate keeper would repeat the last picture up to
// it once the pictures end early, as they do after a stop.
GstPadProbeReturn endPicturesAtStop(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        const GstClockTime time = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
        if (!GST_CLOCK_TIME_IS_VALID(time) || !GST_CLOCK_TIME_IS_VALID(state->pictureStop) ||
            time < state->pictureStop)
            return GST_PAD_PROBE_OK;
        // Once ended, the pad answers every later buffer with end-of-stream itself.
        state->picturesEnded = true;
        gst_pad_push_event(pad, gst_event_new_eos());
        return GST_PAD_PROBE_DROP;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    if (segment->format != GST_FORMAT_TIME) return GST_PAD_PROBE_OK;
    state->pictureStop = segment->stop;
    if (!GST_CLOCK_TIME_IS_VALID(segment->stop)) return GST_PAD_PROBE_OK;
    GstSegment open;
    gst_segment_copy_into(segment, &open);
    open.stop = GST_CLOCK_TIME_NONE;
    ReplaceSegment(info, open);
    return GST_PAD_PROBE_OK;
}

// Runs on the decoded pictures' streaming thread: once the fitted pictures have ended, the
// decoder goes on with the pictures up to the span's sought stop, and the fitting chain answers
// them, past its end, with an error now and then (seen with a single-threaded decoder), which
// would fail a finished conversion. They end at the decoder instead.
GstPadProbeReturn refuseAfterEnd(GstPad*, GstPadProbeInfo* info, gpointer data) {
    if (!static_cast<CopyPipelineState*>(data)->picturesEnded) return GST_PAD_PROBE_OK;
    gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_EOS;
    return GST_PAD_PROBE_HANDLED;
}

// The frame the pictures are fitted to. A conversion keeps the source's description of its
// colours: without it the scaler would also convert them to the standard of the new size,
// which costs more than decoding does, and the file does not say which standard it uses.
GstCaps* fittedCaps(const CopyPipelineState* state, GstCaps* decoded) {
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, state->width, "height",
                                        G_TYPE_INT, state->height, "framerate", GST_TYPE_FRACTION,
                                        state->frameRate.numerator, state->frameRate.denominator,
                                        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    // A source that does not say is taken to use the standard of its own size, as the scaler
    // would take it.
    GstVideoInfo source;
    if (!state->encodesAll || !decoded || !gst_video_info_from_caps(&source, decoded)) return caps;
    if (GCharPtr colorimetry(gst_video_colorimetry_to_string(&source.colorimetry)); colorimetry)
        gst_caps_set_simple(caps, "colorimetry", G_TYPE_STRING, colorimetry.get(), nullptr);
    if (const gchar* site =
            gst_structure_get_string(gst_caps_get_structure(decoded, 0), "chroma-site"))
        gst_caps_set_simple(caps, "chroma-site", G_TYPE_STRING, site, nullptr);
    return caps;
}

// Pictures whose source says they are turned are turned upright first; nullptr when they stand.
GstPtr<GstElement> makeTurn(int rotation) {
    const char* direction = rotation == 90    ? "90r"
                            : rotation == 180 ? "180"
                            : rotation == 270 ? "90l"
                                              : nullptr;
    if (!direction) return nullptr;
    GstPtr<GstElement> flip = MakeElement("videoflip");
    if (flip) gst_util_set_object_arg(G_OBJECT(flip.get()), "video-direction", direction);
    return flip;
}

// Runs on a streaming thread: the decoded sound of a conversion goes in interleaved (as the
// span guard cuts it), mixed down to what the encoder, or the file for raw sound, takes.
void linkSound(CopyPipelineState* state, GstPad* pad) {
    CapsPtr caps(gst_pad_get_current_caps(pad));
    GstAudioInfo info;
    const int channels =
        caps && gst_audio_info_from_caps(&info, caps.get()) ? GST_AUDIO_INFO_CHANNELS(&info) : 0;
    const int wanted =
        state->audioRoute ? OutputChannelsFor(*state->audioRoute, channels) : channels;
    const GstPtr<GstElement> convertOwner = MakeElement("audioconvert");
    const GstPtr<GstElement> filterOwner = MakeElement("capsfilter");
    GstElement* convert = convertOwner.get();
    GstElement* filter = filterOwner.get();
    if (!convert || !filter) {
        LinkIntoEncodingBin(state, pad, false);
        return;
    }
    CapsPtr interleaved(
        gst_caps_new_simple("audio/x-raw", "layout", G_TYPE_STRING, "interleaved", nullptr));
    if (wanted > 0 && wanted != channels)
        gst_caps_set_simple(interleaved.get(), "channels", G_TYPE_INT, wanted, nullptr);
    g_object_set(filter, "caps", interleaved.get(), nullptr);
    gst_bin_add_many(GST_BIN(state->pipeline), convert, filter, nullptr);
    gst_element_link(convert, filter);
    for (GstElement* e : {filter, convert}) gst_element_sync_state_with_parent(e);
    GstPtr<GstPad> out(gst_element_get_static_pad(filter, "src"));
    LinkIntoEncodingBin(state, out.get(), false);
    GstPtr<GstPad> in(gst_element_get_static_pad(convert, "sink"));
    gst_pad_link(pad, in.get());
}

}  // namespace

// Runs on a streaming thread: a decoded picture of a stream that is encoded goes through the
// fitting chain. A conversion's decoded sound goes in as linkSound says; sound that a copy
// encodes goes straight in (the encoding bin converts it).
void DecodedPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    const bool video = IsVideoCaps(caps.get());
    if (!video) {
        if (state->encodesAll)
            linkSound(state, pad);
        else
            LinkIntoEncodingBin(state, pad, false);
        return;
    }
    const GstPtr<GstElement> turnOwner = state->encodesAll ? makeTurn(state->rotation) : nullptr;
    const GstPtr<GstElement> owners[] = {MakeElement("videoconvert"), MakeElement("videoscale"),
                                         MakeElement("videorate"), MakeElement("capsfilter")};
    GstElement* turn = turnOwner.get();
    GstElement* convert = owners[0].get();
    GstElement* scale = owners[1].get();
    GstElement* rate = owners[2].get();
    GstElement* filter = owners[3].get();
    if (!convert || !scale || !rate || !filter) return;
    // Bars keep the aspect of the picture unless it is to fill the frame, as in a render.
    g_object_set(scale, "add-borders", state->stretch ? FALSE : TRUE, "method", 1, nullptr);
    CapsPtr decoded(gst_pad_get_current_caps(pad));
    CapsPtr fitted(fittedCaps(state, decoded.get()));
    g_object_set(filter, "caps", fitted.get(), nullptr);
    gst_bin_add_many(GST_BIN(state->pipeline), convert, scale, rate, filter, nullptr);
    gst_element_link_many(convert, scale, rate, filter, nullptr);
    GstElement* first = convert;
    if (turn) {
        gst_bin_add(GST_BIN(state->pipeline), turn);
        gst_element_link(turn, convert);
        first = turn;
    }
    // Fields are woven into pictures before anything scales them.
    GstElement* deinterlacer =
        state->prepared && state->prepared->deinterlace ? MakeDeinterlacer() : nullptr;
    if (deinterlacer) {
        gst_bin_add(GST_BIN(state->pipeline), deinterlacer);
        gst_element_link(deinterlacer, first);
        first = deinterlacer;
    }
    for (GstElement* e : {filter, rate, scale, convert}) gst_element_sync_state_with_parent(e);
    if (turn) gst_element_sync_state_with_parent(turn);
    if (deinterlacer) gst_element_sync_state_with_parent(deinterlacer);
    if (state->encodesAll) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, delayPictureSpan, state,
                          nullptr);
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, refuseAfterEnd, state, nullptr);
    }
    GstPtr<GstPad> out(gst_element_get_static_pad(filter, "src"));
    // Subtitles are drawn on the pictures as the file gets them.
    if (state->prepared && state->prepared->subtitles.cues) {
        SubtitleOverlayRequest overlay = state->prepared->subtitles;
        if (const GstStructure* s = decoded ? gst_caps_get_structure(decoded.get(), 0) : nullptr) {
            gst_structure_get_int(s, "width", &overlay.sourceWidth);
            gst_structure_get_int(s, "height", &overlay.sourceHeight);
        }
        if (GstPad* drawn = AttachSubtitleOverlay(GST_BIN(state->pipeline), out.get(), overlay))
            out.reset(drawn);
    }
    if (state->encodesAll)
        gst_pad_add_probe(out.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          endPicturesAtStop, state, nullptr);
    LinkIntoEncodingBin(state, out.get(), true);
    GstPtr<GstPad> in(gst_element_get_static_pad(first, "sink"));
    gst_pad_link(pad, in.get());
}

}  // namespace media
