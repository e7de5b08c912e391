#include "media/source/decoding_repairs.h"

#include "media/core/gst_handles.h"
#include "media/source/source_timing.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

namespace media {
namespace {

// The file a decoder's pictures come from: the one its enclosing uridecodebin reads.
std::string fileDecodedBy(GstElement* element) {
    std::string path;
    GstPtr<GstObject> ancestor(gst_object_get_parent(GST_OBJECT(element)));
    while (ancestor && path.empty()) {
        GstElementFactory* factory = GST_IS_ELEMENT(ancestor.get())
                                         ? gst_element_get_factory(GST_ELEMENT(ancestor.get()))
                                         : nullptr;
        if (factory && g_str_equal(GST_OBJECT_NAME(factory), "uridecodebin")) {
            gchar* uri = nullptr;
            g_object_get(ancestor.get(), "uri", &uri, nullptr);
            const GCharPtr ownedUri(uri);
            const GCharPtr location(uri ? gst_uri_get_location(uri) : nullptr);
            if (location) path = location.get();
        }
        ancestor.reset(gst_object_get_parent(ancestor.get()));
    }
    return path;
}

// --- Program streams and ASF: seeks made earlier, segments put back, picture times mended ---

// The pictures of a program stream may lie up to about a second after the pack clock that
// mpegpsdemux seeks by, and a key picture may be another half second away.
constexpr GstClockTime kProgramStreamSeekMargin = 2 * GST_SECOND;
// A picture stamped a frame late for this long is late in the file itself (a picture missing
// from the stream), not in the parser's stamping.
constexpr int kLateRunLimit = 50;
// Packets carry their times ahead of the pictures' order by up to this much.
constexpr GstClockTime kStopMargin = GST_SECOND;
// asfdemux holds back what it reads after an accurate seek until a packet of the stream lies at
// or after the place asked: a place inside the last picture gets no picture, and the editing
// services then wait for it for ever. A second covers a picture of 1 fps.
constexpr GstClockTime kAsfSeekMargin = GST_SECOND;

// The demuxer's duration comes from its pack clock too, and it cuts a seek's stop to that
// duration: the last pictures would be lost. The seeks it is sent have no stop; the data past
// the stop asked for ends its stream instead.
struct EarlierSeeks {
    // How much earlier the seeks go; "all the way": to the start.
    GstClockTime margin = kProgramStreamSeekMargin;
    // The pictures' times are made from their durations, not mended from their stamps.
    bool timesFromDurations = false;
    // Only accurate seeks within the margin of the pictures' end are moved: the demuxer starts
    // the others' segments at a key picture, and elsewhere a later packet of each stream comes
    // and releases what it held back.
    bool nearEndOnly = false;
    // The pictures' segment is put back after their decoder, which mends their stamps first;
    // otherwise at the demuxer, as the sound's is.
    bool picturesAfterDecoder = true;
    std::mutex mutex;
    GstClockTime sent = GST_CLOCK_TIME_NONE;   // where the latest seek was sent
    GstClockTime asked = GST_CLOCK_TIME_NONE;  // where it was asked to go
    GstClockTime askedStop = GST_CLOCK_TIME_NONE;
    guint32 seqnum = GST_SEQNUM_INVALID;  // the latest seek's

    // The demuxer's segment that answers the latest seek, as that seek asked for it: from the
    // place asked, not the earlier one sent, to the stop asked. Seeks count in stream time, and
    // mpegpsdemux stamps its packets with their own clock, which runs ahead of the stream time
    // by the clock of the file's first pack (a file cut from a longer recording, or one whose
    // first packs are damaged): the segment's start lies that much after its time, and the
    // restored one's must too.
    std::optional<GstSegment> restored(const GstSegment& segment) {
        std::lock_guard lock(mutex);
        if (segment.format != GST_FORMAT_TIME || !GST_CLOCK_TIME_IS_VALID(sent) ||
            segment.time != sent)
            return std::nullopt;
        const GstClockTime ahead = segment.start > segment.time ? segment.start - segment.time : 0;
        GstSegment wanted;
        gst_segment_copy_into(&segment, &wanted);
        wanted.time = asked;
        wanted.start = asked + ahead;
        wanted.position = wanted.start;
        wanted.stop = GST_CLOCK_TIME_IS_VALID(askedStop) ? std::max(askedStop + ahead, wanted.start)
                                                         : GST_CLOCK_TIME_NONE;
        return wanted;
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

// The segment event of a moved seek replaced by the one the seek asked for.
GstEvent* restoredSegment(GstEvent* event, const GstSegment& restored) {
    GstEvent* replacement = gst_event_new_segment(&restored);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
    return replacement;
}

// Where the demuxer's pictures end: what it says of its length, or the end measured, whichever
// comes first; GST_CLOCK_TIME_NONE when neither is known.
GstClockTime picturesEnd(GstPad* pad) {
    GstClockTime end = GST_CLOCK_TIME_NONE;
    gint64 duration = -1;
    if (gst_pad_query_duration(pad, GST_FORMAT_TIME, &duration) && duration > 0)
        end = static_cast<GstClockTime>(duration);
    const GstPtr<GstObject> demuxer(gst_pad_get_parent(pad));
    if (!demuxer || !GST_IS_ELEMENT(demuxer.get())) return end;
    const std::optional<SourceTiming> timing =
        KnownSourceTiming(fileDecodedBy(GST_ELEMENT(demuxer.get())));
    if (timing && timing->videoEnd >= 0) {
        const auto measured =
            static_cast<GstClockTime>(ReferenceTimeToNanoseconds(timing->videoEnd));
        end = GST_CLOCK_TIME_IS_VALID(end) ? std::min(end, measured) : measured;
    }
    return end;
}

// Whether an accurate seek lands within the margin of the pictures' end.
bool landsNearTheEnd(GstPad* pad, GstSeekFlags flags, GstClockTime asked, GstClockTime margin) {
    if (!(flags & GST_SEEK_FLAG_ACCURATE)) return false;
    const GstClockTime end = picturesEnd(pad);
    return !GST_CLOCK_TIME_IS_VALID(end) || asked + margin > end;
}

// Runs on the thread that sends the seek.
GstPadProbeReturn moveSeekEarlier(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
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
    auto& seeks = **static_cast<EarlierSeeksBox*>(data);
    if (seeks.nearEndOnly &&
        !landsNearTheEnd(pad, flags, static_cast<GstClockTime>(start), seeks.margin)) {
        std::lock_guard lock(seeks.mutex);
        seeks.sent = seeks.asked = seeks.askedStop = GST_CLOCK_TIME_NONE;
        seeks.seqnum = gst_event_get_seqnum(event);
        return GST_PAD_PROBE_OK;
    }
    const auto asked = static_cast<GstClockTime>(start);
    const GstClockTime sent = asked > seeks.margin ? asked - seeks.margin : 0;
    {
        std::lock_guard lock(seeks.mutex);
        seeks.sent = sent;
        seeks.asked = asked;
        seeks.askedStop = stopType == GST_SEEK_TYPE_SET && stop >= 0
                              ? static_cast<GstClockTime>(stop)
                              : GST_CLOCK_TIME_NONE;
        seeks.seqnum = gst_event_get_seqnum(event);
    }
    GstEvent* earlier = gst_event_new_seek(rate, format, flags, startType,
                                           static_cast<gint64>(sent), GST_SEEK_TYPE_NONE, -1);
    gst_event_set_seqnum(earlier, gst_event_get_seqnum(event));
    const EventPtr replaced(event);
    GST_PAD_PROBE_INFO_DATA(info) = earlier;
    return GST_PAD_PROBE_OK;
}

bool carriesVideo(GstPad* pad) {
    CapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    return caps && !gst_caps_is_empty(caps.get()) &&
           !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)),
                             "audio/");
}

// Runs on the demuxer's streaming thread. The sound's segment is put back here, as its decoder
// cuts at the segment; the end of a stream is marked as the seek's, which the editing services
// wait for (avdemux_gif ends its streams with an end of their own after an error of reading).
GstPadProbeReturn restoreSegmentAndEnd(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    EarlierSeeks& seeks = **static_cast<EarlierSeeksBox*>(data);
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
        guint32 seqnum = GST_SEQNUM_INVALID;
        {
            std::lock_guard lock(seeks.mutex);
            seqnum = seeks.seqnum;
        }
        if (seqnum != GST_SEQNUM_INVALID && gst_event_get_seqnum(event) != seqnum) {
            event = gst_event_make_writable(event);
            gst_event_set_seqnum(event, seqnum);
            GST_PAD_PROBE_INFO_DATA(info) = event;
        }
        return GST_PAD_PROBE_OK;
    }
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT ||
        (seeks.picturesAfterDecoder && carriesVideo(pad)))
        return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    const std::optional<GstSegment> restored = seeks.restored(*segment);
    if (!restored) return GST_PAD_PROBE_OK;
    const EventPtr replaced(event);
    GST_PAD_PROBE_INFO_DATA(info) = restoredSegment(event, *restored);
    return GST_PAD_PROBE_OK;
}

// Runs on the demuxer's streaming thread: packets well past the stop asked for end the stream.
// The stop is in stream time, the packets in their own clock's (see restored).
GstPadProbeReturn endPastStop(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime stop = (*static_cast<EarlierSeeksBox*>(data))->stop();
    const GstClockTime time =
        GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) : GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(stop) || !GST_CLOCK_TIME_IS_VALID(time)) return GST_PAD_PROBE_OK;
    GstClockTime ahead = 0;
    if (const EventPtr event{gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)}) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event.get(), &segment);
        if (segment->start > segment->time) ahead = segment->start - segment->time;
    }
    if (time <= stop + ahead + kStopMargin) return GST_PAD_PROBE_OK;
    const BufferPtr dropped(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_EOS;
    return GST_PAD_PROBE_HANDLED;
}

// Runs on the thread that adds the pad. A program stream's pictures have their segment put back
// after their decoder (below), which first mends the parser's stamps on the pictures before the
// place asked for.
void watchDemuxerPad(GstElement*, GstPad* pad, gpointer data) {
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
    const EarlierSeeksBox& seeks = *static_cast<EarlierSeeksBox*>(data);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, moveSeekEarlier,
                      new EarlierSeeksBox(seeks), releaseBox);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, endPastStop, new EarlierSeeksBox(seeks),
                      releaseBox);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, restoreSegmentAndEnd,
                      new EarlierSeeksBox(seeks), releaseBox);
}

void moveSeeksEarlier(GstElement* demuxer, const EarlierSeeksBox& seeks) {
    g_signal_connect_data(
        demuxer, "pad-added", G_CALLBACK(watchDemuxerPad), new EarlierSeeksBox(seeks),
        [](gpointer data, GClosure*) { releaseBox(data); }, static_cast<GConnectFlags>(0));
    if (!seeks->picturesAfterDecoder) return;
    // The decoder of its pictures joins the same bin later and finds the seeks there.
    if (const GstPtr<GstObject> parent{gst_object_get_parent(GST_OBJECT(demuxer))})
        g_object_set_data_full(G_OBJECT(parent.get()), kEarlierSeeksKey, new EarlierSeeksBox(seeks),
                               releaseBox);
}

// The editing services wait for the flush, segment and end that answer their seek to carry the
// seek's number; avdemux_gif and the GIF decoder give them numbers of their own.
GstEvent* markedAsTheSeek(GstEvent* event, EarlierSeeks& seeks) {
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_FLUSH_START:
        case GST_EVENT_FLUSH_STOP:
        case GST_EVENT_SEGMENT:
        case GST_EVENT_EOS:
            break;
        default:
            return event;
    }
    guint32 seqnum = GST_SEQNUM_INVALID;
    {
        std::lock_guard lock(seeks.mutex);
        seqnum = seeks.seqnum;
    }
    if (seqnum == GST_SEQNUM_INVALID || gst_event_get_seqnum(event) == seqnum) return event;
    event = gst_event_make_writable(event);
    gst_event_set_seqnum(event, seqnum);
    return event;
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
    GstClockTime segmentStart = GST_CLOCK_TIME_NONE;  // as the demuxer sent it
    GstClockTime cutFrom = GST_CLOCK_TIME_NONE;       // pictures before it are dropped

    void restart() {
        previous = GST_CLOCK_TIME_NONE;
        lateRun = 0;
    }
    // The GIF decoder stamps every picture with the segment's start; each picture starts where
    // the previous one's duration ends.
    GstClockTime fromDurations(GstClockTime pts, GstClockTime duration, GstClockTime start) {
        const GstClockTime mended = GST_CLOCK_TIME_IS_VALID(previous) ? previous : start;
        if (!GST_CLOCK_TIME_IS_VALID(mended)) return pts;
        previous = mended + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : period);
        return mended;
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
        GstEvent* event = markedAsTheSeek(GST_PAD_PROBE_INFO_EVENT(info), *times.seeks);
        GST_PAD_PROBE_INFO_DATA(info) = event;
        std::lock_guard lock(times.mutex);
        if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
            times.restart();
            times.cutFrom = GST_CLOCK_TIME_NONE;
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            gint numerator = 0;
            gint denominator = 1;
            if (caps &&
                gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &numerator,
                                           &denominator) &&
                numerator > 0 && denominator > 0)
                times.period = gst_util_uint64_scale_int(GST_SECOND, denominator, numerator);
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            times.restart();
            times.segmentStart = segment->format == GST_FORMAT_TIME ? segment->start : 0;
            if (const std::optional<GstSegment> restored = times.seeks->restored(*segment)) {
                times.cutFrom = restored->start;
                const EventPtr replaced(event);
                GST_PAD_PROBE_INFO_DATA(info) = restoredSegment(event, *restored);
            }
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard lock(times.mutex);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    GstClockTime mended =
        times.seeks->timesFromDurations
            ? times.fromDurations(pts, GST_BUFFER_DURATION(buffer), times.segmentStart)
            : times.mend(pts);
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
        if (GST_CLOCK_TIME_IS_VALID(end) && end > mended)
            GST_BUFFER_DURATION(buffer) = end - mended;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

bool decodesPictures(GstElementFactory* factory) {
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass && std::strstr(klass, "Decoder") &&
           (std::strstr(klass, "Video") || std::strstr(klass, "Image"));
}

void mendPictures(GstElement* decoder, const EarlierSeeksBox& seeks) {
    const GstPtr<GstPad> src(gst_element_get_static_pad(decoder, "src"));
    if (!src) return;
    auto times = std::make_shared<PictureTimes>();
    times->seeks = seeks;
    gst_pad_add_probe(src.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      mendPictureTimes, new PictureTimesBox(times),
                      [](gpointer box) { delete static_cast<PictureTimesBox*>(box); });
}

// --- Pictures without a rate: the measured one ---

// Runs on the streaming thread that brings the decoder its format. A decoder told no rate
// gives its pictures no duration, and an accurate seek then keeps the picture before the place
// asked for, as if it lasted to there; one told a rate its pictures do not keep gives them
// durations that overlap the next picture.
GstPadProbeReturn giveMeasuredRate(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    if (!caps || gst_caps_is_empty(caps)) return GST_PAD_PROBE_OK;
    gint numerator = 0;
    gint denominator = 1;
    const auto* rate = static_cast<const FrameRate*>(data);
    if (gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &numerator,
                                   &denominator) &&
        numerator == rate->numerator && denominator == rate->denominator)
        return GST_PAD_PROBE_OK;
    const CapsPtr rated(gst_caps_copy(caps));
    gst_caps_set_simple(rated.get(), "framerate", GST_TYPE_FRACTION, rate->numerator,
                        rate->denominator, nullptr);
    GstEvent* replacement = gst_event_new_caps(rated.get());
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
    const EventPtr replaced(event);
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
    return GST_PAD_PROBE_OK;
}

void giveMeasuredRateTo(GstElement* decoder) {
    const std::string path = fileDecodedBy(decoder);
    if (path.empty()) return;
    const std::optional<SourceTiming> timing = KnownSourceTiming(path);
    if (!timing || timing->frameRateOrigin != FrameRateOrigin::Measured) return;
    const GstPtr<GstPad> sink(gst_element_get_static_pad(decoder, "sink"));
    if (!sink) return;
    gst_pad_add_probe(sink.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, giveMeasuredRate,
                      new FrameRate(timing->frameRate),
                      [](gpointer rate) { delete static_cast<FrameRate*>(rate); });
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
        moveSeeksEarlier(element, std::make_shared<EarlierSeeks>());
    } else if (g_str_equal(name, "avdemux_gif")) {  // MendsSeeksOf names both
        // The GIF reader cannot seek but to its start.
        auto seeks = std::make_shared<EarlierSeeks>();
        seeks->margin = GST_CLOCK_TIME_NONE;
        seeks->timesFromDurations = true;
        moveSeeksEarlier(element, seeks);
    } else if (g_str_equal(name, "asfdemux")) {
        auto seeks = std::make_shared<EarlierSeeks>();
        seeks->margin = kAsfSeekMargin;
        seeks->nearEndOnly = true;
        seeks->picturesAfterDecoder = false;
        moveSeeksEarlier(element, seeks);
    } else if (decodesPictures(factory)) {
        giveMeasuredRateTo(element);
        const GstPtr<GstObject> parent(gst_object_get_parent(GST_OBJECT(element)));
        auto* seeks = parent ? static_cast<EarlierSeeksBox*>(
                                   g_object_get_data(G_OBJECT(parent.get()), kEarlierSeeksKey))
                             : nullptr;
        if (seeks) mendPictures(element, *seeks);
    }
}

bool MendsSeeksOf(GstElementFactory* demuxer) {
    if (!demuxer) return false;
    const gchar* name = GST_OBJECT_NAME(demuxer);
    return g_str_equal(name, "mpegpsdemux") || g_str_equal(name, "avdemux_gif");
}

void RepairDecodingInside(GstElement* bin) {
    if (GST_IS_BIN(bin))
        g_signal_connect(bin, "deep-element-added", G_CALLBACK(onDeepElementAdded), nullptr);
}

}  // namespace media
