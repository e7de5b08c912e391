#include "media/render/video_limits.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <gst/video/video.h>

#include "media/encoders/avi_inputs.h"
#include "media/encoders/encoder_registry.h"

namespace media {

namespace {

// Only the size and rate of each structure, all under one name, so that caps of different
// formats can be compared by what they allow of those alone.
CapsPtr sizeAndRateOf(const GstCaps* caps, const char* name) {
    CapsPtr result(gst_caps_new_empty());
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* from = gst_caps_get_structure(caps, i);
        GstStructure* to = gst_structure_new_empty(name);
        for (const char* field : {"width", "height", "framerate"})
            if (const GValue* value = gst_structure_get_value(from, field))
                gst_structure_set_value(to, field, value);
        gst_caps_append_structure(result.get(), to);
    }
    return result;
}

std::string formatInt(const GValue* value, bool low) {
    if (G_VALUE_HOLDS_INT(value)) return std::to_string(g_value_get_int(value));
    if (GST_VALUE_HOLDS_INT_RANGE(value))
        return std::to_string(low ? gst_value_get_int_range_min(value)
                                  : gst_value_get_int_range_max(value));
    return {};
}

// One structure's sizes and rates in words: "352x288", "720x480 at 29.97 fps",
// "16x16 to 4096x4096"; empty for one that allows any.
std::string describeSizeAndRate(const GstStructure* structure) {
    const GValue* width = gst_structure_get_value(structure, "width");
    const GValue* height = gst_structure_get_value(structure, "height");
    std::string text;
    if (width && height) {
        const std::string low = formatInt(width, true) + "x" + formatInt(height, true);
        const std::string high = formatInt(width, false) + "x" + formatInt(height, false);
        text = low == high ? low : low + " to " + high;
    }
    const GValue* rate = gst_structure_get_value(structure, "framerate");
    if (rate && GST_VALUE_HOLDS_FRACTION(rate)) {
        const Fraction fixed{gst_value_get_fraction_numerator(rate),
                             gst_value_get_fraction_denominator(rate)};
        text += (text.empty() ? "" : " ") + std::string("at ") + FormatFrameRate(fixed) + " fps";
    }
    return text;
}

// What caps allow of size and rate, each choice once, smallest first.
std::string describeChoices(const GstCaps* caps) {
    std::vector<std::pair<int, std::string>> choices;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* structure = gst_caps_get_structure(caps, i);
        std::string text = describeSizeAndRate(structure);
        if (text.empty()) continue;
        int width = 0;
        gst_structure_get_int(structure, "width", &width);
        const std::pair<int, std::string> choice{width, std::move(text)};
        if (std::find(choices.begin(), choices.end(), choice) == choices.end())
            choices.push_back(choice);
    }
    std::sort(choices.begin(), choices.end());
    std::string text;
    for (const auto& [width, words] : choices) text += (text.empty() ? "" : ", ") + words;
    return text;
}

}  // namespace

std::string VideoLimitProblem(const std::string& encoderFactory, const GstCaps* streamCaps,
                              int width, int height, Fraction rate) {
    const std::string output = std::to_string(width) + "x" + std::to_string(height) + " at " +
                               FormatFrameRate(rate) + " fps";
    auto asked = [&](const char* name) {
        return CapsPtr(gst_caps_new_simple(name, "width", G_TYPE_INT, width, "height", G_TYPE_INT,
                                           height, "framerate", GST_TYPE_FRACTION, rate.numerator,
                                           rate.denominator, nullptr));
    };
    if (!encoderFactory.empty()) {
        GstPtr<GstElementFactory> factory(gst_element_factory_find(encoderFactory.c_str()));
        CapsPtr input(gst_caps_new_empty());
        for (const GList* item =
                 factory ? gst_element_factory_get_static_pad_templates(factory.get()) : nullptr;
             item; item = item->next) {
            auto* tmpl = static_cast<GstStaticPadTemplate*>(item->data);
            if (tmpl->direction != GST_PAD_SINK) continue;
            CapsPtr own(gst_static_pad_template_get_caps(tmpl));
            gst_caps_append(input.get(), sizeAndRateOf(own.get(), "video/x-raw").release());
        }
        if (!gst_caps_is_empty(input.get()) &&
            !gst_caps_can_intersect(input.get(), asked("video/x-raw").get())) {
            const char* longName =
                gst_element_factory_get_metadata(factory.get(), GST_ELEMENT_METADATA_LONGNAME);
            return "The compressor " +
                   EncoderFriendlyName(encoderFactory, longName ? longName : "") + " takes only " +
                   describeChoices(input.get()) + ", not " + output + ".";
        }
    }
    const char* name = gst_structure_get_name(gst_caps_get_structure(streamCaps, 0));
    CapsPtr avi = AviSinkCaps(true);
    CapsPtr multiplexed(gst_caps_new_empty());
    for (guint i = 0; avi && i < gst_caps_get_size(avi.get()); ++i) {
        if (!gst_structure_has_name(gst_caps_get_structure(avi.get(), i), name)) continue;
        CapsPtr one(gst_caps_copy_nth(avi.get(), i));
        gst_caps_append(multiplexed.get(), sizeAndRateOf(one.get(), name).release());
    }
    if (!gst_caps_is_empty(multiplexed.get()) &&
        !gst_caps_can_intersect(multiplexed.get(), asked(name).get()))
        return "The AVI multiplexer takes frames of " + describeChoices(multiplexed.get()) +
               ", not " + output + ".";
    return {};
}

namespace {

// How many times smaller than the picture the most reduced colour plane of a raw format is,
// across (log2) and down; nothing for a format that is not raw video.
void widenSubsampling(const gchar* format, int* across, int* down) {
    const GstVideoFormatInfo* info =
        gst_video_format_get_info(gst_video_format_from_string(format));
    if (!info || GST_VIDEO_FORMAT_INFO_FORMAT(info) == GST_VIDEO_FORMAT_UNKNOWN) return;
    for (guint plane = 0; plane < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(info); ++plane) {
        *across = std::max<int>(*across, GST_VIDEO_FORMAT_INFO_W_SUB(info, plane));
        *down = std::max<int>(*down, GST_VIDEO_FORMAT_INFO_H_SUB(info, plane));
    }
}

}  // namespace

FrameSize FrameSizeForEncoder(const std::string& factoryName, int width, int height) {
    FrameSize size{width, height};
    if (factoryName.empty() || !gst_is_initialized()) return size;
    GstPtr<GstElementFactory> factory(gst_element_factory_find(factoryName.c_str()));
    if (!factory) return size;
    int across = 0;
    int down = 0;
    for (const GList* item = gst_element_factory_get_static_pad_templates(factory.get()); item;
         item = item->next) {
        auto* tmpl = static_cast<GstStaticPadTemplate*>(item->data);
        if (tmpl->direction != GST_PAD_SINK) continue;
        const CapsPtr caps(gst_static_pad_template_get_caps(tmpl));
        for (guint i = 0; i < gst_caps_get_size(caps.get()); ++i) {
            const GstStructure* structure = gst_caps_get_structure(caps.get(), i);
            if (!gst_structure_has_name(structure, "video/x-raw")) continue;
            const GValue* formats = gst_structure_get_value(structure, "format");
            if (formats && G_VALUE_HOLDS_STRING(formats))
                widenSubsampling(g_value_get_string(formats), &across, &down);
            else if (formats && GST_VALUE_HOLDS_LIST(formats))
                for (guint f = 0; f < gst_value_list_get_size(formats); ++f) {
                    const GValue* one = gst_value_list_get_value(formats, f);
                    if (G_VALUE_HOLDS_STRING(one))
                        widenSubsampling(g_value_get_string(one), &across, &down);
                }
        }
    }
    auto fit = [](int side, int shift) {
        const int step = 1 << shift;
        return std::max(step, side / step * step);
    };
    size.width = fit(width, across);
    size.height = fit(height, down);
    return size;
}

int LargestAviFrameSide() {
    if (!gst_is_initialized()) return 0;
    CapsPtr avi = AviSinkCaps(true);
    for (guint i = 0; avi && i < gst_caps_get_size(avi.get()); ++i) {
        const GstStructure* structure = gst_caps_get_structure(avi.get(), i);
        const GValue* width = gst_structure_get_value(structure, "width");
        if (gst_structure_has_name(structure, "video/x-raw") && width &&
            GST_VALUE_HOLDS_INT_RANGE(width))
            return gst_value_get_int_range_max(width);
    }
    return 0;
}

}  // namespace media
