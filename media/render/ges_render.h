#pragma once

// A render through the editing services, for a plan that neither a copy nor the plain graph
// takes: the GES timeline built from the model (ges_timeline_build), a GESPipeline in render
// mode into the AVI container's profile, the subtitles drawn over the pictures, the span guard
// on the encoding bin. Not for use outside media/.

#include "media/render/render_plan.h"

namespace media {

struct RenderSessionState;

// Sets the pipeline up and starts it. Runs on the session's worker; the editing services must
// have been started.
RenderSetupResult SetUpGesRender(RenderSessionState& state, const RenderPlan& plan);

}  // namespace media
