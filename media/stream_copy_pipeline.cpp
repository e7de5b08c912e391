#include "media/stream_copy_pipeline.h"

#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "media/avi_stream_format.h"
#include "media/frame_time.h"
#include "media/deinterlacing_stage.h"
#include "media/gst_handles.h"
#include "media/prepared_source.h"

namespace media {
namespace {

GstClockTime toClockTime(ReferenceTime t) {
    return static_cast<GstClockTime>(ReferenceTimeToNanoseconds(std::max<ReferenceTime>(t, 0)));
}

// What the copy pipeline's callbacks share; lives as long as the pipeline.
struct CopyPipelineState {
    std::mutex mutex;
    std::condition_variable changed;
    GstElement* pipeline = nullptr;   // not a reference: the state lives inside it
    GstElement* encodebin = nullptr;  // not a reference either
    bool copiesVideo = false;
    bool copiesAudio = false;
    bool wantsAudio = false;
    int width = 0;
    int height = 0;
    Fraction frameRate;
    bool stretch = false;
    GstClockTime seekStart = 0;
    GstClockTime seekStop = GST_CLOCK_TIME_NONE;
    bool seekToKeyFrame = false;
    // A conversion without a copy (see CopyPipelineRequest).
    bool encodesAll = false;
    GstClockTime videoLead = 0;
    GstClockTime pictureLength = GST_CLOCK_TIME_NONE;
    int rotation = 0;
    std::optional<StreamRoute> audioRoute;
    std::shared_ptr<const PreparedSource> prepared;
    int soundStreamsSeen = 0;
    GstClockTime pictureStop = GST_CLOCK_TIME_NONE;  // the fitted pictures' end (their thread's)
    std::atomic<bool> picturesEnded{false};

    bool videoTaken = false;
    bool audioTaken = false;
    bool cued = false;    // a stream holds its first buffer at the block
    bool seeked = false;  // the span is sought: the blocks go
    struct Hold {
        GstPtr<GstPad> pad;  // a source's pad
        gulong block;
        gulong flushDrop;
    };
    std::vector<Hold> blocks;
    GstClockTime written = 0;  // running time of the furthest buffer into the encoding bin
};

CopyPipelineState* stateOf(GstElement* pipeline) {
    return static_cast<CopyPipelineState*>(
        g_object_get_data(G_OBJECT(pipeline), "framewell-copy-state"));
}

GstPad* encodingBinPad(GstElement* encodebin, bool video) {
    GstPad* found = nullptr;
    const IteratorPtr pads(gst_element_iterate_sink_pads(encodebin));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(pads.get(), &item) == GST_ITERATOR_OK) {
        auto* pad = GST_PAD(g_value_get_object(&item));
        if (g_str_has_prefix(GST_PAD_NAME(pad), video ? "video" : "audio") &&
            !gst_pad_is_linked(pad))
            found = GST_PAD(gst_object_ref(pad));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return found;
}

// The segment a pad's data lies in, valid as long as the returned event is held; null without
// one.
EventPtr stickySegment(GstPad* pad, const GstSegment** segment) {
    EventPtr event(gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0));
    if (event) gst_event_parse_segment(event.get(), segment);
    return event;
}

// Runs on a streaming thread: how far the output has come, for progress.
GstPadProbeReturn noteWritten(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstClockTime time = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(time)) time = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(time)) return GST_PAD_PROBE_OK;
    if (GST_BUFFER_DURATION_IS_VALID(buffer)) time += GST_BUFFER_DURATION(buffer);
    const GstSegment* segment = nullptr;
    const EventPtr event = stickySegment(pad, &segment);
    if (!event) return GST_PAD_PROBE_OK;
    const GstClockTime running = gst_segment_to_running_time(segment, GST_FORMAT_TIME, time);
    if (GST_CLOCK_TIME_IS_VALID(running)) {
        std::lock_guard lock(state->mutex);
        state->written = std::max(state->written, running);
    }
    return GST_PAD_PROBE_OK;
}

// Runs on the thread that asks: the position of a copy is how far its output has come. The
// file writer downstream counts bytes, not time.
GstPadProbeReturn answerPosition(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_POSITION) return GST_PAD_PROBE_OK;
    GstFormat format = GST_FORMAT_UNDEFINED;
    gst_query_parse_position(query, &format, nullptr);
    if (format != GST_FORMAT_TIME) return GST_PAD_PROBE_OK;
    auto* state = static_cast<CopyPipelineState*>(data);
    std::lock_guard lock(state->mutex);
    gst_query_set_position(query, GST_FORMAT_TIME, static_cast<gint64>(state->written));
    return GST_PAD_PROBE_HANDLED;
}

void linkIntoEncodingBin(CopyPipelineState* state, GstPad* source, bool video) {
    GstPtr<GstPad> target(encodingBinPad(state->encodebin, video));
    if (!target) return;
    // A conversion's sound runs seconds ahead of its pictures into the encoders, and a stop
    // ends the sound with the pictures: the pictures tell how far it has come.
    if (video || !state->encodesAll)
        gst_pad_add_probe(target.get(), GST_PAD_PROBE_TYPE_BUFFER, noteWritten, state, nullptr);
    gst_pad_link(source, target.get());
}

// Runs on a streaming thread: PCM is cut to the span to the sample, as a decoder would cut it.
GstPadProbeReturn clipSamples(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    CapsPtr caps(gst_pad_get_current_caps(pad));
    GstAudioInfo audio;
    if (!caps || !gst_audio_info_from_caps(&audio, caps.get())) return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    const EventPtr event = stickySegment(pad, &segment);
    if (!event) return GST_PAD_PROBE_OK;
    GstBuffer* clipped =
        gst_audio_buffer_clip(GST_PAD_PROBE_INFO_BUFFER(info), segment, GST_AUDIO_INFO_RATE(&audio),
                              GST_AUDIO_INFO_BPF(&audio));
    GST_PAD_PROBE_INFO_DATA(info) = clipped;
    // Without a sample inside the span the buffer is gone already.
    return clipped ? GST_PAD_PROBE_OK : GST_PAD_PROBE_HANDLED;
}

// Runs on a streaming thread. Some demultiplexers (AVI's among them) go on past the end of a
// sought span; a copied stream ends there. The decoding time decides: a picture decoded after
// the end is shown after it too.
GstPadProbeReturn endAtStop(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstClockTime time = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(time)) time = GST_BUFFER_PTS(buffer);
    const GstSegment* segment = nullptr;
    const EventPtr event = stickySegment(pad, &segment);
    if (!event || !GST_CLOCK_TIME_IS_VALID(time)) return GST_PAD_PROBE_OK;
    const bool past = segment->format == GST_FORMAT_TIME &&
                      GST_CLOCK_TIME_IS_VALID(segment->stop) && time >= segment->stop;
    if (!past) return GST_PAD_PROBE_OK;
    // Once ended, the pad answers every later buffer with end-of-stream itself.
    gst_pad_push_event(pad, gst_event_new_eos());
    return GST_PAD_PROBE_DROP;
}

// The segment event a probe holds becomes one of this segment, keeping its sequence number.
void replaceSegment(GstPadProbeInfo* info, const GstSegment& segment) {
    const EventPtr replaced(GST_PAD_PROBE_INFO_EVENT(info));
    GstEvent* replacement = gst_event_new_segment(&segment);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(replaced.get()));
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
}

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
    replaceSegment(info, later);
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
    replaceSegment(info, open);
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
        linkIntoEncodingBin(state, pad, false);
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
    linkIntoEncodingBin(state, out.get(), false);
    GstPtr<GstPad> in(gst_element_get_static_pad(convert, "sink"));
    gst_pad_link(pad, in.get());
}

// Runs on a streaming thread: a decoded picture of a stream that is encoded goes through the
// fitting chain. A conversion's decoded sound goes in as linkSound says; sound that a copy
// encodes goes straight in (the encoding bin converts it).
void decodedPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    const bool video = IsVideoCaps(caps.get());
    if (!video) {
        if (state->encodesAll)
            linkSound(state, pad);
        else
            linkIntoEncodingBin(state, pad, false);
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
    linkIntoEncodingBin(state, out.get(), true);
    GstPtr<GstPad> in(gst_element_get_static_pad(first, "sink"));
    gst_pad_link(pad, in.get());
}

// Runs on a streaming thread: until the span is sought, the source's streams stop at their
// first buffer.
GstPadProbeReturn holdUntilSought(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    {
        std::lock_guard lock(state->mutex);
        state->cued = true;
    }
    state->changed.notify_all();
    return GST_PAD_PROBE_OK;
}

// Runs on a streaming thread: the seek's flush stays out of the encoding bin, which has seen no
// data yet.
GstPadProbeReturn dropFlush(GstPad*, GstPadProbeInfo*, gpointer) {
    return GST_PAD_PROBE_DROP;
}

// Runs on a streaming thread: a stream that is not written is read and dropped. (A sink of its
// own would answer position queries with its own times.)
GstPadProbeReturn dropAll(GstPad*, GstPadProbeInfo*, gpointer) {
    return GST_PAD_PROBE_DROP;
}

// Runs on a streaming thread: whether the source's stream is the first picture stream or the
// first sound stream, which are taken; *video says which. Until the span is sought, a taken
// stream holds at its first buffer.
bool takeStream(CopyPipelineState* state, GstPad* pad, GstCaps* caps, bool* video) {
    bool take = false;
    *video = false;
    {
        std::lock_guard lock(state->mutex);
        if (IsVideoCaps(caps) && !state->videoTaken) {
            state->videoTaken = take = *video = true;
        } else if (IsAudioCaps(caps) && state->wantsAudio && !state->audioTaken) {
            const int number = ++state->soundStreamsSeen;
            state->audioTaken = take =
                state->prepared ? IsChosenSoundStream(state->prepared->choices, pad, number)
                                : number == 1;
        }
        if (take && !state->seeked) {
            const auto held =
                static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER);
            state->blocks.push_back({GstPtr<GstPad>(GST_PAD(gst_object_ref(pad))),
                                     gst_pad_add_probe(pad, held, holdUntilSought, state, nullptr),
                                     gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_FLUSH,
                                                       dropFlush, nullptr, nullptr)});
        }
    }
    // A stream that is not written is read and dropped.
    if (!take)
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, dropAll, nullptr, nullptr);
    return take;
}

// Runs on a streaming thread: a taken stream of the copy is copied, or decoded for encoding.
void parsedPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    bool video = false;
    if (!takeStream(state, pad, caps.get(), &video)) return;
    const bool copied = video ? state->copiesVideo : state->copiesAudio;
    if (copied) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, endAtStop, nullptr, nullptr);
        if (!video && IsAudioCaps(caps.get()) &&
            gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "audio/x-raw"))
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, clipSamples, nullptr, nullptr);
        linkIntoEncodingBin(state, pad, video);
        return;
    }
    GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
    if (!decoder) return;
    g_signal_connect(decoder, "pad-added", G_CALLBACK(decodedPadAdded), state);
    gst_bin_add(GST_BIN(state->pipeline), decoder);
    gst_element_sync_state_with_parent(decoder);
    GstPtr<GstPad> in(gst_element_get_static_pad(decoder, "sink"));
    gst_pad_link(pad, in.get());
}

// Runs on a streaming thread: a conversion's source is decoded as a player decodes it, seeking
// included; a taken stream goes through its fitting chain.
void sourceDecodedPadAdded(GstElement* source, GstPad* pad, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    bool video = false;
    if (takeStream(state, pad, caps.get(), &video)) decodedPadAdded(source, pad, state);
}

void freeState(gpointer data) {
    delete static_cast<CopyPipelineState*>(data);
}

}  // namespace

GstCaps* CopiedStreamCaps(const std::string& description) {
    return gst_caps_from_string(description.c_str());
}

GstElement* MakeStreamCopyPipeline(const CopyPipelineRequest& request, std::string* error) {
    const bool decodes = !request.sourceUri.empty();
    GstPtr<GstElement> pipelineOwner = Sunk(gst_pipeline_new(nullptr));
    const GstPtr<GstElement> sourceOwner = MakeElement(decodes ? "uridecodebin" : "filesrc");
    const GstPtr<GstElement> parserOwner = decodes ? nullptr : MakeElement("parsebin");
    const GstPtr<GstElement> encodebinOwner = MakeElement("encodebin");
    const GstPtr<GstElement> sinkOwner = MakeElement("filesink");
    if (!pipelineOwner || !sourceOwner || (!decodes && !parserOwner) || !encodebinOwner ||
        !sinkOwner) {
        if (error)
            *error = "The media framework lacks an element of the conversion (parsebin, encodebin).";
        return nullptr;
    }
    GstElement* pipeline = pipelineOwner.get();
    GstElement* source = sourceOwner.get();
    GstElement* parser = parserOwner.get();
    GstElement* encodebin = encodebinOwner.get();
    GstElement* sink = sinkOwner.get();
    auto* state = new CopyPipelineState;
    state->pipeline = pipeline;
    state->encodebin = encodebin;
    state->copiesVideo = request.copiesVideo;
    state->copiesAudio = request.copiesAudio;
    state->wantsAudio = request.sourceHasAudio;
    state->width = request.width;
    state->height = request.height;
    state->frameRate = request.frameRate;
    state->stretch = request.stretch;
    state->seekStart = toClockTime(request.seekStart);
    state->seekStop = toClockTime(request.seekStop);
    state->seekToKeyFrame = request.seekToKeyFrame;
    state->encodesAll = decodes;
    state->videoLead = request.videoLead;
    state->pictureLength = request.pictureLength;
    state->rotation = request.rotation;
    state->audioRoute = request.audioRoute;
    state->prepared = request.prepared;
    g_object_set_data_full(G_OBJECT(pipeline), "framewell-copy-state", state, freeState);

    if (decodes)
        g_object_set(source, "uri", request.sourceUri.c_str(), nullptr);
    else
        g_object_set(source, "location", request.sourcePath.c_str(), nullptr);
    g_object_set(sink, "location", request.location.c_str(), nullptr);
    // Whoever watches the pipeline's elements sees the encoding bin's too: they are made when
    // it gets its profile, below.
    if (request.elementAdded)
        g_signal_connect(pipeline, "deep-element-added", request.elementAdded,
                         request.elementAddedData);
    gst_bin_add_many(GST_BIN(pipeline), source, encodebin, sink, nullptr);
    if (parser) gst_bin_add(GST_BIN(pipeline), parser);
    // The encoding bin passes a copied stream (the sound, where only it is copied) through its
    // parser alone.
    g_object_set(encodebin, "profile", request.container, nullptr);
    if ((!decodes && !gst_element_link(source, parser)) || !gst_element_link(encodebin, sink)) {
        if (error) *error = "The conversion's elements could not be connected.";
        return nullptr;
    }
    GstPtr<GstPad> sinkPad(gst_element_get_static_pad(sink, "sink"));
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, answerPosition, state,
                      nullptr);
    if (decodes)
        g_signal_connect(source, "pad-added", G_CALLBACK(sourceDecodedPadAdded), state);
    else
        g_signal_connect(parser, "pad-added", G_CALLBACK(parsedPadAdded), state);
    return pipelineOwner.release();
}

bool RunStreamCopyPipeline(GstElement* pipeline, std::string* error) {
    CopyPipelineState* state = stateOf(pipeline);
    if (!state) return false;
    if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        if (error) *error = "The source could not be read.";
        return false;
    }
    // The streams hold at their first buffer; the pipeline cannot finish its cue before the
    // span is sought, so the wait is for the blocks, a slice at a time, watching for failure.
    // The parsing bin shows all of a file's streams before any data leaves it, so the first
    // block finds every stream linked.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::unique_lock lock(state->mutex);
    while (!state->cued) {
        if (std::chrono::steady_clock::now() >= until) {
            if (error) *error = "The source could not be read in time.";
            return false;
        }
        state->changed.wait_for(lock, std::chrono::milliseconds(20));
        lock.unlock();
        const GstStateChangeReturn now = gst_element_get_state(pipeline, nullptr, nullptr, 0);
        lock.lock();
        if (now == GST_STATE_CHANGE_FAILURE) {
            if (error) *error = "The source could not be read.";
            return false;
        }
    }
    if (state->blocks.empty()) {
        if (error) *error = "The source holds no stream to write.";
        return false;
    }
    GstPtr<GstPad> seekPad(GST_PAD(gst_object_ref(state->blocks.front().pad.get())));
    const auto flags = static_cast<GstSeekFlags>(
        GST_SEEK_FLAG_FLUSH |
        (state->seekToKeyFrame ? GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE
                               : GST_SEEK_FLAG_ACCURATE));
    const GstClockTime start = state->seekStart;
    const GstClockTime stop = state->seekStop;
    lock.unlock();
    // Sent up from a source pad of the parsing bin: it reaches the demultiplexer, which seeks
    // every stream.
    const gboolean sought = gst_pad_send_event(
        seekPad.get(), gst_event_new_seek(1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                                          static_cast<gint64>(start), GST_SEEK_TYPE_SET,
                                          static_cast<gint64>(stop)));
    lock.lock();
    state->seeked = true;
    std::vector<CopyPipelineState::Hold> blocks = std::move(state->blocks);
    state->blocks.clear();
    lock.unlock();
    for (const CopyPipelineState::Hold& hold : blocks) {
        gst_pad_remove_probe(hold.pad.get(), hold.flushDrop);
        gst_pad_remove_probe(hold.pad.get(), hold.block);
    }
    if (!sought) {
        if (error) *error = "The span could not be found in the source.";
        return false;
    }
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        if (error) *error = "The conversion could not be started.";
        return false;
    }
    return true;
}

}  // namespace media
