#include "media/render/span_guard.h"

#include <gst/audio/audio.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "media/core/gst_handles.h"
#include "media/render/avi_stream_format.h"

namespace media {

struct SpanGuardState {
    std::mutex mutex;
    GstClockTime plannedEnd = GST_CLOCK_TIME_NONE;
    // The cut after a stop: where the pictures end, and at least as far as the sound already
    // written. Until the pictures reach it they go on.
    GstClockTime stopAt = GST_CLOCK_TIME_NONE;
    bool stopping = false;
    bool picturesEndRequested = false;
    GstClockTime picturesIn = 0;  // running time reached at the encoding bin's inputs
    GstClockTime soundIn = 0;
    bool soundEnded = false;
    bool soundEndRequested = false;
    GstClockTime picturesOut = 0;  // ... and at the multiplexer's
    GstClockTime soundOut = 0;
    GstPtr<GstElement> encodebin;
    std::vector<GstPtr<GstPad>> pictureInputs;
    std::vector<GstPtr<GstPad>> soundInputs;

    GstClockTime cut() const {
        if (!GST_CLOCK_TIME_IS_VALID(stopAt)) return plannedEnd;
        if (!GST_CLOCK_TIME_IS_VALID(plannedEnd)) return stopAt;
        return std::min(stopAt, plannedEnd);
    }

    // Ends the streams of the inputs, from one of GStreamer's own threads: the caller may be
    // a streaming thread of theirs, which must first finish the buffer in hand. Called locked.
    void end(const std::vector<GstPtr<GstPad>>& inputs) {
        for (const GstPtr<GstPad>& pad : inputs) {
            gst_element_call_async(
                encodebin.get(),
                [](GstElement*, gpointer data) {
                    gst_pad_send_event(GST_PAD(data), gst_event_new_eos());
                },
                gst_object_ref(pad.get()), gst_object_unref);
        }
    }
    void endSound() {
        if (soundEnded || soundEndRequested) return;
        soundEndRequested = true;
        end(soundInputs);
    }
    void endPictures() {
        if (picturesEndRequested) return;
        picturesEndRequested = true;
        end(pictureInputs);
    }
};

namespace {

struct PadWatch {
    std::shared_ptr<SpanGuardState> state;
    bool pictures = false;
    bool input = false;  // the encoding bin's input, else the multiplexer's
    GstSegment segment{};
    GstAudioInfo audio{};
    bool rawAudio = false;
};

void releaseWatch(gpointer data) {
    delete static_cast<PadWatch*>(data);
}

// Raw sound shortened to end at the cut; nullptr when none of it comes before the cut.
// Compressed sound goes whole or not at all.
GstBuffer* cutSound(GstBuffer* buffer, const PadWatch& watch, GstClockTime start,
                    GstClockTime cut) {
    if (start >= cut) return nullptr;
    if (!watch.rawAudio || GST_AUDIO_INFO_RATE(&watch.audio) <= 0) return buffer;
    const guint64 frames =
        gst_util_uint64_scale_round(cut - start, GST_AUDIO_INFO_RATE(&watch.audio), GST_SECOND);
    const gsize bytes = static_cast<gsize>(frames) * GST_AUDIO_INFO_BPF(&watch.audio);
    if (bytes == 0) return nullptr;
    if (bytes >= gst_buffer_get_size(buffer)) return buffer;
    buffer = gst_buffer_make_writable(buffer);
    gst_buffer_resize(buffer, 0, static_cast<gssize>(bytes));
    GST_BUFFER_DURATION(buffer) = cut - start;
    return buffer;
}

// Runs on the streaming thread of the pad.
GstPadProbeReturn watchPad(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& watch = *static_cast<PadWatch*>(data);
    SpanGuardState& state = *watch.state;
    if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        switch (GST_EVENT_TYPE(event)) {
            case GST_EVENT_SEGMENT: {
                const GstSegment* segment = nullptr;
                gst_event_parse_segment(event, &segment);
                gst_segment_copy_into(segment, &watch.segment);
                break;
            }
            case GST_EVENT_CAPS: {
                GstCaps* caps = nullptr;
                gst_event_parse_caps(event, &caps);
                watch.rawAudio =
                    caps && !gst_caps_is_empty(caps) &&
                    gst_structure_has_name(gst_caps_get_structure(caps, 0), "audio/x-raw") &&
                    gst_audio_info_from_caps(&watch.audio, caps);
                break;
            }
            case GST_EVENT_FLUSH_STOP:
                gst_segment_init(&watch.segment, GST_FORMAT_TIME);
                break;
            case GST_EVENT_EOS: {
                if (!watch.input) break;
                std::lock_guard lock(state.mutex);
                if (!watch.pictures) state.soundEnded = true;
                break;
            }
            default:
                break;
        }
        return GST_PAD_PROBE_OK;
    }

    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || watch.segment.format != GST_FORMAT_TIME)
        return GST_PAD_PROBE_OK;
    const GstClockTime start = gst_segment_to_running_time(&watch.segment, GST_FORMAT_TIME, pts);
    if (!GST_CLOCK_TIME_IS_VALID(start)) return GST_PAD_PROBE_OK;
    GstClockTime duration = GST_BUFFER_DURATION(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(duration) && watch.rawAudio &&
        GST_AUDIO_INFO_RATE(&watch.audio) > 0)
        duration = gst_util_uint64_scale(
            gst_buffer_get_size(buffer) / std::max(GST_AUDIO_INFO_BPF(&watch.audio), 1), GST_SECOND,
            GST_AUDIO_INFO_RATE(&watch.audio));
    const GstClockTime end = start + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 0);

    std::lock_guard lock(state.mutex);
    if (watch.pictures) {
        // The end of the pictures is on its way: none follows the last one.
        if (watch.input && state.picturesEndRequested) return GST_PAD_PROBE_DROP;
        GstClockTime& reached = watch.input ? state.picturesIn : state.picturesOut;
        reached = std::max(reached, end);
        // After a stop the pictures go on to the cut, this one the last.
        if (watch.input && state.stopping && end >= state.stopAt) state.endPictures();
        return GST_PAD_PROBE_OK;
    }
    const GstClockTime cut = state.cut();
    GstClockTime& reached = watch.input ? state.soundIn : state.soundOut;
    if (GST_CLOCK_TIME_IS_VALID(cut) && end > cut) {
        if (watch.input && GST_CLOCK_TIME_IS_VALID(state.stopAt)) state.endSound();
        GstBuffer* kept = cutSound(buffer, watch, start, cut);
        if (!kept) return GST_PAD_PROBE_DROP;
        GST_PAD_PROBE_INFO_DATA(info) = kept;
        reached = std::max(reached, std::min(end, cut));
        return GST_PAD_PROBE_OK;
    }
    reached = std::max(reached, end);
    return GST_PAD_PROBE_OK;
}

void watch(GstPad* pad, const std::shared_ptr<SpanGuardState>& state, bool pictures, bool input) {
    auto* watch = new PadWatch{state, pictures, input};
    gst_segment_init(&watch->segment, GST_FORMAT_TIME);
    gst_pad_add_probe(pad,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      watchPad, watch, releaseWatch);
}

bool carriesPictures(GstPad* pad) {
    if (g_str_has_prefix(GST_PAD_NAME(pad), "video")) return true;
    if (g_str_has_prefix(GST_PAD_NAME(pad), "audio")) return false;
    const CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    return caps && !gst_caps_is_empty(caps.get()) &&
           g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)),
                            "video/");
}

std::vector<GstPtr<GstPad>> sinkPadsOf(GstElement* element) {
    std::vector<GstPtr<GstPad>> pads;
    const IteratorPtr iterator(gst_element_iterate_sink_pads(element));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(iterator.get(), &item) == GST_ITERATOR_OK) {
        pads.emplace_back(GST_PAD(g_value_dup_object(&item)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return pads;
}

}  // namespace

SpanGuard::SpanGuard(std::shared_ptr<SpanGuardState> state) : state_(std::move(state)) {}

std::shared_ptr<SpanGuard> SpanGuard::Attach(GstElement* encodebin, GstClockTime plannedEnd) {
    auto state = std::make_shared<SpanGuardState>();
    state->plannedEnd = plannedEnd;
    state->encodebin.reset(GST_ELEMENT(gst_object_ref(encodebin)));
    for (GstPtr<GstPad>& pad : sinkPadsOf(encodebin)) {
        const bool pictures = carriesPictures(pad.get());
        watch(pad.get(), state, pictures, true);
        (pictures ? state->pictureInputs : state->soundInputs).push_back(std::move(pad));
    }
    if (const GstPtr<GstElement> muxer = MultiplexerIn(encodebin))
        for (const GstPtr<GstPad>& pad : sinkPadsOf(muxer.get()))
            watch(pad.get(), state, carriesPictures(pad.get()), false);
    return std::make_shared<SpanGuard>(state);
}

void SpanGuard::EndPicturesNow() {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    // The multiplexer writes sound somewhat ahead of the pictures it has; what it wrote stays.
    // The cut is the later of the two, and the pictures go on to it.
    state_->stopAt = std::max(state_->picturesIn, state_->soundOut);
    if (state_->pictureInputs.empty()) {
        state_->endSound();
        return;
    }
    if (state_->picturesIn >= state_->stopAt) state_->endPictures();
    if (state_->soundIn >= state_->stopAt) state_->endSound();
}

GstClockTime SpanGuard::PicturesWritten() const {
    std::lock_guard lock(state_->mutex);
    return state_->picturesOut;
}

GstClockTime SpanGuard::SoundWritten() const {
    std::lock_guard lock(state_->mutex);
    return state_->soundOut;
}

}  // namespace media
