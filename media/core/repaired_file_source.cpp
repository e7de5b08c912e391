#include "media/core/repaired_file_source.h"

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "media/core/gst_handles.h"
#include "media/core/stated_length.h"

namespace media {
namespace {

constexpr const char* kRepairedScheme = "framewell-repaired";

// What the readers are to see differently from the bytes on disk.
struct Repairs {
    bool asfObjectCount = false;  // the header object's count is replaced by countThatFits
    std::uint32_t countThatFits = 0;
    bool endIsError = false;  // reads past the end fail instead of reporting end-of-file
    std::vector<BytePatch> statedLength;  // a header's length that covers the data

    bool any() const { return asfObjectCount || endIsError || !statedLength.empty(); }
};

std::uint64_t ReadLittleEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// The ASF header object: a GUID, its size (8 bytes), the count of objects it holds (4) and two
// reserved bytes; the objects follow, each a GUID and its size. Other readers walk the objects
// until the header's size is used up, whatever the count says.
constexpr std::array<unsigned char, 16> kAsfHeaderGuid = {
    0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::uint64_t kAsfHeaderPrefix = 30;
constexpr std::uint64_t kAsfObjectPrefix = 24;
constexpr std::uint64_t kAsfCountOffset = 24;

Repairs RepairsFor(const unsigned char* data, std::uint64_t size) {
    Repairs repairs;
    if (size < kAsfHeaderPrefix) return repairs;
    const unsigned char* head = data;
    if (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0) {
        repairs.endIsError = true;
        return repairs;
    }
    repairs.statedLength = StatedLengthPatches(data, size);
    if (std::memcmp(head, kAsfHeaderGuid.data(), kAsfHeaderGuid.size()) != 0) return repairs;
    const std::uint64_t headerSize = ReadLittleEndian(head + 16, 8);
    const auto declared = static_cast<std::uint32_t>(ReadLittleEndian(head + kAsfCountOffset, 4));
    std::uint32_t fitting = 0;
    std::uint64_t offset = kAsfHeaderPrefix;
    while (offset + kAsfObjectPrefix <= std::min(headerSize, size) && fitting < declared) {
        const std::uint64_t objectSize = ReadLittleEndian(data + offset + 16, 8);
        if (objectSize < kAsfObjectPrefix || offset + objectSize > headerSize) break;
        offset += objectSize;
        ++fitting;
    }
    if (fitting > 0 && fitting < declared) {
        repairs.asfObjectCount = true;
        repairs.countThatFits = fitting;
    }
    return repairs;
}

}  // namespace
}  // namespace media

// --- The element: a GstBaseSrc that reads a local file through a read-only mapping ---

struct FramewellRepairedSrc {
    GstBaseSrc parent;
    gchar* location;
    GMappedFile* file;
    media::Repairs* repairs;
};

struct FramewellRepairedSrcClass {
    GstBaseSrcClass parent_class;
};

namespace {

void uriHandlerInit(gpointer iface, gpointer);

}  // namespace

G_DEFINE_TYPE_WITH_CODE(FramewellRepairedSrc, framewell_repaired_src, GST_TYPE_BASE_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, uriHandlerInit))

namespace {

enum { PROP_0, PROP_LOCATION };

FramewellRepairedSrc* self(gpointer object) {
    return reinterpret_cast<FramewellRepairedSrc*>(object);
}

void setLocation(FramewellRepairedSrc* source, const gchar* location) {
    GST_OBJECT_LOCK(source);
    g_free(source->location);
    source->location = g_strdup(location);
    GST_OBJECT_UNLOCK(source);
}

GstURIType uriType(GType) {
    return GST_URI_SRC;
}

const gchar* const* uriProtocols(GType) {
    static const gchar* protocols[] = {media::kRepairedScheme, nullptr};
    return protocols;
}

gchar* uriGet(GstURIHandler* handler) {
    FramewellRepairedSrc* source = self(handler);
    GST_OBJECT_LOCK(source);
    gchar* uri = nullptr;
    if (source->location) {
        const media::GCharPtr fileUri(gst_filename_to_uri(source->location, nullptr));
        if (fileUri && g_str_has_prefix(fileUri.get(), "file:"))
            uri = g_strconcat(media::kRepairedScheme, fileUri.get() + 4, nullptr);
    }
    GST_OBJECT_UNLOCK(source);
    return uri;
}

gboolean uriSet(GstURIHandler* handler, const gchar* uri, GError** error) {
    const media::GCharPtr location(gst_uri_get_location(uri));
    if (!location) {
        g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_URI, "No file name in %s", uri);
        return FALSE;
    }
    setLocation(self(handler), location.get());
    return TRUE;
}

void uriHandlerInit(gpointer iface, gpointer) {
    auto* handler = static_cast<GstURIHandlerInterface*>(iface);
    handler->get_type = uriType;
    handler->get_protocols = uriProtocols;
    handler->get_uri = uriGet;
    handler->set_uri = uriSet;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
    if (id == PROP_LOCATION)
        setLocation(self(object), g_value_get_string(value));
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
    if (id == PROP_LOCATION) {
        GST_OBJECT_LOCK(object);
        g_value_set_string(value, self(object)->location);
        GST_OBJECT_UNLOCK(object);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

void finalize(GObject* object) {
    FramewellRepairedSrc* source = self(object);
    g_free(source->location);
    delete source->repairs;
    G_OBJECT_CLASS(framewell_repaired_src_parent_class)->finalize(object);
}

gboolean start(GstBaseSrc* base) {
    FramewellRepairedSrc* source = self(base);
    gchar* named = nullptr;
    g_object_get(base, "location", &named, nullptr);
    const media::GCharPtr location(named);
    GError* error = nullptr;
    source->file = location ? g_mapped_file_new(location.get(), FALSE, &error) : nullptr;
    if (!source->file) {
        GST_ELEMENT_ERROR(base, RESOURCE, OPEN_READ,
                          ("Could not open file \"%s\" for reading.", location ? location.get() : ""),
                          ("%s", error ? error->message : "no file name"));
        g_clear_error(&error);
        return FALSE;
    }
    delete source->repairs;
    source->repairs = new media::Repairs(media::RepairsFor(
        reinterpret_cast<const unsigned char*>(g_mapped_file_get_contents(source->file)),
        g_mapped_file_get_length(source->file)));
    return TRUE;
}

gboolean stop(GstBaseSrc* base) {
    FramewellRepairedSrc* source = self(base);
    if (source->file) g_mapped_file_unref(source->file);
    source->file = nullptr;
    return TRUE;
}

gboolean getSize(GstBaseSrc* base, guint64* size) {
    FramewellRepairedSrc* source = self(base);
    // A reader that is told the size stops at it by itself, so the size stays untold where
    // the end has to be an error.
    if (!source->file || source->repairs->endIsError) return FALSE;
    *size = g_mapped_file_get_length(source->file);
    return TRUE;
}

gboolean isSeekable(GstBaseSrc*) {
    return TRUE;
}

// Runs on the streaming thread of the element that pulls.
GstFlowReturn fill(GstBaseSrc* base, guint64 offset, guint length, GstBuffer* buffer) {
    FramewellRepairedSrc* source = self(base);
    const media::Repairs& repairs = *source->repairs;
    const guint64 size = g_mapped_file_get_length(source->file);
    if (offset >= size) return repairs.endIsError ? GST_FLOW_ERROR : GST_FLOW_EOS;
    const guint64 done = std::min<guint64>(length, size - offset);
    const auto* contents =
        reinterpret_cast<const unsigned char*>(g_mapped_file_get_contents(source->file));
    gst_buffer_fill(buffer, 0, contents + offset, done);
    gst_buffer_set_size(buffer, static_cast<gssize>(done));
    if (repairs.asfObjectCount) {
        for (guint64 i = 0; i < 4; ++i) {
            const guint64 at = media::kAsfCountOffset + i;
            const auto byte = static_cast<guint8>((repairs.countThatFits >> (8 * i)) & 0xFF);
            if (at >= offset && at < offset + done) gst_buffer_fill(buffer, at - offset, &byte, 1);
        }
    }
    for (const media::BytePatch& patch : repairs.statedLength) {
        const guint64 from = std::max<guint64>(patch.offset, offset);
        const guint64 to = std::min<guint64>(patch.offset + patch.bytes.size(), offset + done);
        if (from < to)
            gst_buffer_fill(buffer, from - offset, patch.bytes.data() + (from - patch.offset),
                            to - from);
    }
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + done;
    return GST_FLOW_OK;
}

}  // namespace

static void framewell_repaired_src_class_init(FramewellRepairedSrcClass* klass) {
    GObjectClass* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    objectClass->finalize = finalize;
    g_object_class_install_property(
        objectClass, PROP_LOCATION,
        g_param_spec_string("location", "File Location", "Location of the file to read", nullptr,
                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));

    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    static GstStaticPadTemplate srcTemplate =
        GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(
        elementClass, "Repaired file source", "Source/File",
        "Reads a local file, handing readers corrected bytes where they misread it",
        "Framewell developers");

    GstBaseSrcClass* baseClass = GST_BASE_SRC_CLASS(klass);
    baseClass->start = start;
    baseClass->stop = stop;
    baseClass->get_size = getSize;
    baseClass->is_seekable = isSeekable;
    baseClass->fill = fill;
}

static void framewell_repaired_src_init(FramewellRepairedSrc* source) {
    source->location = nullptr;
    source->file = nullptr;
    source->repairs = new media::Repairs();
    gst_base_src_set_format(GST_BASE_SRC(source), GST_FORMAT_BYTES);
}

namespace media {

void RegisterRepairedFileSource() {
    static std::once_flag once;
    std::call_once(once, [] {
        gst_element_register(nullptr, "framewellrepairedsrc", GST_RANK_MARGINAL,
                             framewell_repaired_src_get_type());
    });
}

std::string MediaUriOf(const std::string& path) {
    const GCharPtr uri(gst_filename_to_uri(path.c_str(), nullptr));
    if (!uri) return {};
    std::string result = uri.get();
    GMappedFile* file = g_mapped_file_new(path.c_str(), FALSE, nullptr);
    if (!file) return result;
    const Repairs repairs =
        RepairsFor(reinterpret_cast<const unsigned char*>(g_mapped_file_get_contents(file)),
                   g_mapped_file_get_length(file));
    g_mapped_file_unref(file);
    if (repairs.any() && result.rfind("file:", 0) == 0)
        result = std::string(kRepairedScheme) + result.substr(4);
    return result;
}

}  // namespace media
