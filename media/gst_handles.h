#pragma once

// Owners for GStreamer and GObject references inside the media seam, so that every early
// return drops what it took. Not for use outside media/.

#include <gst/gst.h>

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

}  // namespace media
