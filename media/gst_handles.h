#pragma once

// Owners for GStreamer and GObject references inside the media seam, so that every early
// return drops what it took. Not for use outside media/.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>

namespace media {

struct GstObjectUnref {
    void operator()(gpointer object) const {
        if (object) gst_object_unref(object);
    }
};
template <typename T>
using GstPtr = std::unique_ptr<T, GstObjectUnref>;

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct CapsUnref {
    void operator()(GstCaps* caps) const {
        if (caps) gst_caps_unref(caps);
    }
};
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;

struct MessageUnref {
    void operator()(GstMessage* message) const {
        if (message) gst_message_unref(message);
    }
};
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;
template <typename T>
using GMemoryPtr = std::unique_ptr<T, GFree>;

struct EventUnref {
    void operator()(GstEvent* event) const {
        if (event) gst_event_unref(event);
    }
};
using EventPtr = std::unique_ptr<GstEvent, EventUnref>;

struct BufferUnref {
    void operator()(GstBuffer* buffer) const {
        if (buffer) gst_buffer_unref(buffer);
    }
};
using BufferPtr = std::unique_ptr<GstBuffer, BufferUnref>;

struct SampleUnref {
    void operator()(GstSample* sample) const {
        if (sample) gst_sample_unref(sample);
    }
};
using SamplePtr = std::unique_ptr<GstSample, SampleUnref>;

struct TypeClassUnref {
    void operator()(gpointer klass) const {
        if (klass) g_type_class_unref(klass);
    }
};
template <typename T>
using TypeClassPtr = std::unique_ptr<T, TypeClassUnref>;

struct IteratorFree {
    void operator()(GstIterator* iterator) const {
        if (iterator) gst_iterator_free(iterator);
    }
};
using IteratorPtr = std::unique_ptr<GstIterator, IteratorFree>;

struct VideoConverterFree {
    void operator()(GstVideoConverter* converter) const {
        if (converter) gst_video_converter_free(converter);
    }
};
using VideoConverterPtr = std::unique_ptr<GstVideoConverter, VideoConverterFree>;

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
