#include "media/copy/copy_source.h"

#include <gst/app/gstappsink.h>
#include <gst/pbutils/pbutils.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "media/core/failure_words.h"
#include "media/source/source_timing.h"

namespace media {

namespace {

constexpr auto kOpenTimeout = std::chrono::seconds(5);
constexpr auto kStallTimeout = std::chrono::seconds(10);
// How long a packet may take to come before the bus is asked whether reading failed.
constexpr auto kPacketSlice = std::chrono::milliseconds(50);
// Packets each sink holds before the reader waits: enough for a file that interleaves its
// streams a second or two apart.
constexpr guint kSinkPackets = 256;

bool isVideoCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return false;
    const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    return g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/");
}

bool isAudioCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return false;
    return g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
}

ReferenceTime toStreamTime(const GstSegment* segment, GstClockTime time) {
    if (!GST_CLOCK_TIME_IS_VALID(time)) return kNoTime;
    if (!segment || segment->format != GST_FORMAT_TIME)
        return NanosecondsToReferenceTime(static_cast<std::int64_t>(time));
    guint64 converted = 0;
    const int sign = gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, time, &converted);
    if (sign == 0) return kNoTime;
    const auto ns = static_cast<std::int64_t>(converted);
    return NanosecondsToReferenceTime(sign > 0 ? ns : -ns);
}

// The length of the size before each unit of an H.264 access unit in MP4 form ("avc"), from
// its caps; 0 for the byte-stream form.
int unitLengthSize(const GstCaps* caps) {
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    if (!gst_structure_has_name(s, "video/x-h264")) return 0;
    const gchar* format = gst_structure_get_string(s, "stream-format");
    if (!format || g_str_equal(format, "byte-stream")) return 0;
    const GValue* value = gst_structure_get_value(s, "codec_data");
    if (!value || !GST_VALUE_HOLDS_BUFFER(value)) return 4;
    GstMapInfo map;
    GstBuffer* record = gst_value_get_buffer(value);
    int size = 4;
    if (gst_buffer_map(record, &map, GST_MAP_READ)) {
        if (map.size > 4) size = (map.data[4] & 3) + 1;
        gst_buffer_unmap(record, &map);
    }
    return size;
}

// An access unit in MP4 form as an AVI file holds it: each unit after a start code.
GstBuffer* toByteStream(GstBuffer* unit, int lengthSize) {
    GstMapInfo map;
    if (!gst_buffer_map(unit, &map, GST_MAP_READ)) return gst_buffer_ref(unit);
    std::vector<std::uint8_t> out;
    out.reserve(map.size + 16);
    for (std::size_t at = 0; at + static_cast<std::size_t>(lengthSize) <= map.size;) {
        std::size_t length = 0;
        for (int i = 0; i < lengthSize; ++i) length = (length << 8) | map.data[at + static_cast<std::size_t>(i)];
        at += static_cast<std::size_t>(lengthSize);
        if (length > map.size - at) break;
        static constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};
        out.insert(out.end(), kStartCode, kStartCode + 4);
        out.insert(out.end(), map.data + at, map.data + at + length);
        at += length;
    }
    gst_buffer_unmap(unit, &map);
    GstBuffer* converted = gst_buffer_new_memdup(out.data(), out.size());
    gst_buffer_copy_into(converted, unit, GST_BUFFER_COPY_METADATA, 0, -1);
    return converted;
}

// The format of the packets as they are handed out: H.264 in byte-stream form.
GstCaps* handedOutCaps(GstCaps* caps) {
    if (unitLengthSize(caps) == 0) return gst_caps_ref(caps);
    GstCaps* byteStream = gst_caps_copy(caps);
    GstStructure* s = gst_caps_get_structure(byteStream, 0);
    gst_structure_set(s, "stream-format", G_TYPE_STRING, "byte-stream", nullptr);
    gst_structure_remove_field(s, "codec_data");
    return byteStream;
}

bool fileIsAvi(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char head[12] = {};
    const bool read = std::fread(head, 1, sizeof head, file) == sizeof head;
    std::fclose(file);
    return read && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
}

}  // namespace

// What the streaming threads share with the reading thread.
struct CopySource::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    GstElement* pipeline = nullptr;  // not a reference: this lives as long as the pipeline
    GstElement* sinks[2] = {nullptr, nullptr};
    CapsPtr foundCaps[2];
    std::string demultiplexer;  // the factory's name; empty for a bare stream
    bool allShown = false;      // the demultiplexer said it has no more streams to show
    bool shownKinds[2] = {false, false};  // and whether they hold pictures, sound
    int waiting = 0;            // samples or ends not yet looked at, for the reader's wait

    void notify() {
        {
            std::lock_guard lock(mutex);
            ++waiting;
        }
        changed.notify_all();
    }
};

namespace {

// Runs on a streaming thread: a sample or the end reached a sink.
GstFlowReturn sampleArrived(GstAppSink*, gpointer data) {
    static_cast<CopySource::Shared*>(data)->notify();
    return GST_FLOW_OK;
}

void endArrived(GstAppSink*, gpointer data) {
    static_cast<CopySource::Shared*>(data)->notify();
}

// Runs on a streaming thread: the first picture stream and the first sound stream are read
// through a queue each (the demultiplexer feeds both from one thread) into a sink the reader
// pulls from; every other stream is read and dropped.
void padAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* shared = static_cast<CopySource::Shared*>(data);
    CapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    int kind = -1;
    {
        std::lock_guard lock(shared->mutex);
        if (isVideoCaps(caps.get()) && !shared->sinks[0])
            kind = 0;
        else if (isAudioCaps(caps.get()) && !shared->sinks[1])
            kind = 1;
    }
    GstBin* bin = GST_BIN(shared->pipeline);
    if (kind < 0) {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add(bin, sink);
        gst_element_sync_state_with_parent(sink);
        GstPtr<GstPad> in(gst_element_get_static_pad(sink, "sink"));
        gst_pad_link(pad, in.get());
        return;
    }
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    g_object_set(queue, "max-size-time", guint64{0}, "max-size-bytes", guint{0},
                 "max-size-buffers", guint{64}, nullptr);
    g_object_set(sink, "sync", FALSE, "max-buffers", kSinkPackets, "drop", FALSE, nullptr);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = sampleArrived;
    callbacks.new_preroll = sampleArrived;
    callbacks.eos = endArrived;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, shared, nullptr);
    gst_bin_add_many(bin, queue, sink, nullptr);
    gst_element_link(queue, sink);
    gst_element_sync_state_with_parent(sink);
    gst_element_sync_state_with_parent(queue);
    GstPtr<GstPad> in(gst_element_get_static_pad(queue, "sink"));
    gst_pad_link(pad, in.get());
    {
        std::lock_guard lock(shared->mutex);
        shared->sinks[kind] = sink;
        shared->foundCaps[kind] = std::move(caps);
    }
    shared->notify();
}

// Runs on a streaming thread: the demultiplexer has shown its streams; the parsing bin shows
// them to the sinks a moment later.
void allStreamsShown(GstElement* demultiplexer, gpointer data) {
    auto* shared = static_cast<CopySource::Shared*>(data);
    bool kinds[2] = {false, false};
    gst_element_foreach_src_pad(
        demultiplexer,
        [](GstElement*, GstPad* pad, gpointer found) -> gboolean {
            CapsPtr caps(gst_pad_get_current_caps(pad));
            if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
            auto* kinds = static_cast<bool*>(found);
            kinds[0] = kinds[0] || isVideoCaps(caps.get());
            kinds[1] = kinds[1] || isAudioCaps(caps.get());
            return TRUE;
        },
        kinds);
    {
        std::lock_guard lock(shared->mutex);
        shared->allShown = true;
        shared->shownKinds[0] = kinds[0];
        shared->shownKinds[1] = kinds[1];
    }
    shared->notify();
}

// The parser before a sink, to mend its set-up: an H.264 parser sends its parameter sets
// before every key frame, so that a copy may start at any of them.
void elementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory) return;
    if (g_str_equal(GST_OBJECT_NAME(factory), "h264parse"))
        g_object_set(element, "config-interval", -1, nullptr);
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    if (klass && std::strstr(klass, "Demux")) {
        auto* shared = static_cast<CopySource::Shared*>(data);
        {
            std::lock_guard lock(shared->mutex);
            shared->demultiplexer = GST_OBJECT_NAME(factory);
        }
        g_signal_connect(element, "no-more-pads", G_CALLBACK(allStreamsShown), shared);
    }
}

void fillStream(CopySourceStream& stream, const GstCaps* found) {
    stream.present = true;
    stream.foundCaps.reset(gst_caps_copy(found));
    const GCharPtr description(
        gst_caps_is_fixed(found) ? gst_pb_utils_get_codec_description(found) : nullptr);
    const GstStructure* s = gst_caps_get_structure(found, 0);
    stream.codec = description ? description.get() : gst_structure_get_name(s);
    if (const GValue* value = gst_structure_get_value(s, "codec_data");
        value && GST_VALUE_HOLDS_BUFFER(value)) {
        GstBuffer* buffer = gst_value_get_buffer(value);
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            stream.codecData.assign(map.data, map.data + map.size);
            gst_buffer_unmap(buffer, &map);
        }
    }
    gst_structure_get_int(s, "width", &stream.width);
    gst_structure_get_int(s, "height", &stream.height);
    gst_structure_get_fraction(s, "framerate", &stream.rateTag.numerator,
                               &stream.rateTag.denominator);
    gst_structure_get_fraction(s, "pixel-aspect-ratio", &stream.pixelAspect.numerator,
                               &stream.pixelAspect.denominator);
    gst_structure_get_int(s, "rate", &stream.sampleRate);
    gst_structure_get_int(s, "channels", &stream.channels);
}

}  // namespace

namespace {

// How a phone's clip is turned to be shown: the orientation tag that came before the first
// picture, still held by the sink.
int shownTurn(GstElement* sink) {
    const GstPtr<GstPad> pad(gst_element_get_static_pad(sink, "sink"));
    if (!pad) return 0;
    for (guint index = 0;; ++index) {
        const EventPtr event(gst_pad_get_sticky_event(pad.get(), GST_EVENT_TAG, index));
        if (!event) return 0;
        GstTagList* tags = nullptr;
        gst_event_parse_tag(event.get(), &tags);
        gchar* orientation = nullptr;
        if (tags && gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &orientation)) {
            const GCharPtr owned(orientation);
            return OrientationDegrees(owned.get());
        }
    }
}

}  // namespace

std::vector<std::uint8_t> BufferBytes(GstBuffer* buffer) {
    std::vector<std::uint8_t> bytes;
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        bytes.assign(map.data, map.data + map.size);
        gst_buffer_unmap(buffer, &map);
    }
    return bytes;
}

CopySource::CopySource() : shared_(std::make_shared<Shared>()) {}

CopySource::~CopySource() {
    pipeline_.reset();  // stops the streaming threads before the shared state goes
}

bool CopySource::Open(const std::string& path) {
    path_ = path;
    avi_ = fileIsAvi(path);
    pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* parser = gst_element_factory_make("parsebin", nullptr);
    if (!pipeline_ || !source || !parser) {
        if (source) gst_object_unref(gst_object_ref_sink(source));
        if (parser) gst_object_unref(gst_object_ref_sink(parser));
        problem_ = "The media framework has no parsing elements (filesrc, parsebin).";
        return false;
    }
    shared_->pipeline = pipeline_.get();
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline_.get()), source, parser, nullptr);
    gst_element_link(source, parser);
    g_signal_connect(parser, "pad-added", G_CALLBACK(padAdded), shared_.get());
    g_signal_connect(parser, "deep-element-added", G_CALLBACK(elementAdded), shared_.get());
    gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);

    // Most demultiplexers show all of a file's streams at once, before they let any data
    // through: once a sink holds its first packet every stream is known. A program stream's
    // shows each stream when its first packet comes, and shows none after a seek: there the
    // file is read on, and dropped (every reading starts with a seek), until both a picture
    // and a sound stream are shown, the demultiplexer says it has no more, or five seconds of
    // pictures have gone by without sound. Each sink's first packet gives its stream's format.
    const auto until = std::chrono::steady_clock::now() + kOpenTimeout;
    CapsPtr firstCaps[2];  // a preroll sample is handed out once
    ReferenceTime firstPicture = kNoTime;
    bool readingOn = false;
    for (;;) {
        int sinks = 0;
        int prerolled = 0;
        int ended = 0;
        bool allShown = false;
        bool bareStream = false;
        {
            std::lock_guard lock(shared_->mutex);
            // Every stream the demultiplexer showed has reached its sink.
            allShown = shared_->allShown &&
                       (!shared_->shownKinds[0] || shared_->sinks[0]) &&
                       (!shared_->shownKinds[1] || shared_->sinks[1]);
            bareStream = shared_->demultiplexer.empty();
            for (int kind = 0; kind < 2; ++kind) {
                GstElement* sink = shared_->sinks[kind];
                if (!sink) continue;
                ++sinks;
                const bool eos = gst_app_sink_is_eos(GST_APP_SINK(sink));
                ended += eos ? 1 : 0;
                SamplePtr sample(readingOn ? gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 0)
                                 : firstCaps[kind]
                                     ? nullptr
                                     : gst_app_sink_try_pull_preroll(GST_APP_SINK(sink), 0));
                if (sample && !firstCaps[kind] && gst_sample_get_caps(sample.get()))
                    firstCaps[kind].reset(gst_caps_ref(gst_sample_get_caps(sample.get())));
                if (sample && kind == 0)
                    if (GstBuffer* buffer = gst_sample_get_buffer(sample.get());
                        buffer && GST_BUFFER_PTS_IS_VALID(buffer)) {
                        const ReferenceTime time = NanosecondsToReferenceTime(
                            static_cast<std::int64_t>(GST_BUFFER_PTS(buffer)));
                        if (firstPicture == kNoTime) firstPicture = time;
                        if (time - firstPicture >= 5 * kReferenceTimePerSecond) allShown = true;
                    }
                if (firstCaps[kind] || eos) ++prerolled;
            }
            if (shared_->sinks[0] && shared_->sinks[1]) allShown = true;
        }
        const bool known = sinks > 0 && prerolled == sinks;
        if (known && (allShown || bareStream || ended == sinks)) break;
        if (known && !readingOn) {
            if (!start()) return false;
            readingOn = true;
            continue;
        }
        if (const std::string failure = readFailure(); !failure.empty()) {
            problem_ = failure;
            return false;
        }
        if (std::chrono::steady_clock::now() >= until) {
            if (sinks > 0) break;
            problem_ = path + " could not be read in time.";
            return false;
        }
        std::unique_lock lock(shared_->mutex);
        if (shared_->waiting == 0) shared_->changed.wait_for(lock, kPacketSlice);
        shared_->waiting = 0;
    }
    std::lock_guard lock(shared_->mutex);
    for (int kind = 0; kind < 2; ++kind) {
        sinks_[kind] = shared_->sinks[kind];
        if (!sinks_[kind]) continue;
        GstCaps* parsed = firstCaps[kind].get();
        const GstCaps* found = shared_->foundCaps[kind].get();
        if (!found || (!gst_caps_is_fixed(found) && parsed)) found = parsed;
        if (found) fillStream(streams_[kind], found);
        streams_[kind].present = true;
        if (parsed) streams_[kind].caps.reset(handedOutCaps(parsed));
    }
    if (sinks_[0]) streams_[0].rotation = shownTurn(sinks_[0]);
    return true;
}

// A bare stream's parser places a seek by its bit rate, guesses the times after it, and may lose
// a picture in the flush: the stream is read again from its start, where its times are counted
// from, by a reader of its own.
bool CopySource::readFromStart() {
    const std::string path = path_;
    pipeline_.reset();  // stops the streaming threads before the shared state goes
    shared_ = std::make_shared<Shared>();
    running_ = false;
    for (int kind = 0; kind < 2; ++kind) {
        sinks_[kind] = nullptr;
        streams_[kind] = CopySourceStream{};
        lastTime_[kind] = kNoTime;
        sampleCaps_[kind].reset();
        lengthSize_[kind] = 0;
    }
    return Open(path);
}

bool CopySource::bare() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->demultiplexer.empty();
}

bool CopySource::LengthIsEstimate() const {
    std::lock_guard lock(shared_->mutex);
    const std::string& name = shared_->demultiplexer;
    return name.empty() || name == "mpegpsdemux" || name == "tsdemux";
}

ReferenceTime CopySource::Duration() const {
    gint64 duration = -1;
    if (!pipeline_ || !gst_element_query_duration(pipeline_.get(), GST_FORMAT_TIME, &duration) ||
        duration <= 0)
        return -1;
    return NanosecondsToReferenceTime(duration);
}

std::string CopySource::readFailure() {
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline_.get()));
    const MessagePtr message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    if (!message) return {};
    return path_ + ": " + FailureInWords(message.get());
}

bool CopySource::waitForState(GstState state) {
    const auto until = std::chrono::steady_clock::now() + kOpenTimeout;
    for (;;) {
        GstState now = GST_STATE_VOID_PENDING;
        const GstStateChangeReturn result =
            gst_element_get_state(pipeline_.get(), &now, nullptr, 20 * GST_MSECOND);
        if (result == GST_STATE_CHANGE_FAILURE) {
            const std::string failure = readFailure();
            problem_ = failure.empty() ? path_ + " cannot be read." : failure;
            return false;
        }
        if (result == GST_STATE_CHANGE_SUCCESS && now == state) return true;
        if (const std::string failure = readFailure(); !failure.empty()) {
            problem_ = failure;
            return false;
        }
        if (std::chrono::steady_clock::now() >= until) {
            problem_ = path_ + " could not be read in time.";
            return false;
        }
    }
}

bool CopySource::Seek(ReferenceTime streamTime) {
    if (!pipeline_) return false;
    if (bare()) return readFromStart();
    // A running pipeline is sought as it runs: its sinks may be full, and would never give up
    // their place for a preroll. The flush empties them before the seek returns.
    if (!running_ && !waitForState(GST_STATE_PAUSED)) return false;
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT |
                                                 GST_SEEK_FLAG_SNAP_BEFORE);
    const gint64 at = ReferenceTimeToNanoseconds(std::max<ReferenceTime>(streamTime, 0));
    // A demultiplexer still busy with the seek before may refuse one for a moment.
    bool sought = false;
    for (int attempt = 0; attempt < 5 && !sought; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sought = gst_element_seek(pipeline_.get(), 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                                  at, GST_SEEK_TYPE_NONE, -1);
    }
    if (!sought) {
        problem_ = path_ + " cannot be sought.";
        return false;
    }
    lastTime_[0] = lastTime_[1] = kNoTime;
    return running_ || waitForState(GST_STATE_PAUSED);
}

bool CopySource::start() {
    if (running_) return true;
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        const std::string failure = readFailure();
        problem_ = failure.empty() ? path_ + " cannot be read." : failure;
        return false;
    }
    running_ = true;
    return true;
}

bool CopySource::Next(SourcePacket* packet) {
    if (!pipeline_ || (!sinks_[0] && !sinks_[1])) return false;
    if (!start()) return false;
    // A reader that stops delivering (a damaged file, a demultiplexer that waits for ever)
    // ends the reading with a failure, never a wait without end.
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
        if (interrupt_ && interrupt_->load()) return false;
        {
            // A stream the parsing bin showed after the others (late in the file).
            std::lock_guard lock(shared_->mutex);
            for (int kind = 0; kind < 2; ++kind)
                if (!sinks_[kind] && shared_->sinks[kind]) {
                    sinks_[kind] = shared_->sinks[kind];
                    if (shared_->foundCaps[kind])
                        fillStream(streams_[kind], shared_->foundCaps[kind].get());
                    streams_[kind].present = true;
                }
        }
        // The stream that lags behind goes first, so that both come in the file's order.
        int order[2] = {0, 1};
        if (lastTime_[1] < lastTime_[0]) std::swap(order[0], order[1]);
        bool allEnded = true;
        for (int kind : order) {
            GstElement* sink = sinks_[kind];
            if (!sink) continue;
            SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 0));
            if (!sample) {
                allEnded = allEnded && gst_app_sink_is_eos(GST_APP_SINK(sink));
                continue;
            }
            GstBuffer* buffer = gst_sample_get_buffer(sample.get());
            if (!buffer) continue;
            GstCaps* caps = gst_sample_get_caps(sample.get());
            if (caps && caps != sampleCaps_[kind].get()) {
                sampleCaps_[kind].reset(gst_caps_ref(caps));
                lengthSize_[kind] = unitLengthSize(caps);
                streams_[kind].caps.reset(handedOutCaps(caps));
            }
            const GstSegment* segment = gst_sample_get_segment(sample.get());
            packet->video = kind == 0;
            packet->buffer.reset(lengthSize_[kind] ? toByteStream(buffer, lengthSize_[kind])
                                                   : gst_buffer_ref(buffer));
            packet->pts = toStreamTime(segment, GST_BUFFER_PTS(buffer));
            packet->dts = toStreamTime(segment, GST_BUFFER_DTS(buffer));
            packet->duration = GST_BUFFER_DURATION_IS_VALID(buffer)
                                   ? NanosecondsToReferenceTime(
                                         static_cast<std::int64_t>(GST_BUFFER_DURATION(buffer)))
                                   : -1;
            packet->containerKey = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
            const ReferenceTime time = packet->dts != kNoTime ? packet->dts : packet->pts;
            if (time != kNoTime) lastTime_[kind] = time;
            return true;
        }
        if (allEnded) return false;
        if (std::string failure = readFailure(); !failure.empty()) {
            problem_ = std::move(failure);
            return false;
        }
        if (std::chrono::steady_clock::now() - lastProgress > kStallTimeout) {
            problem_ = path_ + " could not be read on: its reader stopped delivering.";
            return false;
        }
        std::unique_lock lock(shared_->mutex);
        if (shared_->waiting == 0) shared_->changed.wait_for(lock, kPacketSlice);
        shared_->waiting = 0;
    }
}

}  // namespace media
