#pragma once

// A direct stream copy as a render session's pipeline. Not for use outside media/.

#include "media/render_session_state.h"

namespace media {

// The span read from the source and written through the encoding bin, the copied streams as
// they are. Runs on the session's worker.
RenderSetupResult SetUpStreamCopy(RenderSessionState& state, const RenderPlan& plan);

}  // namespace media
