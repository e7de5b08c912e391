#include "media/render/stream_copy_pipeline.h"

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

#include "media/core/frame_time.h"
#include "media/core/gst_handles.h"
#include "media/render/avi_stream_format.h"
#include "media/render/prepared_source.h"
#include "media/render/stream_copy_pipeline_state.h"
#include "media/source/deinterlacing_stage.h"

namespace media {
namespace {

GstClockTime toClockTime(ReferenceTime t) {
    return static_cast<GstClockTime>(ReferenceTimeToNanoseconds(std::max<ReferenceTime>(t, 0)));
}

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
        LinkIntoEncodingBin(state, pad, video);
        return;
    }
    GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
    if (!decoder) return;
    g_signal_connect(decoder, "pad-added", G_CALLBACK(DecodedPadAdded), state);
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
    if (takeStream(state, pad, caps.get(), &video)) DecodedPadAdded(source, pad, state);
}

void freeState(gpointer data) {
    delete static_cast<CopyPipelineState*>(data);
}

}  // namespace

// The segment event a probe holds becomes one of this segment, keeping its sequence number.
void ReplaceSegment(GstPadProbeInfo* info, const GstSegment& segment) {
    const EventPtr replaced(GST_PAD_PROBE_INFO_EVENT(info));
    GstEvent* replacement = gst_event_new_segment(&segment);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(replaced.get()));
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
}

void LinkIntoEncodingBin(CopyPipelineState* state, GstPad* source, bool video) {
    GstPtr<GstPad> target(encodingBinPad(state->encodebin, video));
    if (!target) return;
    // A conversion's sound runs seconds ahead of its pictures into the encoders, and a stop
    // ends the sound with the pictures: the pictures tell how far it has come.
    if (video || !state->encodesAll)
        gst_pad_add_probe(target.get(), GST_PAD_PROBE_TYPE_BUFFER, noteWritten, state, nullptr);
    gst_pad_link(source, target.get());
}

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
