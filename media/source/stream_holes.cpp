#include "media/source/stream_holes.h"

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <mutex>
#include <vector>

#include "media/core/frame_time.h"
#include "media/core/gst_handles.h"
#include "media/source/source_ends.h"

namespace media {

namespace {

// Decoders keep their sound continuous to within a few samples; a step in the times beyond
// this is sound that is not there.
constexpr GstClockTime kSoundTolerance = 30 * GST_MSECOND;
// Shorter holes are filled without a word: a dropped frame or two is no news.
constexpr GstClockTime kNamedHole = GST_SECOND;

struct Hole {
    bool pictures = false;
    ReferenceTime from = 0;  // media time
    ReferenceTime to = 0;
};

}  // namespace

struct StreamHoles::Shared {
    std::mutex mutex;
    bool expected = false;
    SourceTiming timing;
    ReferenceTime stop = 0;  // user time
    std::vector<Hole> holes;
};

namespace {

// One decoder's output. Touched only on its streaming thread.
struct Follower {
    std::shared_ptr<StreamHoles::Shared> shared;
    bool pictures = false;
    GstSegment segment{};
    GstAudioInfo audio{};
    bool audioKnown = false;
    GstClockTime period = GST_CLOCK_TIME_NONE;    // the pictures' rate, as their caps say
    GstClockTime expected = GST_CLOCK_TIME_NONE;  // where the last buffer ended (or started)
    GstBuffer* last = nullptr;                    // the last picture, to hold over a hole
    bool filling = false;

    ~Follower() { forget(); }
    void forget() {
        if (last) gst_buffer_unref(last);
        last = nullptr;
        expected = GST_CLOCK_TIME_NONE;
    }
    void note(GstClockTime from, GstClockTime to) {
        if (to - from < kNamedHole) return;
        auto streamTime = [this](GstClockTime t) {
            return NanosecondsToReferenceTime(static_cast<std::int64_t>(
                gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, t)));
        };
        std::lock_guard lock(shared->mutex);
        shared->holes.push_back({pictures, streamTime(from), streamTime(to)});
    }
};

void takeEvent(Follower& follower, GstEvent* event) {
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_FLUSH_STOP:
            follower.forget();
            break;
        case GST_EVENT_SEGMENT: {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            gst_segment_copy_into(segment, &follower.segment);
            follower.forget();
            break;
        }
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            if (!caps) break;
            if (!follower.pictures) {
                follower.audioKnown = gst_audio_info_from_caps(&follower.audio, caps);
                break;
            }
            gint numerator = 0;
            gint denominator = 1;
            if (gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &numerator,
                                           &denominator) &&
                numerator > 0 && denominator > 0)
                follower.period = gst_util_uint64_scale_int(GST_SECOND, denominator, numerator);
            break;
        }
        default:
            break;
    }
}

// The hole's silence goes out before the sound after it.
void fillSound(Follower& follower, GstPad* pad, GstBuffer* buffer) {
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || !follower.audioKnown) return;
    const GstAudioInfo& audio = follower.audio;
    const gsize frameBytes = static_cast<gsize>(GST_AUDIO_INFO_BPF(&audio));
    const int rate = GST_AUDIO_INFO_RATE(&audio);
    if (frameBytes == 0 || rate <= 0) return;
    GstClockTime duration = GST_BUFFER_DURATION(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(duration))
        duration =
            gst_util_uint64_scale_int(gst_buffer_get_size(buffer) / frameBytes, GST_SECOND, rate);
    const GstClockTime expected = follower.expected;
    follower.expected = pts + duration;
    if (!GST_CLOCK_TIME_IS_VALID(expected) || pts <= expected + kSoundTolerance) return;

    const guint64 samples = gst_util_uint64_scale_int_round(pts - expected, rate, GST_SECOND);
    GstBuffer* silence = gst_buffer_new_allocate(nullptr, samples * frameBytes, nullptr);
    if (!silence) return;
    GstMapInfo map;
    if (gst_buffer_map(silence, &map, GST_MAP_WRITE)) {
        // Each channel's plane of a planar buffer is of the same format as the whole.
        gst_audio_format_info_fill_silence(audio.finfo, map.data, map.size);
        gst_buffer_unmap(silence, &map);
    }
    if (GST_AUDIO_INFO_LAYOUT(&audio) == GST_AUDIO_LAYOUT_NON_INTERLEAVED)
        gst_buffer_add_audio_meta(silence, &audio, samples, nullptr);
    GST_BUFFER_PTS(silence) = expected;
    GST_BUFFER_DURATION(silence) = pts - expected;
    follower.filling = true;
    gst_pad_push(pad, silence);
    follower.filling = false;
    follower.note(expected, pts);
}

// The last picture is shown again at each frame of a hole, before the picture after it.
void holdPicture(Follower& follower, GstPad* pad, GstBuffer* buffer) {
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts)) return;
    const GstClockTime period = follower.period;
    GstBuffer* last = follower.last;
    follower.last = gst_buffer_ref(buffer);
    const GstClockTime lastPts = follower.expected;
    follower.expected = pts;
    if (!last) return;
    struct Release {
        GstBuffer* buffer;
        ~Release() { gst_buffer_unref(buffer); }
    } release{last};
    if (!GST_CLOCK_TIME_IS_VALID(period) || !GST_CLOCK_TIME_IS_VALID(lastPts) ||
        pts <= lastPts + period * 3 / 2)
        return;
    follower.filling = true;
    for (GstClockTime t = lastPts + period; t + period / 2 < pts; t += period) {
        GstBuffer* copy = gst_buffer_copy(last);
        GST_BUFFER_PTS(copy) = t;
        GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_DURATION(copy) = period;
        GST_BUFFER_FLAG_UNSET(copy, GST_BUFFER_FLAG_DISCONT);
        if (gst_pad_push(pad, copy) != GST_FLOW_OK) break;
    }
    follower.filling = false;
    follower.note(lastPts + period, pts);
}

// Runs on the decoder's streaming thread, and again for each held picture it pushes.
GstPadProbeReturn fillHoles(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& follower = *static_cast<Follower*>(data);
    if (follower.filling) return GST_PAD_PROBE_OK;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        if (follower.segment.format != GST_FORMAT_TIME || follower.segment.rate < 0)
            return GST_PAD_PROBE_OK;
        if (follower.pictures)
            holdPicture(follower, pad, GST_PAD_PROBE_INFO_BUFFER(info));
        else
            fillSound(follower, pad, GST_PAD_PROBE_INFO_BUFFER(info));
        return GST_PAD_PROBE_OK;
    }
    takeEvent(follower, GST_PAD_PROBE_INFO_EVENT(info));
    return GST_PAD_PROBE_OK;
}

}  // namespace

StreamHoles::StreamHoles() : shared_(std::make_shared<Shared>()) {}

void StreamHoles::Expect(const SourceTiming& timing, ReferenceTime stop) {
    std::lock_guard lock(shared_->mutex);
    shared_->expected = true;
    shared_->timing = timing;
    shared_->stop = stop;
}

void StreamHoles::Watch(GstElement* element) {
    const std::optional<bool> pictures = DecodesPictures(element);
    if (!pictures) return;
    const GstPtr<GstPad> src(gst_element_get_static_pad(element, "src"));
    if (!src) return;
    auto* follower = new Follower;
    follower->shared = shared_;
    follower->pictures = *pictures;
    gst_segment_init(&follower->segment, GST_FORMAT_UNDEFINED);
    gst_pad_add_probe(src.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      fillHoles, follower,
                      [](gpointer data) { delete static_cast<Follower*>(data); });
}

std::string StreamHoles::Note() const {
    std::lock_guard lock(shared_->mutex);
    if (!shared_->expected) return {};
    std::string note;
    for (const Hole& hole : shared_->holes) {
        const ReferenceTime from = shared_->timing.ToUser(hole.from);
        const ReferenceTime to = shared_->timing.ToUser(hole.to);
        if (from >= shared_->stop) continue;
        if (!note.empty()) note += "\n";
        note += std::string("The source's ") + (hole.pictures ? "pictures have" : "sound has") +
                " a hole from " + FormatClockMilliseconds(from) + " to " +
                FormatClockMilliseconds(to) +
                (hole.pictures ? "; the last picture before it is held there."
                               : "; the output is silent there.");
    }
    return note;
}

}  // namespace media
