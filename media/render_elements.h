#pragma once

// What a render does to each element its pipeline makes: the encoders get their settings and
// their timestamps mended, decoders their repairs, the mixer its scaling; the encoding bin is
// kept for the stop. Not for use outside media/.

#include <gst/gst.h>

namespace media {

// The pipeline's "deep-element-added" handler; data is the session's RenderSessionState.
// Runs on the thread that adds the element: the worker while the render is set up.
void OnDeepElementAdded(GstBin* bin, GstBin* subBin, GstElement* element, gpointer data);

}  // namespace media
