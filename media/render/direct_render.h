#pragma once

// A conversion of one span of one file, with no transition and nothing else on the timeline,
// needs no editing timeline: the file is read, decoded, fitted to the output's frame and rate
// and encoded in one plain pipeline. It costs about a third less processor time and memory
// than the editing services' render (no mixer, no second discovery of the file, no timeline
// machinery), and writes the same frames: the span starts and ends where the render's would,
// pictures a quarter frame in, lengths in whole output frames. Not for use outside media/.

#include "media/render/render_plan.h"

namespace media {

struct RenderSessionState;

// Whether the plan can go this way; the render session falls back to the editing services
// otherwise.
bool UsesDirectRender(const RenderPlan& plan);

// Sets the pipeline up and starts it. Runs on the session's worker.
RenderSetupResult SetUpDirectRender(RenderSessionState& state, const RenderPlan& plan);

}  // namespace media
