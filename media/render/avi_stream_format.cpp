#include "media/render/avi_stream_format.h"

#include <gst/audio/audio.h>

#include <cstdio>

#include "media/render/render_session_state.h"
#include "media/render/video_limits.h"

namespace media {
namespace {

// Drops a reference to an encoding profile. GStreamer 1.22's profiles do not chain up to
// GObject's finalize, so the notify queue that GObject allocates while it disposes one is never
// freed (a few dozen bytes each time). Kept out of line: the sanitizer build's leak list names
// this function, which does nothing else.
[[gnu::noinline]] void DropEncodingProfile(GstEncodingProfile* profile) {
    if (profile) g_object_unref(profile);
    // Not a tail call, so that this function stays on the stack the leak list matches.
    __asm__ __volatile__("" ::: "memory");
}

}  // namespace

GstPtr<GstElement> MultiplexerIn(GstElement* encodebin) {
    GstPtr<GstElement> found;
    const IteratorPtr elements(gst_bin_iterate_recurse(GST_BIN(encodebin)));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(elements.get(), &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        if (factory && FactoryKlassHas(factory, "Muxer"))
            found.reset(GST_ELEMENT(gst_object_ref(element)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    return found;
}

AviStreamFormat AviStreamFormatOf(bool videoGroup, const StreamRoute& route) {
    AviStreamFormat format;
    if (!route.compressionOn) {
        format.caps.reset(gst_caps_from_string(videoGroup ? "video/x-raw, format=(string)BGR"
                                                          : "audio/x-raw, format=(string)S16LE"));
        return format;
    }
    if (!route.encoder || route.encoder->factoryName.empty()) {
        format.errorText = "No compressor is bound: the chosen compressor is not installed.";
        return format;
    }
    const std::string& name = route.encoder->factoryName;
    GstPtr<GstElementFactory> factory(gst_element_factory_find(name.c_str()));
    if (!factory) {
        format.errorText = "The compressor " + name + " is not installed.";
        return format;
    }
    // Picture encoders (JPEG, PNG) write a frame at a time and serve as video compressors.
    const bool kindMatches = videoGroup ? FactoryKlassHas(factory.get(), "Video") ||
                                              FactoryKlassHas(factory.get(), "Image")
                                        : FactoryKlassHas(factory.get(), "Audio");
    if (!kindMatches || !FactoryKlassHas(factory.get(), "Encoder")) {
        format.errorText = "The compressor " + name + " cannot take this stream.";
        return format;
    }
    CapsPtr avi = AviEncodedCaps(videoGroup);
    CapsPtr encoded(gst_caps_new_empty());
    for (const GList* item = gst_element_factory_get_static_pad_templates(factory.get());
         item && avi; item = item->next) {
        auto* tmpl = static_cast<GstStaticPadTemplate*>(item->data);
        if (tmpl->direction != GST_PAD_SRC) continue;
        CapsPtr own(gst_static_pad_template_get_caps(tmpl));
        CapsPtr both(gst_caps_intersect_full(own.get(), avi.get(), GST_CAPS_INTERSECT_FIRST));
        if (!gst_caps_is_empty(both.get())) {
            // One structure is enough to pick the encoder and the multiplexer's pad. Its size
            // and rate are the template's first choice (H.263 lists 352x288 first), not the
            // output's: left in, they would force that size on every output.
            GstStructure* chosen = gst_structure_copy(gst_caps_get_structure(both.get(), 0));
            gst_structure_remove_fields(chosen, "width", "height", "framerate",
                                        "pixel-aspect-ratio", nullptr);
            gst_caps_append_structure(encoded.get(), chosen);
        }
        if (!gst_caps_is_empty(encoded.get())) break;
    }
    if (gst_caps_is_empty(encoded.get())) {
        format.errorText = "The compressor " + name + " cannot write into an AVI file.";
        return format;
    }
    format.caps = std::move(encoded);
    format.presetName = name;
    return format;
}

bool EncoderFeedsAvi(const std::string& factoryName, bool video) {
    if (factoryName.empty()) return false;
    StreamRoute route;
    route.compressionOn = true;
    route.encoder = EncoderChoice{factoryName, {}};
    return AviStreamFormatOf(video, route).caps != nullptr;
}

void EncodingProfileUnref::operator()(GstEncodingContainerProfile* profile) const {
    DropEncodingProfile(GST_ENCODING_PROFILE(profile));
}

ContainerProfilePtr NewAviContainerProfile() {
    CapsPtr aviCaps(gst_caps_from_string("video/x-msvideo"));
    return ContainerProfilePtr(
        gst_encoding_container_profile_new("avi", nullptr, aviCaps.get(), nullptr));
}

RenderSetupResult AddAviStreamProfile(GstEncodingContainerProfile* container,
                                      const TimelineGroup& group, const StreamRoute& route,
                                      bool first) {
    const bool videoGroup = group.isVideo();
    AviStreamFormat format = AviStreamFormatOf(videoGroup, route);
    if (!format.caps) {
        const bool unbound =
            route.compressionOn && (!route.encoder || route.encoder->factoryName.empty());
        if (unbound)
            return SetupFailure(
                first ? RenderStep::AddVideoCompressor : RenderStep::AddAudioCompressor, E_POINTER,
                format.errorText);
        return SetupFailure(first ? RenderStep::RenderVideoStream : RenderStep::RenderAudioStream,
                            VFW_E_CANNOT_RENDER, format.errorText);
    }
    CapsPtr restriction;
    if (videoGroup) {
        const BitmapInfoHeader& picture = group.mediaType.format->bmiHeader;
        const Fraction rate = FrameRateFraction(group.outputFrameRate);
        // The encoding bin scales and drops frames to suit the encoder's first choice
        // unless told otherwise: held to the output's size and rate, it either makes
        // exactly those or fails.
        restriction.reset(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, picture.biWidth,
                                              "height", G_TYPE_INT, picture.biHeight, "framerate",
                                              GST_TYPE_FRACTION, rate.numerator, rate.denominator,
                                              nullptr));
        std::string problem;
        if (rate.numerator <= 0) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "The frame rate %g cannot be written: a conversion takes %g to %g "
                          "frames a second.",
                          group.outputFrameRate, kLowestOutputFrameRate, kHighestOutputFrameRate);
            problem = text;
        } else {
            problem = VideoLimitProblem(format.presetName, format.caps.get(), picture.biWidth,
                                        picture.biHeight, rate);
        }
        if (!problem.empty())
            return SetupFailure(
                first ? RenderStep::RenderVideoStream : RenderStep::RenderAudioStream,
                VFW_E_CANNOT_RENDER, problem);
    }
    GstEncodingProfile* stream = videoGroup ? GST_ENCODING_PROFILE(gst_encoding_video_profile_new(
                                                  format.caps.get(), nullptr, restriction.get(), 1))
                                            : GST_ENCODING_PROFILE(gst_encoding_audio_profile_new(
                                                  format.caps.get(), nullptr, nullptr, 1));
    if (!format.presetName.empty())
        gst_encoding_profile_set_preset_name(stream, format.presetName.c_str());
    gst_encoding_container_profile_add_profile(container, stream);
    return {};
}

// GStreamer 1.22's AVI multiplexer fails on every buffer of raw sound beyond two channels (its
// reordering into the file's channel order), so raw sound is mixed down whatever the source.
int OutputChannelsFor(const StreamRoute& route, int sourceChannels) {
    if (sourceChannels <= 2) return sourceChannels;
    if (!route.compressionOn || !route.encoder) return 2;
    GstPtr<GstElementFactory> factory(gst_element_factory_find(route.encoder->factoryName.c_str()));
    if (!factory) return 2;
    CapsPtr wanted(gst_caps_new_simple(
        "audio/x-raw", "channels", G_TYPE_INT, sourceChannels, "channel-mask", GST_TYPE_BITMASK,
        gst_audio_channel_get_fallback_mask(sourceChannels), nullptr));
    return gst_element_factory_can_sink_any_caps(factory.get(), wanted.get()) ? sourceChannels : 2;
}

}  // namespace media
