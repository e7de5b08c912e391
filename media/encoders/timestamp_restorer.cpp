#include "media/encoders/timestamp_restorer.h"

#include <deque>
#include <memory>
#include <mutex>

#include "media/core/gst_handles.h"

namespace media {
namespace {

// libav's "no time" (the lowest 64-bit number) read as a clock time, or no time at all.
bool bogusTimestamp(GstClockTime t) {
    return !GST_CLOCK_TIME_IS_VALID(t) || t > static_cast<GstClockTime>(G_MAXINT64);
}

// Some libav video encoders (avenc_mpeg4 in gst-libav 1.22 among them) stamp their output
// with libav's "no time". The multiplexer then cannot interleave, writes all audio before the
// video, and position queries fail. Every frame that goes in comes out, in order when the
// encoder makes no B-frames, so each output buffer gets the running time of the input frame
// it came from, placed in the encoder's output segment (which the encoder shifts by 1000
// hours to leave room for decoding times).
struct TimestampRestorer {
    std::mutex mutex;
    std::deque<GstClockTime> pendingRunningTimes;
    GstSegment input;
    GstSegment output;

    TimestampRestorer() {
        gst_segment_init(&input, GST_FORMAT_TIME);
        gst_segment_init(&output, GST_FORMAT_TIME);
    }
};
using RestorerBox = std::shared_ptr<TimestampRestorer>;

// Runs on the encoder's streaming thread.
GstPadProbeReturn rememberInputTimestamp(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& restorer = **static_cast<RestorerBox*>(data);
    std::lock_guard lock(restorer.mutex);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
        restorer.pendingRunningTimes.push_back(
            GST_CLOCK_TIME_IS_VALID(pts)
                ? gst_segment_to_running_time(&restorer.input, GST_FORMAT_TIME, pts)
                : GST_CLOCK_TIME_NONE);
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment->format == GST_FORMAT_TIME) gst_segment_copy_into(segment, &restorer.input);
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
        restorer.pendingRunningTimes.clear();
    }
    return GST_PAD_PROBE_OK;
}

// Runs on the encoder's streaming thread.
GstPadProbeReturn restoreOutputTimestamp(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& restorer = **static_cast<RestorerBox*>(data);
    if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            std::lock_guard lock(restorer.mutex);
            if (segment->format == GST_FORMAT_TIME)
                gst_segment_copy_into(segment, &restorer.output);
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_HEADER) && gst_buffer_get_size(buffer) == 0)
        return GST_PAD_PROBE_OK;
    GstClockTime restored = GST_CLOCK_TIME_NONE;
    {
        std::lock_guard lock(restorer.mutex);
        if (restorer.pendingRunningTimes.empty()) return GST_PAD_PROBE_OK;
        const GstClockTime runningTime = restorer.pendingRunningTimes.front();
        restorer.pendingRunningTimes.pop_front();
        if (GST_CLOCK_TIME_IS_VALID(runningTime))
            restored = gst_segment_position_from_running_time(&restorer.output, GST_FORMAT_TIME,
                                                              runningTime);
    }
    if (bogusTimestamp(GST_BUFFER_PTS(buffer)) && GST_CLOCK_TIME_IS_VALID(restored)) {
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_PTS(buffer) = restored;
        GST_BUFFER_DTS(buffer) = restored;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

}  // namespace

void InstallTimestampRestorer(GstElement* encoder) {
    GstPtr<GstPad> sink(gst_element_get_static_pad(encoder, "sink"));
    GstPtr<GstPad> src(gst_element_get_static_pad(encoder, "src"));
    if (!sink || !src) return;
    auto restorer = std::make_shared<TimestampRestorer>();
    auto release = [](gpointer data) { delete static_cast<RestorerBox*>(data); };
    const auto watched = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                      GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                      GST_PAD_PROBE_TYPE_EVENT_FLUSH);
    gst_pad_add_probe(sink.get(), watched, rememberInputTimestamp, new RestorerBox(restorer),
                      release);
    gst_pad_add_probe(src.get(), watched, restoreOutputTimestamp, new RestorerBox(restorer),
                      release);
}

}  // namespace media
