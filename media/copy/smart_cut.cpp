#include "media/copy/smart_cut.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace media {
namespace {

// Decoding and encoding a group of pictures takes seconds at most; the bound only ends a
// graph that has stopped moving.
constexpr auto kBaseBound = std::chrono::seconds(30);
constexpr auto kBoundPerPicture = std::chrono::milliseconds(200);
constexpr const char* kCannotEncode =
    "The pictures that cannot be copied as they are could not be encoded again.";

enum class Family { None, H264, Mpeg4, Mpeg2, Mpeg1 };

Family familyOf(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps)) return Family::None;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const std::string name = gst_structure_get_name(s);
    int version = 0;
    if (name == "video/x-h264") return Family::H264;
    if (name == "video/x-divx") return Family::Mpeg4;
    if (name == "video/mpeg" && gst_structure_get_int(s, "mpegversion", &version)) {
        if (version == 4) return Family::Mpeg4;
        if (version == 2) return Family::Mpeg2;
        if (version == 1) return Family::Mpeg1;
    }
    return Family::None;
}

bool installed(const char* factory) {
    GstPtr<GstElementFactory> found(gst_element_factory_find(factory));
    return found != nullptr;
}

const char* decoderFor(Family family) {
    switch (family) {
        case Family::H264:
            return "avdec_h264";
        case Family::Mpeg4:
            return "avdec_mpeg4";
        case Family::Mpeg2:
        case Family::Mpeg1:
            return "avdec_mpeg2video";
        case Family::None:
            break;
    }
    return nullptr;
}

const char* parserFor(Family family) {
    switch (family) {
        case Family::H264:
            return "h264parse";
        case Family::Mpeg4:
            return "mpeg4videoparse";
        case Family::Mpeg2:
        case Family::Mpeg1:
            return "mpegvideoparse";
        case Family::None:
            break;
    }
    return nullptr;
}

// Settings that make the encoded pictures look like the copied ones: a high quality and one key
// frame, the first. H.264 says in each picture where it is shown, so the encoded ones have no
// B-pictures; MPEG-1, 2 and 4 Part 2 have B-pictures where the copied ones do.
void tuneEncoder(GstElement* encoder, Family family, bool withBPictures) {
    GObject* object = G_OBJECT(encoder);
    if (family == Family::H264) {
        // A few dozen pictures at most: no look-ahead to fill first (it costs more time and
        // memory than the encoding itself at that length), at a quality that keeps them close
        // to the copied ones.
        gst_util_set_object_arg(object, "pass", "qual");
        gst_util_set_object_arg(object, "quantizer", "18");
        gst_util_set_object_arg(object, "speed-preset", "veryfast");
        gst_util_set_object_arg(object, "tune", "zerolatency");
        gst_util_set_object_arg(object, "bframes", "0");
        gst_util_set_object_arg(object, "key-int-max", "100000");
        gst_util_set_object_arg(object, "byte-stream", "true");
        return;
    }
    if (family == Family::Mpeg4) {
        gst_util_set_object_arg(object, "pass", "quant");
        gst_util_set_object_arg(object, "quantizer", "2");
        gst_util_set_object_arg(object, "max-bframes", withBPictures ? "2" : "0");
        gst_util_set_object_arg(object, "gop-size", "100000");
        return;
    }
    // mpeg2enc: a group of at most its longest, which holds a head or a tail of a copy.
    gst_util_set_object_arg(object, "format", family == Family::Mpeg1 ? "0" : "3");
    gst_util_set_object_arg(object, "quantisation", "3");
    // Its rate control wants a buffer of four pictures at the bit rate, and ends the process
    // when it has not: 8 Mbit/s fits its largest buffer at two pictures a second and more.
    gst_util_set_object_arg(object, "bitrate", "8000");
    gst_util_set_object_arg(object, "bufsize", "4000");
    gst_util_set_object_arg(object, "constraints", "false");
    gst_util_set_object_arg(object, "b-per-refframe", withBPictures ? "2" : "0");
    gst_util_set_object_arg(object, "max-gop-size", "250");
    gst_util_set_object_arg(object, "min-gop-size", "250");
    gst_util_set_object_arg(object, "closed-gop", "true");
}

struct Collected {
    std::mutex mutex;
    std::vector<EncodedPicture> pictures;
    std::function<void()> encoded;
    GstClockTime from = 0;
    GstClockTime until = 0;
};

// Runs on a streaming thread: the encoder gets the pictures of the span only.
GstPadProbeReturn keepSpan(GstPad*, GstPadProbeInfo* info, gpointer data) {
    const auto* collected = static_cast<Collected*>(data);
    const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
    if (!GST_CLOCK_TIME_IS_VALID(pts)) return GST_PAD_PROBE_DROP;
    // A decoder may round a time by a nanosecond or so.
    const GstClockTime slack = 1000;
    return pts + slack >= collected->from && pts + slack < collected->until ? GST_PAD_PROBE_OK
                                                                            : GST_PAD_PROBE_DROP;
}

// Runs on a streaming thread.
GstFlowReturn takeEncoded(GstAppSink* sink, gpointer data) {
    auto* collected = static_cast<Collected*>(data);
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    if (!buffer) return GST_FLOW_OK;
    EncodedPicture picture;
    picture.key = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        picture.data.assign(map.data, map.data + map.size);
        gst_buffer_unmap(buffer, &map);
    }
    std::function<void()> encoded;
    {
        std::lock_guard lock(collected->mutex);
        collected->pictures.push_back(std::move(picture));
        encoded = collected->encoded;
    }
    if (encoded) encoded();
    return GST_FLOW_OK;
}

}  // namespace

std::string SmartCutEncoderFor(const GstCaps* copiedCaps) {
    const char* encoder = nullptr;
    switch (familyOf(copiedCaps)) {
        case Family::H264:
            encoder = "x264enc";
            break;
        case Family::Mpeg4:
            encoder = "avenc_mpeg4";
            break;
        case Family::Mpeg2:
        case Family::Mpeg1:
            // gst-libav 1.22.0 gives its MPEG-1 and MPEG-2 encoders a time base they refuse.
            encoder = "mpeg2enc";
            break;
        case Family::None:
            return {};
    }
    const Family family = familyOf(copiedCaps);
    return installed(encoder) && installed(decoderFor(family)) && installed(parserFor(family))
               ? encoder
               : std::string();
}

bool EncodeAgain(const SmartCutRequest& request, std::vector<EncodedPicture>* pictures,
                 std::string* problem) {
    const Family family = familyOf(request.caps.get());
    PipelinePtr pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    GstElement* source = gst_element_factory_make("appsrc", nullptr);
    GstElement* decoder = gst_element_factory_make(decoderFor(family), nullptr);
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement* fitted = gst_element_factory_make("capsfilter", nullptr);
    GstElement* encoder = gst_element_factory_make(request.encoder.c_str(), nullptr);
    GstElement* parser = gst_element_factory_make(parserFor(family), nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    GstElement* all[] = {source, decoder, convert, fitted, encoder, parser, filter, sink};
    if (family == Family::None || std::find(std::begin(all), std::end(all), nullptr) != std::end(all)) {
        for (GstElement* element : all)
            if (element) gst_object_unref(gst_object_ref_sink(element));
        *problem = kCannotEncode;
        return false;
    }
    gst_bin_add_many(GST_BIN(pipeline.get()), source, decoder, convert, fitted, encoder, parser,
                     filter, sink, nullptr);
    if (!gst_element_link_many(source, decoder, convert, fitted, encoder, parser, filter, sink,
                               nullptr)) {
        *problem = kCannotEncode;
        return false;
    }

    // Times are moved to start a second in, so that none is negative.
    ReferenceTime earliest = request.from;
    for (const SmartCutPacket& packet : request.packets) earliest = std::min(earliest, packet.pts);
    const ReferenceTime shift = kReferenceTimePerSecond - earliest;
    auto clock = [shift](ReferenceTime t) {
        return static_cast<GstClockTime>(ReferenceTimeToNanoseconds(t + shift));
    };

    g_object_set(source, "caps", request.caps.get(), "format", GST_FORMAT_TIME, "block", TRUE,
                 nullptr);
    tuneEncoder(encoder, family, request.withBPictures);
    // A decoder fed times without a rate gives none; the encoders need the stream's.
    if (request.rate.numerator > 0) {
        CapsPtr rate(gst_caps_new_simple("video/x-raw", "framerate", GST_TYPE_FRACTION,
                                         request.rate.numerator, request.rate.denominator,
                                         nullptr));
        g_object_set(fitted, "caps", rate.get(), nullptr);
    }
    if (family != Family::Mpeg1 && family != Family::Mpeg2)
        g_object_set(parser, "config-interval", -1, nullptr);
    std::string wanted = family == Family::H264
                             ? "video/x-h264, stream-format=(string)byte-stream, "
                               "alignment=(string)au"
                             : "ANY";
    if (family == Family::H264 && !request.h264Profile.empty())
        wanted += ", profile=(string)" + request.h264Profile;
    CapsPtr output(gst_caps_from_string(wanted.c_str()));
    g_object_set(filter, "caps", output.get(), nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);

    Collected collected;
    collected.encoded = request.pictureEncoded;
    collected.from = clock(request.from);
    collected.until = clock(request.until);
    GstPtr<GstPad> encoderInput(gst_element_get_static_pad(encoder, "sink"));
    gst_pad_add_probe(encoderInput.get(), GST_PAD_PROBE_TYPE_BUFFER, keepSpan, &collected, nullptr);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = takeEncoded;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &collected, nullptr);

    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        *problem = kCannotEncode;
        return false;
    }
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    bool failed = false;
    for (const SmartCutPacket& packet : request.packets) {
        const MessagePtr error(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
        failed = error != nullptr;
        if (failed || (request.cancelled && request.cancelled())) break;
        GstBuffer* buffer = gst_buffer_copy(packet.buffer);  // times of its own; data shared
        // The decoder puts the pictures in display order by these times.
        GST_BUFFER_PTS(buffer) = clock(packet.pts);
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
        if (packet.key)
            GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
        else
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
        if (gst_app_src_push_buffer(GST_APP_SRC(source), buffer) != GST_FLOW_OK) break;
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));

    const auto bound = kBaseBound + kBoundPerPicture * static_cast<int>(request.packets.size());
    const auto until = std::chrono::steady_clock::now() + bound;
    bool ended = false;
    while (!failed && !ended && std::chrono::steady_clock::now() < until) {
        if (request.cancelled && request.cancelled()) break;
        const MessagePtr message(gst_bus_timed_pop_filtered(
            bus.get(), 50 * GST_MSECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (!message) continue;
        failed = GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR;
        ended = !failed;
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (!ended) {
        *problem = failed ? kCannotEncode
                   : request.cancelled && request.cancelled()
                       ? "The copy was stopped."
                       : "Encoding the pictures that cannot be copied took too long.";
        return false;
    }
    std::lock_guard lock(collected.mutex);
    *pictures = std::move(collected.pictures);
    // Whether a picture is a key frame is read from the picture itself: a parser does not
    // always say so of a stream's first.
    PictureSyntax syntax(family == Family::H264    ? PictureCodec::H264
                         : family == Family::Mpeg4 ? PictureCodec::Mpeg4Part2
                                                   : PictureCodec::Mpeg12);
    for (EncodedPicture& picture : *pictures) {
        const std::vector<PictureFacts> facts = syntax.Read(picture.data.data(), picture.data.size());
        picture.key = !facts.empty() && facts.front().key;
    }
    if (pictures->empty() || !pictures->front().key) {
        *problem = kCannotEncode;
        return false;
    }
    return true;
}

}  // namespace media
