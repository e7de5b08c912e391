#include "media/copy/encoded_sound.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "media/core/failure_words.h"

namespace media {

struct EncodedSound::Shared {
    std::mutex mutex;
    GstElement* pipeline = nullptr;  // not a reference: this lives as long as the pipeline
    GstElement* chainStart = nullptr;
    bool linked = false;
};

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr auto kFrameTimeout = std::chrono::seconds(10);

// Runs on a streaming thread: the first sound stream goes into the encoding chain, the rest of
// the file's streams (not decoded) are dropped.
void decodedPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* shared = static_cast<EncodedSound::Shared*>(data);
    CapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    const bool sound = caps && !gst_caps_is_empty(caps.get()) &&
                       gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "audio/x-raw");
    GstElement* target = nullptr;
    {
        std::lock_guard lock(shared->mutex);
        if (sound && !shared->linked) {
            shared->linked = true;
            target = shared->chainStart;
        }
    }
    if (!target) {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add(GST_BIN(shared->pipeline), sink);
        gst_element_sync_state_with_parent(sink);
        target = sink;
    }
    GstPtr<GstPad> in(gst_element_get_static_pad(target, "sink"));
    gst_pad_link(pad, in.get());
}

// The parser that makes one buffer of each encoded frame; null for PCM and unknown formats.
const char* parserFor(const std::string& encoder) {
    if (encoder.empty()) return nullptr;
    GstPtr<GstElementFactory> factory(gst_element_factory_find(encoder.c_str()));
    if (!factory) return nullptr;
    for (const GList* t = gst_element_factory_get_static_pad_templates(factory.get()); t; t = t->next) {
        auto* templ = static_cast<GstStaticPadTemplate*>(t->data);
        if (templ->direction != GST_PAD_SRC) continue;
        CapsPtr caps(gst_static_pad_template_get_caps(templ));
        const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
        if (g_str_equal(name, "audio/mpeg")) return "mpegaudioparse";
        if (g_str_equal(name, "audio/x-ac3")) return "ac3parse";
    }
    return nullptr;
}

ReferenceTime streamTimeOf(const GstSegment* segment, GstClockTime time) {
    if (!GST_CLOCK_TIME_IS_VALID(time)) return kNoTime;
    guint64 converted = 0;
    const int sign = segment && segment->format == GST_FORMAT_TIME
                         ? gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, time, &converted)
                         : (converted = time, 1);
    if (sign == 0) return kNoTime;
    const auto ns = static_cast<std::int64_t>(converted);
    return NanosecondsToReferenceTime(sign > 0 ? ns : -ns);
}

}  // namespace

EncodedSound::~EncodedSound() {
    pipeline_.reset();  // its threads stop before the shared state goes
}

bool EncodedSound::Start(const std::string& path, const StreamRoute& route, ReferenceTime from,
                         GCallback elementAdded, gpointer elementAddedData, std::string* problem) {
    shared_ = std::make_shared<Shared>();
    pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    GstBin* bin = GST_BIN(pipeline_.get());
    shared_->pipeline = pipeline_.get();
    if (elementAdded) g_signal_connect(bin, "deep-element-added", elementAdded, elementAddedData);
    const std::string encoderName =
        route.compressionOn && route.encoder ? route.encoder->factoryName : std::string();
    const char* parserName = parserFor(encoderName);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
    GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
    GstElement* resample = gst_element_factory_make("audioresample", nullptr);
    GstElement* shape = gst_element_factory_make("capsfilter", nullptr);
    GstElement* encoder =
        encoderName.empty() ? nullptr : gst_element_factory_make(encoderName.c_str(), nullptr);
    GstElement* parser = parserName ? gst_element_factory_make(parserName, nullptr) : nullptr;
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!source || !decoder || !convert || !resample || !shape || !sink ||
        (!encoderName.empty() && !encoder) || (parserName && !parser)) {
        for (GstElement* element : {source, decoder, convert, resample, shape, encoder, parser, sink})
            if (element) gst_object_unref(gst_object_ref_sink(element));
        *problem = "The sound cannot be encoded: an element of the media framework is missing.";
        return false;
    }
    g_object_set(source, "location", path.c_str(), nullptr);
    CapsPtr soundOnly(gst_caps_from_string("audio/x-raw"));
    g_object_set(decoder, "caps", soundOnly.get(), nullptr);
    // An AVI file takes PCM as 16-bit samples of at most two channels; encoders take what
    // they say they take.
    CapsPtr shaped(gst_caps_from_string(
        encoder ? "audio/x-raw" : "audio/x-raw, format=(string)S16LE, channels=(int)[ 1, 2 ]"));
    g_object_set(shape, "caps", shaped.get(), nullptr);
    g_object_set(sink, "sync", FALSE, "max-buffers", guint{256}, nullptr);
    gst_bin_add_many(bin, source, decoder, convert, resample, shape, sink, nullptr);
    if (encoder) gst_bin_add(bin, encoder);
    if (parser) gst_bin_add(bin, parser);
    bool linked = gst_element_link(source, decoder) &&
                  gst_element_link_many(convert, resample, shape, nullptr);
    GstElement* last = shape;
    for (GstElement* next : {encoder, parser, sink}) {
        if (!next) continue;
        linked = linked && gst_element_link(last, next);
        last = next;
    }
    if (!linked) {
        *problem = "The sound cannot be encoded with " +
                   (encoderName.empty() ? std::string("PCM") : encoderName) + ".";
        return false;
    }
    shared_->chainStart = convert;
    g_signal_connect(decoder, "pad-added", G_CALLBACK(decodedPadAdded), shared_.get());

    // Prerolled, sought to the time asked (the sound from there on, to the sample), and run.
    gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);
    if (gst_element_get_state(pipeline_.get(), nullptr, nullptr,
                              std::chrono::nanoseconds(kStartTimeout).count()) !=
        GST_STATE_CHANGE_SUCCESS) {
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline_.get()));
        const MessagePtr error(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
        *problem = error ? path + ": " + FailureInWords(error.get())
                         : "The sound of " + path + " could not be decoded in time.";
        return false;
    }
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    gst_element_seek_simple(pipeline_.get(), GST_FORMAT_TIME, flags,
                            ReferenceTimeToNanoseconds(std::max<ReferenceTime>(from, 0)));
    gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
    return true;
}

bool EncodedSound::Next(bool wait, ReferenceTime* start, std::vector<std::uint8_t>* data) {
    if (!pipeline_ || ended_ || !problem_.empty()) return false;
    GstAppSink* sink = nullptr;
    {
        const IteratorPtr sinks(gst_bin_iterate_sinks(GST_BIN(pipeline_.get())));
        GValue item = G_VALUE_INIT;
        while (!sink && gst_iterator_next(sinks.get(), &item) == GST_ITERATOR_OK) {
            if (GST_IS_APP_SINK(g_value_get_object(&item)))
                sink = GST_APP_SINK(g_value_get_object(&item));
            g_value_reset(&item);
        }
        g_value_unset(&item);
    }
    if (!sink) return false;
    const auto until = std::chrono::steady_clock::now() + kFrameTimeout;
    for (;;) {
        SamplePtr sample(gst_app_sink_try_pull_sample(sink, wait ? 50 * GST_MSECOND : 0));
        if (sample) {
            GstBuffer* buffer = gst_sample_get_buffer(sample.get());
            if (GstCaps* caps = gst_sample_get_caps(sample.get()); caps && !caps_)
                caps_.reset(gst_caps_ref(caps));
            *start = streamTimeOf(gst_sample_get_segment(sample.get()), GST_BUFFER_PTS(buffer));
            GstMapInfo map;
            data->clear();
            if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                data->assign(map.data, map.data + map.size);
                gst_buffer_unmap(buffer, &map);
            }
            return *start != kNoTime && !data->empty();
        }
        if (gst_app_sink_is_eos(sink)) {
            ended_ = true;
            return false;
        }
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline_.get()));
        if (const MessagePtr error(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)); error) {
            problem_ = FailureInWords(error.get());
            return false;
        }
        if (!wait) return false;
        if (std::chrono::steady_clock::now() >= until) {
            problem_ = "The sound could not be encoded in time.";
            return false;
        }
    }
}

}  // namespace media
