#include "media/decoding_repairs.h"

#include <cstring>
#include <memory>
#include <mutex>

namespace media {
namespace {

// --- Program streams: seeks made earlier, segments put back, picture times mended ---

// The pictures of a program stream may lie up to about a second after the pack clock that
// mpegpsdemux seeks by, and a key picture may be another half second away.
constexpr GstClockTime kProgramStreamSeekMargin = 2 * GST_SECOND;
// A picture stamped a frame late for this long is late in the file itself (a picture missing
// from the stream), not in the parser's stamping.
constexpr int kLateRunLimit = 50;

// The demuxer's duration comes from its pack clock too, and it cuts a seek's stop to that
// duration: the last pictures would be lost. The seeks it is sent have no stop; the data past
// the stop asked for ends its stream instead.
struct EarlierSeeks {
    std::mutex mutex;
    GstClockTime sent = GST_CLOCK_TIME_NONE;   // where the latest seek was sent
    GstClockTime asked = GST_CLOCK_TIME_NONE;  // where it was asked to go
    GstClockTime askedStop = GST_CLOCK_TIME_NONE;

    bool matches(const GstSegment& segment, GstClockTime* where, GstClockTime* stop) {
        std::lock_guard lock(mutex);
        if (segment.format != GST_FORMAT_TIME || !GST_CLOCK_TIME_IS_VALID(sent) ||
            segment.start != sent)
            return false;
        *where = asked;
        *stop = askedStop;
        return true;
    }
    GstClockTime stop() {
        std::lock_guard lock(mutex);
        return askedStop;
    }
};
using EarlierSeeksBox = std::shared_ptr<EarlierSeeks>;

const char* const kEarlierSeeksKey = "framewell-earlier-seeks";

void releaseBox(gpointer data) {
    delete static_cast<EarlierSeeksBox*>(data);
}

// The segment of a moved seek as the seek asked for it.
GstEvent* restoredSegment(GstEvent* event, const GstSegment& segment, GstClockTime asked,
                          GstClockTime stop) {
    GstSegment restored;
    gst_segment_copy_into(&segment, &restored);
    restored.time += asked - restored.start;
    restored.start = asked;
    restored.position = asked;
    restored.stop = stop;
    if (GST_CLOCK_TIME_IS_VALID(restored.stop) && restored.stop < asked) restored.stop = asked;
    GstEvent* replacement = gst_event_new_segment(&restored);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
    return replacement;
}

// Runs on the thread that sends the seek.
GstPadProbeReturn moveSeekEarlier(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEEK) return GST_PAD_PROBE_OK;
    gdouble rate = 1.0;
    GstFormat format = GST_FORMAT_UNDEFINED;
    GstSeekFlags flags = GST_SEEK_FLAG_NONE;
    GstSeekType startType = GST_SEEK_TYPE_NONE;
    GstSeekType stopType = GST_SEEK_TYPE_NONE;
    gint64 start = 0;
    gint64 stop = 0;
    gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
    if (format != GST_FORMAT_TIME || startType != GST_SEEK_TYPE_SET || rate <= 0.0 || start < 0)
        return GST_PAD_PROBE_OK;
    const auto asked = static_cast<GstClockTime>(start);
    const GstClockTime sent =
        asked > kProgramStreamSeekMargin ? asked - kProgramStreamSeekMargin : 0;
    {
        auto& seeks = **static_cast<EarlierSeeksBox*>(data);
        std::lock_guard lock(seeks.mutex);
        seeks.sent = sent;
        seeks.asked = asked;
        seeks.askedStop = stopType == GST_SEEK_TYPE_SET && stop >= 0
                              ? static_cast<GstClockTime>(stop)
                              : GST_CLOCK_TIME_NONE;
    }
    GstEvent* earlier = gst_event_new_seek(rate, format, flags, startType,
                                           static_cast<gint64>(sent), GST_SEEK_TYPE_NONE, -1);
    gst_event_set_seqnum(earlier, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = earlier;
    return GST_PAD_PROBE_OK;
}

// Runs on the demuxer's streaming thread; for the sound, whose decoder cuts at the segment.
GstPadProbeReturn restoreSegmentStart(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT) return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    GstClockTime asked = 0;
    GstClockTime stop = GST_CLOCK_TIME_NONE;
    if (!(*static_cast<EarlierSeeksBox*>(data))->matches(*segment, &asked, &stop))
        return GST_PAD_PROBE_OK;
    GST_PAD_PROBE_INFO_DATA(info) = restoredSegment(event, *segment, asked, stop);
    gst_event_unref(event);
    return GST_PAD_PROBE_OK;
}

// Runs on the demuxer's streaming thread: packets well past the stop asked for end the stream.
GstPadProbeReturn endPastStop(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime stop = (*static_cast<EarlierSeeksBox*>(data))->stop();
    const GstClockTime time =
        GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) : GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(stop) || !GST_CLOCK_TIME_IS_VALID(time) ||
        time <= stop + kProgramStreamSeekMargin)
        return GST_PAD_PROBE_OK;
    gst_buffer_unref(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_EOS;
    return GST_PAD_PROBE_HANDLED;
}

bool carriesMpegVideo(GstPad* pad) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    const bool video = caps && !gst_caps_is_empty(caps) &&
                       gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/mpeg");
    if (caps) gst_caps_unref(caps);
    return video;
}

// Runs on the thread that adds the pad. The pictures' segment is put back after their decoder
// (below), which first mends the parser's stamps on the pictures before the place asked for.
void watchProgramStreamPad(GstElement*, GstPad* pad, gpointer data) {
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
    const EarlierSeeksBox& seeks = *static_cast<EarlierSeeksBox*>(data);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, moveSeekEarlier,
                      new EarlierSeeksBox(seeks), releaseBox);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, endPastStop, new EarlierSeeksBox(seeks),
                      releaseBox);
    if (!carriesMpegVideo(pad))
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, restoreSegmentStart,
                          new EarlierSeeksBox(seeks), releaseBox);
}

void repairProgramStreamSeeks(GstElement* demuxer) {
    auto seeks = std::make_shared<EarlierSeeks>();
    g_signal_connect_data(demuxer, "pad-added", G_CALLBACK(watchProgramStreamPad),
                          new EarlierSeeksBox(seeks),
                          [](gpointer data, GClosure*) { releaseBox(data); },
                          static_cast<GConnectFlags>(0));
    // The decoder of its pictures joins the same bin later and finds the seeks there.
    if (GstObject* parent = gst_object_get_parent(GST_OBJECT(demuxer))) {
        g_object_set_data_full(G_OBJECT(parent), kEarlierSeeksKey, new EarlierSeeksBox(seeks),
                               releaseBox);
        gst_object_unref(parent);
    }
}

// mpegvideoparse stamps a picture that began in one packet and ends in the next with the next
// packet's time, one frame late, and the pictures after it follow until a packet starts on a
// picture again. Each picture takes the earlier of its stamp and the previous picture's end.
struct PictureTimes {
    std::mutex mutex;
    EarlierSeeksBox seeks;
    GstClockTime period = GST_CLOCK_TIME_NONE;
    GstClockTime previous = GST_CLOCK_TIME_NONE;  // the mended time of the previous picture
    int lateRun = 0;
    GstClockTime cutFrom = GST_CLOCK_TIME_NONE;  // pictures before it are dropped

    void restart() {
        previous = GST_CLOCK_TIME_NONE;
        lateRun = 0;
    }
    GstClockTime mend(GstClockTime pts) {
        if (!GST_CLOCK_TIME_IS_VALID(pts) || !GST_CLOCK_TIME_IS_VALID(period) ||
            !GST_CLOCK_TIME_IS_VALID(previous)) {
            previous = pts;
            return pts;
        }
        const GstClockTime expected = previous + period;
        GstClockTime mended = pts;
        if (pts > expected + period / 2 && ++lateRun <= kLateRunLimit)
            mended = expected;
        else if (pts <= expected + period / 2)
            lateRun = 0;
        previous = mended;
        return mended;
    }
};
using PictureTimesBox = std::shared_ptr<PictureTimes>;

// Runs on the decoder's streaming thread.
GstPadProbeReturn mendPictureTimes(GstPad*, GstPadProbeInfo* info, gpointer data) {
    PictureTimes& times = **static_cast<PictureTimesBox*>(data);
    if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        std::lock_guard lock(times.mutex);
        if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
            times.restart();
            times.cutFrom = GST_CLOCK_TIME_NONE;
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            gint numerator = 0;
            gint denominator = 1;
            if (caps && gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate",
                                                   &numerator, &denominator) &&
                numerator > 0 && denominator > 0)
                times.period = gst_util_uint64_scale_int(GST_SECOND, denominator, numerator);
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            times.restart();
            GstClockTime asked = 0;
            GstClockTime stop = GST_CLOCK_TIME_NONE;
            if (times.seeks->matches(*segment, &asked, &stop)) {
                times.cutFrom = asked;
                GST_PAD_PROBE_INFO_DATA(info) = restoredSegment(event, *segment, asked, stop);
                gst_event_unref(event);
            }
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard lock(times.mutex);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    GstClockTime mended = times.mend(pts);
    if (!GST_CLOCK_TIME_IS_VALID(mended)) return GST_PAD_PROBE_OK;
    GstClockTime end = GST_BUFFER_DURATION_IS_VALID(buffer) ? mended + GST_BUFFER_DURATION(buffer)
                                                            : mended + times.period;
    if (GST_CLOCK_TIME_IS_VALID(times.cutFrom)) {
        if (end <= times.cutFrom) return GST_PAD_PROBE_DROP;
        if (mended < times.cutFrom) mended = times.cutFrom;
    }
    if (mended != pts) {
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_PTS(buffer) = mended;
        if (GST_CLOCK_TIME_IS_VALID(end) && end > mended) GST_BUFFER_DURATION(buffer) = end - mended;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

bool decodesMpegVideo(GstElementFactory* factory) {
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    if (!klass || !std::strstr(klass, "Decoder") || !std::strstr(klass, "Video")) return false;
    GstCaps* mpeg = gst_caps_from_string("video/mpeg, mpegversion=(int)2, systemstream=(boolean)false");
    const bool fits = gst_element_factory_can_sink_any_caps(factory, mpeg);
    gst_caps_unref(mpeg);
    return fits;
}

void mendProgramStreamPictures(GstElement* decoder, const EarlierSeeksBox& seeks) {
    GstPad* src = gst_element_get_static_pad(decoder, "src");
    if (!src) return;
    auto times = std::make_shared<PictureTimes>();
    times->seeks = seeks;
    gst_pad_add_probe(src,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      mendPictureTimes, new PictureTimesBox(times),
                      [](gpointer box) { delete static_cast<PictureTimesBox*>(box); });
    gst_object_unref(src);
}

// --- Animated GIF: times from the durations ---

struct PictureClock {
    std::mutex mutex;
    GstClockTime next = 0;
};
using PictureClockBox = std::shared_ptr<PictureClock>;

// Runs on the demuxer's streaming thread.
GstPadProbeReturn stampPicture(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& clock = **static_cast<PictureClockBox*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            std::lock_guard lock(clock.mutex);
            if (segment->format == GST_FORMAT_TIME) clock.next = segment->start;
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard lock(clock.mutex);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    GstClockTime stamped = pts;
    // A picture whose time does not move on from the previous one's end takes that end.
    if (!GST_CLOCK_TIME_IS_VALID(pts) || pts + GST_MSECOND < clock.next) {
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_PTS(buffer) = clock.next;
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
        stamped = clock.next;
    }
    if (GST_BUFFER_DURATION_IS_VALID(buffer)) clock.next = stamped + GST_BUFFER_DURATION(buffer);
    return GST_PAD_PROBE_OK;
}

// Runs on the thread that adds the pad.
void watchGifPad(GstElement*, GstPad* pad, gpointer) {
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
    gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                     GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        stampPicture, new PictureClockBox(std::make_shared<PictureClock>()),
        [](gpointer data) { delete static_cast<PictureClockBox*>(data); });
}

// Runs on the thread that adds the element.
void onDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer) {
    RepairDecodingElement(element);
}

}  // namespace

void RepairDecodingElement(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory) return;
    const gchar* name = GST_OBJECT_NAME(factory);
    if (g_str_equal(name, "mpegpsdemux")) {
        repairProgramStreamSeeks(element);
    } else if (g_str_equal(name, "avdemux_gif")) {
        g_signal_connect(element, "pad-added", G_CALLBACK(watchGifPad), nullptr);
    } else if (decodesMpegVideo(factory)) {
        GstObject* parent = gst_object_get_parent(GST_OBJECT(element));
        auto* seeks = parent ? static_cast<EarlierSeeksBox*>(
                                   g_object_get_data(G_OBJECT(parent), kEarlierSeeksKey))
                             : nullptr;
        if (seeks) mendProgramStreamPictures(element, *seeks);
        if (parent) gst_object_unref(parent);
    }
}

void RepairDecodingInside(GstElement* bin) {
    if (GST_IS_BIN(bin))
        g_signal_connect(bin, "deep-element-added", G_CALLBACK(onDeepElementAdded), nullptr);
}

}  // namespace media
