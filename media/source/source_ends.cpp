#include "media/source/source_ends.h"

#include <algorithm>
#include <cstring>

#include "media/core/frame_time.h"
#include "media/core/gst_handles.h"

namespace media {

struct SourceEnds::Stream {
    std::mutex mutex;
    bool expected = false;
    ReferenceTime stop = 0;  // user time
    ReferenceTime tolerance = 0;
    SourceTiming timing;
    bool decoded = false;        // a decoder of this kind exists
    ReferenceTime reached = -1;  // media time the decoded stream reached
    GstSegment segment{};
};

namespace {

// Runs on the decoder's streaming thread.
GstPadProbeReturn followStream(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& stream = **static_cast<std::shared_ptr<SourceEnds::Stream>*>(data);
    std::lock_guard lock(stream.mutex);
    if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        // What was decoded before the span was sought (a cue) is no part of it.
        if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) stream.reached = -1;
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            gst_segment_copy_into(segment, &stream.segment);
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || stream.segment.format != GST_FORMAT_TIME)
        return GST_PAD_PROBE_OK;
    const GstClockTime end =
        pts + (GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : 0);
    guint64 streamTime = 0;
    if (gst_segment_to_stream_time_full(&stream.segment, GST_FORMAT_TIME, end, &streamTime) > 0)
        stream.reached = std::max(
            stream.reached, NanosecondsToReferenceTime(static_cast<std::int64_t>(streamTime)));
    return GST_PAD_PROBE_OK;
}

std::string clock(ReferenceTime t) {
    return FormatClockMilliseconds(t);
}

}  // namespace

void SourceEnds::Expect(bool pictures, ReferenceTime stop, const SourceTiming& timing,
                        ReferenceTime tolerance) {
    auto& stream = streams_[pictures ? 0 : 1];
    if (!stream) stream = std::make_shared<Stream>();
    std::lock_guard lock(stream->mutex);
    stream->expected = true;
    stream->stop = stop;
    stream->timing = timing;
    stream->tolerance = tolerance;
    gst_segment_init(&stream->segment, GST_FORMAT_TIME);
}

std::optional<bool> DecodesPictures(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    const char* klass =
        factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    if (!klass || !std::strstr(klass, "Decoder")) return std::nullopt;
    if (std::strstr(klass, "Video") || std::strstr(klass, "Image")) return true;
    if (std::strstr(klass, "Audio")) return false;
    return std::nullopt;
}

void SourceEnds::Watch(GstElement* element) {
    const std::optional<bool> pictures = DecodesPictures(element);
    if (!pictures) return;
    const std::shared_ptr<Stream>& stream = streams_[*pictures ? 0 : 1];
    if (!stream) return;
    const GstPtr<GstPad> src(gst_element_get_static_pad(element, "src"));
    if (!src) return;
    {
        std::lock_guard lock(stream->mutex);
        stream->decoded = true;
    }
    gst_pad_add_probe(src.get(),
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      followStream, new std::shared_ptr<Stream>(stream),
                      [](gpointer data) { delete static_cast<std::shared_ptr<Stream>*>(data); });
}

// A span to the end of a file whose header claims much more than the file holds: a download
// that stopped half-way converts what there is, and says so. Streams may end apart by a few
// seconds in an intact file, and some containers' lengths are estimates.
std::string cutFileNote(const SourceEnds::Stream& pictures) {
    const SourceTiming& timing = pictures.timing;
    if (timing.videoEnd < 0 || timing.declaredDuration <= 0) return {};
    const ReferenceTime held = timing.ToUser(std::max(timing.videoEnd, timing.audioEnd));
    const ReferenceTime stated = timing.declaredDuration > timing.origin
                                     ? timing.declaredDuration - timing.origin
                                     : timing.declaredDuration;
    const ReferenceTime margin = std::max<ReferenceTime>(2 * kReferenceTimePerSecond, stated / 10);
    if (pictures.stop + pictures.tolerance < timing.ToUser(timing.videoEnd) ||
        stated - held <= margin)
        return {};
    return "The source's header says it lasts " + clock(stated) + ", but the file holds only " +
           clock(held) + " (it is cut short or damaged); the output ends there.";
}

std::string SourceEnds::ShortfallNote() const {
    std::string note;
    if (const std::shared_ptr<Stream>& pictures = streams_[0]) {
        std::lock_guard lock(pictures->mutex);
        if (pictures->expected) note = cutFileNote(*pictures);
    }
    for (int kind = 0; kind < 2; ++kind) {
        const std::shared_ptr<Stream>& stream = streams_[kind];
        if (!stream) continue;
        std::lock_guard lock(stream->mutex);
        if (!stream->expected || !stream->decoded) continue;
        const ReferenceTime reached =
            stream->reached >= 0 ? stream->timing.ToUser(stream->reached) : -1;
        if (reached >= 0 && reached + stream->tolerance >= stream->stop) continue;
        // A sliver of a span at the file's very end may give a decoder nothing to decode (an
        // AAC frame is longer than it): the file's own end says whether the stream is there.
        const ReferenceTime fileEnd = kind == 0 ? stream->timing.videoEnd : stream->timing.audioEnd;
        if (reached < 0 && fileEnd >= 0 &&
            stream->timing.ToUser(fileEnd) + stream->tolerance >= stream->stop)
            continue;
        if (!note.empty()) note += "\n";
        const std::string what = kind == 0 ? "pictures end" : "sound ends";
        const std::string rest = kind == 0 ? "the last picture fills the rest of the output."
                                           : "the output's sound stops there.";
        // Nothing decoded in the span: the stream ends before it, where the file's end says.
        const ReferenceTime ended = reached >= 0   ? reached
                                    : fileEnd >= 0 ? stream->timing.ToUser(fileEnd)
                                                   : 0;
        note += "The source's " + what + " at " + clock(ended) +
                ", before the end of the span at " + clock(stream->stop) +
                " (the file is cut short or damaged there); " + rest;
    }
    return note;
}

}  // namespace media
