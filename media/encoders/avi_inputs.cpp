#include "media/encoders/avi_inputs.h"

#include <cstring>

namespace media {

bool FactoryKlassHas(GstElementFactory* factory, const char* word) {
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass && std::strstr(klass, word) != nullptr;
}

CapsPtr AviSinkCaps(bool video) {
    GstPtr<GstElementFactory> mux(gst_element_factory_find("avimux"));
    if (!mux) return nullptr;
    const char* wanted = video ? "video_%u" : "audio_%u";
    for (const GList* item = gst_element_factory_get_static_pad_templates(mux.get()); item;
         item = item->next) {
        auto* tmpl = static_cast<GstStaticPadTemplate*>(item->data);
        if (tmpl->direction == GST_PAD_SINK && g_str_equal(tmpl->name_template, wanted))
            return CapsPtr(gst_static_pad_template_get_caps(tmpl));
    }
    return nullptr;
}

CapsPtr AviEncodedCaps(bool video) {
    const CapsPtr all = AviSinkCaps(video);
    if (!all) return nullptr;
    CapsPtr encoded(gst_caps_new_empty());
    for (guint i = 0; i < gst_caps_get_size(all.get()); ++i) {
        const GstStructure* s = gst_caps_get_structure(all.get(), i);
        if (!gst_structure_has_name(s, "video/x-raw") && !gst_structure_has_name(s, "audio/x-raw"))
            gst_caps_append_structure(encoded.get(), gst_structure_copy(s));
    }
    return encoded;
}

}  // namespace media
