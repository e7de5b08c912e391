#include "media/encoders/encoder_properties.h"
#include "media/core/gst_handles.h"

#include <gst/gst.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace media {
namespace {

constexpr GstClockTime kFrameTrialTimeout = 5 * GST_SECOND;

struct GValueGuard {
    GValue value = G_VALUE_INIT;
    explicit GValueGuard(GType type) { g_value_init(&value, type); }
    ~GValueGuard() { g_value_unset(&value); }
    GValueGuard(const GValueGuard&) = delete;
    GValueGuard& operator=(const GValueGuard&) = delete;
};

std::string takeString(gchar* text) {
    const GCharPtr owned(text);
    return owned ? owned.get() : "";
}

bool kindOf(const GParamSpec* pspec, PropertyKind& kind) {
    switch (G_TYPE_FUNDAMENTAL(pspec->value_type)) {
        case G_TYPE_INT:
        case G_TYPE_LONG:
        case G_TYPE_INT64:
            kind = PropertyKind::Integer;
            return true;
        case G_TYPE_UINT:
        case G_TYPE_ULONG:
        case G_TYPE_UINT64:
            kind = PropertyKind::Unsigned;
            return true;
        case G_TYPE_FLOAT:
        case G_TYPE_DOUBLE:
            kind = PropertyKind::Double;
            return true;
        case G_TYPE_BOOLEAN:
            kind = PropertyKind::Boolean;
            return true;
        case G_TYPE_ENUM:
            kind = PropertyKind::Enum;
            return true;
        case G_TYPE_FLAGS:
            kind = PropertyKind::Flags;
            return true;
        case G_TYPE_STRING:
            kind = PropertyKind::String;
            return true;
        default:
            return false;
    }
}

bool userSettable(const GParamSpec* pspec) {
    const GParamFlags flags = pspec->flags;
    if (!(flags & G_PARAM_READABLE) || !(flags & G_PARAM_WRITABLE)) return false;
    // The conversion sets properties on an element that already exists.
    if (flags & (G_PARAM_CONSTRUCT_ONLY | G_PARAM_DEPRECATED)) return false;
    const std::string name = pspec->name;
    return name != "name" && name != "parent";
}

// The text form of a value that GStreamer parses back to the same value.
std::string valueText(const GValue* value) {
    switch (G_TYPE_FUNDAMENTAL(G_VALUE_TYPE(value))) {
        case G_TYPE_STRING: {
            const gchar* text = g_value_get_string(value);
            return text ? text : "";
        }
        case G_TYPE_BOOLEAN:
            return g_value_get_boolean(value) ? "true" : "false";
        case G_TYPE_ENUM: {
            const TypeClassPtr<GEnumClass> klass(
                static_cast<GEnumClass*>(g_type_class_ref(G_VALUE_TYPE(value))));
            const GEnumValue* entry = g_enum_get_value(klass.get(), g_value_get_enum(value));
            return entry ? entry->value_nick : std::to_string(g_value_get_enum(value));
        }
        default:
            return takeString(gst_value_serialize(value));
    }
}

template <typename ParamType, typename Number>
void setRange(EncoderPropertyInfo& out, const GParamSpec* pspec) {
    const auto* typed = reinterpret_cast<const ParamType*>(pspec);
    out.minimum = std::to_string(static_cast<Number>(typed->minimum));
    out.maximum = std::to_string(static_cast<Number>(typed->maximum));
}

void describeRange(EncoderPropertyInfo& out, const GParamSpec* pspec) {
    switch (G_TYPE_FUNDAMENTAL(pspec->value_type)) {
        case G_TYPE_INT:
            setRange<GParamSpecInt, long long>(out, pspec);
            break;
        case G_TYPE_LONG:
            setRange<GParamSpecLong, long long>(out, pspec);
            break;
        case G_TYPE_INT64:
            setRange<GParamSpecInt64, long long>(out, pspec);
            break;
        case G_TYPE_UINT:
            setRange<GParamSpecUInt, unsigned long long>(out, pspec);
            break;
        case G_TYPE_ULONG:
            setRange<GParamSpecULong, unsigned long long>(out, pspec);
            break;
        case G_TYPE_UINT64:
            setRange<GParamSpecUInt64, unsigned long long>(out, pspec);
            break;
        case G_TYPE_FLOAT:
        case G_TYPE_DOUBLE: {
            const bool isFloat = G_TYPE_FUNDAMENTAL(pspec->value_type) == G_TYPE_FLOAT;
            const double minimum =
                isFloat ? G_PARAM_SPEC_FLOAT(pspec)->minimum : G_PARAM_SPEC_DOUBLE(pspec)->minimum;
            const double maximum =
                isFloat ? G_PARAM_SPEC_FLOAT(pspec)->maximum : G_PARAM_SPEC_DOUBLE(pspec)->maximum;
            gchar buffer[G_ASCII_DTOSTR_BUF_SIZE];
            out.minimum = g_ascii_dtostr(buffer, sizeof buffer, minimum);
            out.maximum = g_ascii_dtostr(buffer, sizeof buffer, maximum);
            break;
        }
        default:
            break;
    }
}

void describeChoices(EncoderPropertyInfo& out, const GParamSpec* pspec) {
    if (out.kind == PropertyKind::Enum) {
        const GEnumClass* klass = G_PARAM_SPEC_ENUM(pspec)->enum_class;
        for (guint i = 0; i < klass->n_values; ++i)
            out.choices.push_back(
                {klass->values[i].value_nick, klass->values[i].value_name, klass->values[i].value});
    } else if (out.kind == PropertyKind::Flags) {
        const GFlagsClass* klass = G_PARAM_SPEC_FLAGS(pspec)->flags_class;
        for (guint i = 0; i < klass->n_values; ++i)
            out.choices.push_back({klass->values[i].value_nick, klass->values[i].value_name,
                                   static_cast<std::int64_t>(klass->values[i].value)});
    }
}

// The element class of a factory, kept referenced by the type system for the process.
GObjectClass* elementClass(const std::string& factoryName) {
    GstPtr<GstElementFactory> factory(gst_element_factory_find(factoryName.c_str()));
    if (!factory) return nullptr;
    GstPtr<GstPluginFeature> loaded(gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory.get())));
    if (!loaded) return nullptr;
    const GType type = gst_element_factory_get_element_type(GST_ELEMENT_FACTORY(loaded.get()));
    if (type == G_TYPE_INVALID) return nullptr;
    // Held for the rest of the process: plugins are never unloaded, so neither is the class.
    return static_cast<GObjectClass*>(g_type_class_ref(type));
}

GstCaps* frameCaps(int width, int height, RawFrameFormat format) {
    const char* name = format == RawFrameFormat::Bgrx32  ? "BGRx"
                       : format == RawFrameFormat::Bgr24 ? "BGR"
                                                         : "YUY2";
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, name, "width", G_TYPE_INT,
                               width, "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION,
                               25, 1, nullptr);
}

// One frame through converter and encoder into a sink that drops it. Built element by
// element, so a factory name is never read as pipeline syntax.
bool runFrameTrial(const std::string& factoryName, int width, int height, RawFrameFormat format) {
    GstPtr<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    const GstPtr<GstElement> source = MakeElement("videotestsrc");
    const GstPtr<GstElement> filter = MakeElement("capsfilter");
    const GstPtr<GstElement> convert = MakeElement("videoconvert");
    const GstPtr<GstElement> encoder = MakeElement(factoryName.c_str());
    const GstPtr<GstElement> sink = MakeElement("fakesink");
    if (!source || !filter || !convert || !encoder || !sink) return false;
    g_object_set(source.get(), "num-buffers", 1, nullptr);
    const CapsPtr caps(frameCaps(width, height, format));
    g_object_set(filter.get(), "caps", caps.get(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), filter.get(), convert.get(),
                     encoder.get(), sink.get(), nullptr);
    if (!gst_element_link_many(source.get(), filter.get(), convert.get(), encoder.get(), sink.get(),
                               nullptr))
        return false;

    bool accepted = false;
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
        const MessagePtr message(gst_bus_timed_pop_filtered(
            bus.get(), kFrameTrialTimeout,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        accepted = message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return accepted;
}

void putUint32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putText(std::vector<std::uint8_t>& out, const std::string& text) {
    putUint32(out, static_cast<std::uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

class BlockReader {
public:
    BlockReader(const void* data, std::size_t size)
        : at_(static_cast<const std::uint8_t*>(data)), left_(data ? size : 0) {}

    bool uint32(std::uint32_t& value) {
        if (left_ < 4) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(at_[i]) << (8 * i);
        at_ += 4;
        left_ -= 4;
        return true;
    }
    bool text(std::string& value) {
        std::uint32_t length = 0;
        if (!uint32(length) || length > left_) return false;
        value.assign(reinterpret_cast<const char*>(at_), length);
        at_ += length;
        left_ -= length;
        return true;
    }
    bool bytes(const char* expected, std::size_t length) {
        if (left_ < length || std::memcmp(at_, expected, length) != 0) return false;
        at_ += length;
        left_ -= length;
        return true;
    }
    std::size_t left() const { return left_; }
    bool zeros() const {
        for (std::size_t i = 0; i < left_; ++i)
            if (at_[i] != 0) return false;
        return true;
    }

private:
    const std::uint8_t* at_;
    std::size_t left_;
};

constexpr char kBlockMagic[4] = {'F', 'W', 'E', 'P'};
constexpr std::uint32_t kBlockVersion = 1;

}  // namespace

std::vector<EncoderPropertyInfo> WritableEncoderProperties(const std::string& factoryName) {
    std::vector<EncoderPropertyInfo> result;
    GstElement* made = gst_element_factory_make(factoryName.c_str(), nullptr);
    if (!made) return result;
    GstPtr<GstElement> element(GST_ELEMENT(gst_object_ref_sink(made)));

    guint count = 0;
    const GMemoryPtr<GParamSpec*> pspecs(
        g_object_class_list_properties(G_OBJECT_GET_CLASS(element.get()), &count));
    for (guint i = 0; i < count; ++i) {
        const GParamSpec* pspec = pspecs.get()[i];
        EncoderPropertyInfo out;
        if (!userSettable(pspec) || !kindOf(pspec, out.kind)) continue;
        out.name = pspec->name;
        const gchar* nick = g_param_spec_get_nick(const_cast<GParamSpec*>(pspec));
        const gchar* blurb = g_param_spec_get_blurb(const_cast<GParamSpec*>(pspec));
        out.nick = nick ? nick : out.name;
        out.blurb = blurb ? blurb : "";
        GValueGuard value(pspec->value_type);
        g_object_get_property(G_OBJECT(element.get()), pspec->name, &value.value);
        out.defaultValue = valueText(&value.value);
        describeRange(out, pspec);
        describeChoices(out, pspec);
        result.push_back(std::move(out));
    }
    return result;
}

bool IsValidEncoderPropertyValue(const std::string& factoryName, const std::string& name,
                                 const std::string& value) {
    GObjectClass* klass = elementClass(factoryName);
    if (!klass) return false;
    GParamSpec* pspec = g_object_class_find_property(klass, name.c_str());
    if (!pspec || !userSettable(pspec)) return false;
    PropertyKind kind;
    if (!kindOf(pspec, kind)) return false;
    if (kind == PropertyKind::String) return g_utf8_validate(value.c_str(), -1, nullptr);
    GValueGuard parsed(pspec->value_type);
    if (!gst_value_deserialize(&parsed.value, value.c_str())) return false;
    // Validation changes a value that lies outside the property's range.
    return !g_param_value_validate(pspec, &parsed.value);
}

bool VideoEncoderAcceptsFrame(const std::string& factoryName, int width, int height,
                              RawFrameFormat format) {
    if (width <= 0 || height <= 0) return false;
    static std::mutex mutex;
    static std::map<std::string, bool> answers;
    const std::string key = factoryName + '\n' + std::to_string(width) + 'x' +
                            std::to_string(height) + '/' + std::to_string(static_cast<int>(format));
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (auto found = answers.find(key); found != answers.end()) return found->second;
    }
    // Outside the lock: a trial takes a while, and two callers at worst run it twice.
    const bool accepted = runFrameTrial(factoryName, width, height, format);
    std::lock_guard<std::mutex> lock(mutex);
    answers[key] = accepted;
    return accepted;
}

std::vector<std::uint8_t> SerializeEncoderProperties(const EncoderProperties& properties) {
    std::vector<std::uint8_t> block(std::begin(kBlockMagic), std::end(kBlockMagic));
    putUint32(block, kBlockVersion);
    putUint32(block, static_cast<std::uint32_t>(properties.size()));
    for (const EncoderProperty& property : properties) {
        putText(block, property.name);
        putText(block, property.value);
    }
    return block;
}

bool DeserializeEncoderProperties(const void* data, std::size_t size, EncoderProperties& out) {
    BlockReader reader(data, size);
    std::uint32_t version = 0;
    std::uint32_t count = 0;
    if (!reader.bytes(kBlockMagic, sizeof kBlockMagic) || !reader.uint32(version) ||
        version != kBlockVersion || !reader.uint32(count))
        return false;
    // Each entry takes at least its two lengths; a larger count cannot be real.
    if (count > reader.left() / 8) return false;
    EncoderProperties properties;
    properties.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        EncoderProperty property;
        if (!reader.text(property.name) || !reader.text(property.value)) return false;
        properties.push_back(std::move(property));
    }
    // A block of fixed size ends in zero padding; anything else after the set is damage.
    if (!reader.zeros()) return false;
    out = std::move(properties);
    return true;
}

}  // namespace media
