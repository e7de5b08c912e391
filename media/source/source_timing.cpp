#include "media/source/source_timing.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "media/core/gst_handles.h"
#include "media/core/repaired_file_source.h"
#include "media/source/decoding_repairs.h"
#include "media/source/picture_spacing.h"

namespace media {
namespace {

using Clock = std::chrono::steady_clock;

// How far before the end the search for the last picture starts; the seek goes to the key
// picture before that.
constexpr GstClockTime kEndSearchLead = 1500 * GST_MSECOND;
// Pictures at the start whose spacing gives the rate; the last ones of the file add theirs.
constexpr std::size_t kPicturesToAverage = 60;

// What one decoded stream has shown since the last flush.
struct StreamRecord {
    bool video = false;
    // Watched at a decoder's input: the packets before decoding.
    bool packets = false;
    bool segmentSeen = false;
    GstSegment segment{};
    ReferenceTime firstStart = -1;      // stream time of the first buffer
    ReferenceTime lastEnd = -1;         // the latest stream time a buffer reaches
    ReferenceTime lastStart = -1;       // the latest start of a buffer
    FrameRate rate;                     // the caps' rate
    std::vector<ReferenceTime> starts;  // while collecting: the times the file gives
    // While collecting: pictures that came without a time of their own (a program stream
    // stamps a packet, not every picture in it), whose neighbours' steps are no spacing.
    std::size_t unstamped = 0;
    bool ended = false;
};

struct Scan {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<StreamRecord>> streams;
    bool collecting = false;
    // While the end is searched, the packets' times are enough: they are not decoded.
    bool packetsOnly = false;
    int rotation = 0;
    bool sound = false;  // a stream was decoded to sound
    GstPtr<GstElement> demuxer;
    StreamRecord* firstVideo(bool packets = false) {
        for (auto& stream : streams)
            if (stream->video && stream->packets == packets) return stream.get();
        return nullptr;
    }
    // The pictures' own times: their packets before decoding, or the decoded pictures where
    // nothing decodes them (raw video).
    StreamRecord* pictureTimes() {
        StreamRecord* packets = firstVideo(true);
        return packets ? packets : firstVideo();
    }
};

struct ProbeContext {
    Scan* scan;
    StreamRecord* stream;
};

ReferenceTime streamTimeOf(const GstSegment& segment, GstClockTime time) {
    if (!GST_CLOCK_TIME_IS_VALID(time) || segment.format != GST_FORMAT_TIME) return -1;
    guint64 streamTime = 0;
    const gint sign = gst_segment_to_stream_time_full(&segment, GST_FORMAT_TIME, time, &streamTime);
    if (sign == 0) return -1;
    return sign > 0 ? NanosecondsToReferenceTime(static_cast<std::int64_t>(streamTime)) : 0;
}

}  // namespace

int OrientationDegrees(const char* orientation) {
    if (!orientation) return 0;
    for (int degrees : {90, 180, 270}) {
        const std::string rotate = "rotate-" + std::to_string(degrees);
        const std::string flipped = "flip-rotate-" + std::to_string(degrees);
        if (rotate == orientation || flipped == orientation) return degrees;
    }
    return 0;
}

namespace {

// Runs on a streaming thread.
GstPadProbeReturn recordStream(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* context = static_cast<ProbeContext*>(data);
    Scan& scan = *context->scan;
    StreamRecord& stream = *context->stream;
    std::lock_guard lock(scan.mutex);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        const GstPadProbeReturn drop = stream.packets && scan.packetsOnly && stream.segmentSeen
                                           ? GST_PAD_PROBE_DROP
                                           : GST_PAD_PROBE_OK;
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        ReferenceTime start = streamTimeOf(stream.segment, pts);
        if (stream.video && scan.collecting) {
            if (start >= 0)
                stream.starts.push_back(start);
            else
                ++stream.unstamped;
        }
        // A packet without a time (program streams stamp a packet, not every picture in it)
        // follows the one before.
        const ReferenceTime period = stream.rate.known() ? FrameStart(1, stream.rate) : 0;
        if (start < 0 && stream.packets && stream.video && stream.lastStart >= 0 && period > 0)
            start = stream.lastStart + period;
        if (start < 0) return drop;
        if (stream.firstStart < 0) stream.firstStart = start;
        ReferenceTime end = start;
        if (GST_BUFFER_DURATION_IS_VALID(buffer) && GST_CLOCK_TIME_IS_VALID(pts))
            end = streamTimeOf(stream.segment, pts + GST_BUFFER_DURATION(buffer));
        else if (stream.video)
            end = start + period;
        else if (stream.lastStart >= 0 && start > stream.lastStart)
            // Sound packets without a duration (WMA in ASF) last about as long as the one
            // before: the sound's end is that much after the last one's start.
            end = start + (start - stream.lastStart);
        stream.lastEnd = std::max(stream.lastEnd, end);
        stream.lastStart = std::max(stream.lastStart, start);
        scan.changed.notify_all();
        return drop;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_FLUSH_STOP:
            gst_segment_init(&stream.segment, GST_FORMAT_TIME);
            stream.firstStart = -1;
            stream.lastEnd = -1;
            stream.lastStart = -1;
            stream.ended = false;
            stream.segmentSeen = false;
            break;
        case GST_EVENT_SEGMENT: {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            gst_segment_copy_into(segment, &stream.segment);
            stream.segmentSeen = true;
            break;
        }
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            const GstStructure* structure = caps ? gst_caps_get_structure(caps, 0) : nullptr;
            gint numerator = 0;
            gint denominator = 1;
            if (structure &&
                gst_structure_get_fraction(structure, "framerate", &numerator, &denominator))
                stream.rate = {numerator, denominator};
            break;
        }
        case GST_EVENT_TAG: {
            GstTagList* tags = nullptr;
            gst_event_parse_tag(event, &tags);
            gchar* orientation = nullptr;
            if (stream.video && tags &&
                gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &orientation)) {
                const GCharPtr owned(orientation);
                scan.rotation = OrientationDegrees(owned.get());
            }
            break;
        }
        case GST_EVENT_EOS:
            stream.ended = true;
            scan.changed.notify_all();
            break;
        default:
            break;
    }
    return GST_PAD_PROBE_OK;
}

void watch(GstPad* pad, Scan* scan, std::unique_ptr<StreamRecord> record);

// Runs on a streaming thread: every decoded stream ends in a sink of its own that never waits
// for a clock.
void linkDecodedPad(GstElement* decodebin, GstPad* pad, gpointer data) {
    auto* scan = static_cast<Scan*>(data);
    const GstPtr<GstElement> parent(GST_ELEMENT(gst_element_get_parent(decodebin)));
    GstElement* pipeline = parent.get();
    if (!pipeline) return;
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (!sink) return;
    g_object_set(sink, "sync", FALSE, nullptr);
    CapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    const GstStructure* structure =
        caps && !gst_caps_is_empty(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    auto record = std::make_unique<StreamRecord>();
    record->video = structure && gst_structure_has_name(structure, "video/x-raw");
    if (structure && gst_structure_has_name(structure, "audio/x-raw")) {
        std::lock_guard lock(scan->mutex);
        scan->sound = true;
    }
    gst_bin_add(GST_BIN(pipeline), sink);
    GstPtr<GstPad> sinkPad(gst_element_get_static_pad(sink, "sink"));
    watch(sinkPad.get(), scan, std::move(record));
    gst_element_sync_state_with_parent(sink);
    gst_pad_link(pad, sinkPad.get());
}

void watch(GstPad* pad, Scan* scan, std::unique_ptr<StreamRecord> record) {
    gst_segment_init(&record->segment, GST_FORMAT_TIME);
    auto* context = new ProbeContext{scan, record.get()};
    {
        std::lock_guard lock(scan->mutex);
        scan->streams.push_back(std::move(record));
    }
    gst_pad_add_probe(pad,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      recordStream, context,
                      [](gpointer p) { delete static_cast<ProbeContext*>(p); });
}

// Runs on the thread that adds the element: the demuxer, for the rate its container states,
// and the decoders' inputs, for the packets' times.
void watchElement(GstBin*, GstBin*, GstElement* element, gpointer data) {
    auto* scan = static_cast<Scan*>(data);
    GstElementFactory* factory = gst_element_get_factory(element);
    const char* klass =
        factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    if (!klass) return;
    if (std::strstr(klass, "Decoder")) {
        GstPtr<GstPad> sink(gst_element_get_static_pad(element, "sink"));
        if (!sink) return;
        auto record = std::make_unique<StreamRecord>();
        record->video = std::strstr(klass, "Video") || std::strstr(klass, "Image");
        record->packets = true;
        watch(sink.get(), scan, std::move(record));
        return;
    }
    if (!std::strstr(klass, "Demux")) return;
    std::lock_guard lock(scan->mutex);
    if (!scan->demuxer) scan->demuxer.reset(GST_ELEMENT(gst_object_ref(element)));
}

// The rate the demuxer's video output states, where the decoder's does not.
FrameRate containerRate(GstElement* demuxer) {
    FrameRate rate;
    if (!demuxer) return rate;
    const IteratorPtr pads(gst_element_iterate_src_pads(demuxer));
    GValue item = G_VALUE_INIT;
    while (!rate.known() && gst_iterator_next(pads.get(), &item) == GST_ITERATOR_OK) {
        CapsPtr caps(gst_pad_get_current_caps(GST_PAD(g_value_get_object(&item))));
        const GstStructure* structure = caps && !gst_caps_is_empty(caps.get())
                                            ? gst_caps_get_structure(caps.get(), 0)
                                            : nullptr;
        gint numerator = 0;
        gint denominator = 1;
        if (structure && g_str_has_prefix(gst_structure_get_name(structure), "video/") &&
            gst_structure_get_fraction(structure, "framerate", &numerator, &denominator))
            rate = {numerator, denominator};
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return rate;
}

GstClockTime remaining(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<GstClockTime>(left.count()) : 0;
}

bool settle(GstElement* pipeline, Clock::time_point deadline) {
    return gst_element_get_state(pipeline, nullptr, nullptr, remaining(deadline)) ==
           GST_STATE_CHANGE_SUCCESS;
}

// Plays to the end (every sink's end-of-stream) or an error or the deadline.
bool playToEnd(GstElement* pipeline, Clock::time_point deadline) {
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
    const MessagePtr message(gst_bus_timed_pop_filtered(
        bus.get(), remaining(deadline),
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    return message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
}

// Where the last picture ends. The pictures lie on the grid of their rate, whatever their times
// were rounded to (Matroska keeps milliseconds), so the end is that of the grid's frame; only
// where nothing gave the rate does a picture last as long as it says.
ReferenceTime lastPictureEnd(const SourceTiming& timing, const StreamRecord& video) {
    const FrameRate rate = timing.frameRate;
    if (timing.frameRateOrigin != FrameRateOrigin::Assumed && video.lastStart >= timing.origin) {
        const std::int64_t frames =
            FrameIndexAt(video.lastStart - timing.origin + FrameMiddle(0, rate), rate) + 1;
        return timing.origin + FrameStart(frames, rate);
    }
    return std::max(video.lastEnd, video.lastStart + FrameStart(1, rate));
}

// A pipeline that decodes URI, with SCAN watching its streams; nullptr where the elements
// cannot be made.
GstPtr<GstElement> scanningPipeline(const std::string& uri, Scan& scan) {
    GstPtr<GstElement> owner = Sunk(gst_pipeline_new(nullptr));
    const GstPtr<GstElement> decodebin = MakeElement("uridecodebin");
    if (!owner || !decodebin) return nullptr;
    GstElement* pipeline = owner.get();
    g_object_set(decodebin.get(), "uri", uri.c_str(), nullptr);
    gst_bin_add(GST_BIN(pipeline), decodebin.get());
    RepairDecodingInside(pipeline);
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(watchElement), &scan);
    g_signal_connect(decodebin.get(), "pad-added", G_CALLBACK(linkDecodedPad), &scan);
    return owner;
}

// The first picture as the file starts, and the length the file declares; -1 where no
// picture showed.
ReferenceTime firstPicture(GstElement* pipeline, Scan& scan, Clock::time_point deadline,
                           SourceTiming& timing) {
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    if (!settle(pipeline, deadline)) return -1;
    auto firstShown = [&scan] {
        StreamRecord* video = scan.firstVideo();
        return video ? video->firstStart : -1;
    };
    ReferenceTime firstSeen = -1;
    {
        std::lock_guard lock(scan.mutex);
        firstSeen = firstShown();
    }
    // The presentation may open with nothing on show (an MP4 edit list's empty edit): the
    // sinks preroll on that gap, and the first picture comes once the pipeline plays.
    if (firstSeen < 0) {
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        {
            std::unique_lock lock(scan.mutex);
            scan.changed.wait_until(lock, deadline, [&] {
                StreamRecord* video = scan.firstVideo();
                return firstShown() >= 0 || (video && video->ended);
            });
            firstSeen = firstShown();
        }
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        if (firstSeen < 0 || !settle(pipeline, deadline)) return -1;
    }
    gint64 duration = -1;
    if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
        timing.declaredDuration = NanosecondsToReferenceTime(duration);
    return firstSeen;
}

// The same picture after a seek to where it first showed. Some demuxers stamp their first
// segment differently from every later one (matroskademux starts its stream time at the
// first picture; tsdemux counts from 0 after a seek before its first picture), and every
// later place the user asks for goes through a seek: the seek's axis is the one to use.
// Sets the origin, the rotation and any rate the streams state; whether the seek worked.
bool seekToOrigin(GstElement* pipeline, Scan& scan, Clock::time_point deadline,
                  ReferenceTime firstSeen, SourceTiming& timing) {
    const bool seekable =
        gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME,
                         static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                         GST_SEEK_TYPE_SET, ReferenceTimeToNanoseconds(firstSeen),
                         GST_SEEK_TYPE_NONE, -1) &&
        settle(pipeline, deadline);
    {
        std::lock_guard lock(scan.mutex);
        StreamRecord* video = scan.firstVideo();
        timing.origin = seekable && video && video->firstStart >= 0 ? video->firstStart : firstSeen;
        timing.rotation = scan.rotation;
        timing.hasSound = scan.sound;
        timing.seeksMended =
            scan.demuxer && MendsSeeksOf(gst_element_get_factory(scan.demuxer.get()));
        if (video && video->rate.known()) timing.statedFrameRate = video->rate;
    }
    if (!timing.statedFrameRate.known()) {
        std::lock_guard lock(scan.mutex);
        timing.statedFrameRate = containerRate(scan.demuxer.get());
    }
    return seekable;
}

// The times of the first pictures from the origin on, their packets read but not decoded.
void measureStartSpacing(GstElement* pipeline, Scan& scan, Clock::time_point deadline,
                         PictureSpacing& spacing) {
    {
        std::lock_guard lock(scan.mutex);
        scan.collecting = true;
        scan.packetsOnly = true;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::unique_lock lock(scan.mutex);
    scan.changed.wait_until(lock, deadline, [&scan] {
        StreamRecord* video = scan.pictureTimes();
        return !video || video->ended || video->starts.size() >= kPicturesToAverage;
    });
    scan.collecting = false;
    if (StreamRecord* video = scan.pictureTimes()) {
        if (video->unstamped == 0) spacing.Add(std::move(video->starts));
        video->starts.clear();
        video->unstamped = 0;
    }
    lock.unlock();
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
}

// Where the watched pictures and sound end so far: -1 for what was not seen.
std::pair<ReferenceTime, ReferenceTime> streamEnds(Scan& scan, const SourceTiming& timing) {
    ReferenceTime videoEnd = -1;
    ReferenceTime audioEnd = -1;
    std::lock_guard lock(scan.mutex);
    // Decoded streams too: a source whose decoder could not be watched at its input.
    for (bool packets : {true, false}) {
        for (auto& stream : scan.streams) {
            if (stream->packets != packets) continue;
            if (!stream->video)
                audioEnd = std::max(audioEnd, stream->lastEnd);
            else if (stream->lastStart >= 0)
                videoEnd = std::max(videoEnd, lastPictureEnd(timing, *stream));
        }
        if (videoEnd >= 0) break;
    }
    return {videoEnd, audioEnd};
}

// The last picture: the packets from the key picture before the end, not decoded; a file
// shorter than it says is searched again from earlier places. The times of the pictures read
// there join the spacing. Whether the end was found; the ends themselves are read from the
// streams once the rate is known.
bool findEnd(GstElement* pipeline, Scan& scan, Clock::time_point deadline, bool seekable,
             SourceTiming& timing, PictureSpacing& spacing) {
    const GstClockTime origin = ReferenceTimeToNanoseconds(timing.origin);
    GstClockTime from = origin;
    if (timing.declaredDuration > 0) {
        const GstClockTime declared = ReferenceTimeToNanoseconds(timing.declaredDuration);
        if (declared > origin + kEndSearchLead) from = declared - kEndSearchLead;
    }
    for (int attempt = 0; attempt < 4 && remaining(deadline) > 0; ++attempt) {
        const bool moved =
            seekable && gst_element_seek(
                            pipeline, 1.0, GST_FORMAT_TIME,
                            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT |
                                                      GST_SEEK_FLAG_SNAP_BEFORE),
                            GST_SEEK_TYPE_SET, static_cast<gint64>(from), GST_SEEK_TYPE_NONE, -1);
        if (!moved && attempt > 0) break;
        // The packets read before (the start's spacing, an earlier attempt) may have reached
        // the end already: that end-of-stream is no answer to this search.
        if (moved) {
            GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
            gst_bus_set_flushing(bus.get(), TRUE);
            gst_bus_set_flushing(bus.get(), FALSE);
        }
        {
            std::lock_guard lock(scan.mutex);
            if (StreamRecord* video = scan.pictureTimes()) {
                video->starts.clear();
                video->unstamped = 0;
            }
            scan.collecting = true;
        }
        const bool ended = playToEnd(pipeline, deadline);
        std::vector<ReferenceTime> starts;
        {
            std::lock_guard lock(scan.mutex);
            scan.collecting = false;
            StreamRecord* video = scan.pictureTimes();
            if (video && video->unstamped == 0) starts = std::move(video->starts);
        }
        if (ended && streamEnds(scan, timing).first >= 0) {
            spacing.Add(std::move(starts));
            return true;
        }
        if (!ended || from <= origin) break;
        from = origin + (from - origin) / 4;
    }
    return false;
}

SourceTiming measure(const std::string& path, std::chrono::milliseconds timeout) {
    SourceTiming timing;
    const auto deadline = Clock::now() + timeout;
    const std::string uri = MediaUriOf(path);
    if (uri.empty()) return timing;

    Scan scan;
    const GstPtr<GstElement> owner = scanningPipeline(uri, scan);
    if (!owner) return timing;
    GstElement* pipeline = owner.get();
    struct StopOnReturn {
        GstElement* pipeline;
        ~StopOnReturn() { gst_element_set_state(pipeline, GST_STATE_NULL); }
    } stopOnReturn{pipeline};

    const ReferenceTime firstSeen = firstPicture(pipeline, scan, deadline, timing);
    if (firstSeen < 0) return timing;
    const bool seekable = seekToOrigin(pipeline, scan, deadline, firstSeen, timing);
    PictureSpacing spacing;
    measureStartSpacing(pipeline, scan, deadline, spacing);
    DecideFrameRate(spacing, timing);
    timing.measured = true;
    if (findEnd(pipeline, scan, deadline, seekable, timing, spacing)) {
        DecideFrameRate(spacing, timing);
        const auto [videoEnd, audioEnd] = streamEnds(scan, timing);
        timing.videoEnd = std::max(videoEnd, timing.origin);
        timing.audioEnd = audioEnd;
    }
    return timing;
}

struct Stamp {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    bool operator==(const Stamp&) const = default;
};

std::optional<Stamp> stampOf(const std::string& path) {
    std::error_code failed;
    Stamp stamp{std::filesystem::file_size(path, failed), {}};
    if (failed) return std::nullopt;
    stamp.modified = std::filesystem::last_write_time(path, failed);
    if (failed) return std::nullopt;
    return stamp;
}

// One file under one name, whichever way the caller wrote it.
std::string keyOf(const std::string& path) {
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failed);
    return failed ? path : absolute.lexically_normal().string();
}

std::mutex cacheMutex;
std::map<std::string, std::pair<Stamp, SourceTiming>>& cache() {
    static std::map<std::string, std::pair<Stamp, SourceTiming>> known;
    return known;
}

}  // namespace

ReferenceTime SourceTiming::Length() const {
    if (videoEnd >= 0) return ToUser(videoEnd);
    return declaredDuration > origin ? declaredDuration - origin : declaredDuration;
}

FrameRate SnapToStandardRate(FrameRate rate) {
    if (!rate.known()) return rate;
    static constexpr FrameRate standard[] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                             {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
    // The nearest one: 30 and 29.97 lie only 0.1% apart.
    auto valueOf = [](FrameRate r) { return static_cast<double>(r.numerator) / r.denominator; };
    const double value = valueOf(rate);
    FrameRate nearest = rate;
    double nearestGap = 0.001;
    for (const FrameRate& candidate : standard) {
        const double gap = std::fabs(value - valueOf(candidate)) / valueOf(candidate);
        if (gap <= nearestGap) {
            nearest = candidate;
            nearestGap = gap;
        }
    }
    return nearest;
}

SourceTiming MeasureSourceTiming(const std::string& path, std::chrono::milliseconds timeout) {
    if (std::optional<SourceTiming> known = KnownSourceTiming(path)) return *known;
    const std::optional<Stamp> before = stampOf(path);
    SourceTiming timing = measure(path, timeout);
    if (timing.measured && before && stampOf(path) == before) {
        std::lock_guard lock(cacheMutex);
        cache()[keyOf(path)] = {*before, timing};
    }
    return timing;
}

std::optional<SourceTiming> KnownSourceTiming(const std::string& path) {
    const std::optional<Stamp> stamp = stampOf(path);
    if (!stamp) return std::nullopt;
    std::lock_guard lock(cacheMutex);
    const auto found = cache().find(keyOf(path));
    if (found == cache().end() || !(found->second.first == *stamp)) return std::nullopt;
    return found->second.second;
}

}  // namespace media
