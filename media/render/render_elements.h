#pragma once

// What a render does to each element its pipeline makes: the encoders get their settings and
// their timestamps mended, decoders their repairs, the mixer its scaling; the encoding bin is
// kept for the stop. Not for use outside media/.

#include <gst/gst.h>

#include "media/render/timeline_model.h"

namespace media {

struct RenderSessionState;

// The pipeline's "deep-element-added" handler; data is the session's RenderSessionState.
// Runs on the thread that adds the element: the worker while the render is set up.
void OnDeepElementAdded(GstBin* bin, GstBin* subBin, GstElement* element, gpointer data);

// Where each kind of source stream must reach, for the decoders that the handler watches: the
// first source's span of each group. Holes are named up to the same place. Set before the
// pipeline exists.
void ExpectSourceEnds(RenderSessionState& state, const TimelineModel& model);

}  // namespace media
