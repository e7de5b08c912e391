#pragma once

// The editing services' timeline made from the timeline model: one GES track per group, each
// source span a clip on a layer of its own. Not for use outside media/.

#include <ges/ges.h>

#include "media/render/render_plan.h"

namespace media {

struct PreparedSource;

// Fills timeline from the model, discovering every source first (which blocks). The audio
// route decides how many channels the sound keeps; the prepared source which sound track the
// clips play and whether their pictures are deinterlaced. Runs on the render session's worker;
// the result's duration is what the editing services placed.
RenderSetupResult BuildGesTimeline(const TimelineModel& model, GESTimeline* timeline,
                                   const StreamRoute& audioRoute, const PreparedSource& prepared);

}  // namespace media
