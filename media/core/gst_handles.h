#pragma once

// Owners for GStreamer and GObject references inside the media seam, so that every early
// return drops what it took. Not for use outside media/.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>

namespace media {

// Calls release on a held pointer that is not null. Only for functions the libraries export:
// an inline one differs from file to file, and so would the owner's type.
template <auto release>
struct Release {
    template <typename T>
    void operator()(T* held) const {
        if (held) release(held);
    }
};

using GstObjectUnref = Release<gst_object_unref>;
template <typename T>
using GstPtr = std::unique_ptr<T, GstObjectUnref>;

using GObjectUnref = Release<g_object_unref>;
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Caps, messages, events, buffers and samples are mini objects: their unref functions are
// inline, so they are let go through the one exported call.
struct MiniObjectUnref {
    void operator()(gpointer held) const {
        if (held) gst_mini_object_unref(GST_MINI_OBJECT_CAST(held));
    }
};
using CapsUnref = MiniObjectUnref;
using MessageUnref = MiniObjectUnref;
using CapsPtr = std::unique_ptr<GstCaps, MiniObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MiniObjectUnref>;
using EventPtr = std::unique_ptr<GstEvent, MiniObjectUnref>;
using BufferPtr = std::unique_ptr<GstBuffer, MiniObjectUnref>;
using SamplePtr = std::unique_ptr<GstSample, MiniObjectUnref>;
using IteratorPtr = std::unique_ptr<GstIterator, Release<gst_iterator_free>>;
using VideoConverterPtr = std::unique_ptr<GstVideoConverter, Release<gst_video_converter_free>>;
template <typename T>
using TypeClassPtr = std::unique_ptr<T, Release<g_type_class_unref>>;

using GFree = Release<g_free>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
template <typename T>
using GMemoryPtr = std::unique_ptr<T, GFree>;

// A pipeline stopped (state NULL) before it is let go.
struct PipelineRelease {
    void operator()(GstElement* pipeline) const {
        if (!pipeline) return;
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};
using PipelinePtr = std::unique_ptr<GstElement, PipelineRelease>;

// Takes over a newly made object's floating reference; a bin it is then added to holds a
// reference of its own.
template <typename T>
GstPtr<T> Sunk(T* object) {
    return GstPtr<T>(object ? static_cast<T*>(gst_object_ref_sink(object)) : nullptr);
}

// A newly made element, owned (see Sunk); null where the factory is missing.
inline GstPtr<GstElement> MakeElement(const char* factory, const char* name = nullptr) {
    return Sunk(gst_element_factory_make(factory, name));
}

}  // namespace media
