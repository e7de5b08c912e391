#pragma once

// A direct stream copy as a render session's work: the pictures copied by a copy job of its
// own (stream_copy_job), or, where only the sound is copied, through the pipeline that encodes
// the pictures. Not for use outside media/.

#include <cstdint>
#include <optional>

#include "media/render/render_session_state.h"

namespace media {

// Sets the copy up and starts it. Runs on the session's worker.
RenderSetupResult SetUpStreamCopy(RenderSessionState& state, const RenderPlan& plan);

// Tells a running copy job to finish its file with what it has written; false when the
// session runs no copy job.
bool StopStreamCopy(RenderSessionState& state);

// How far a copy job has come; nullopt when the session runs none (or it has not begun).
std::optional<ReferenceTime> StreamCopyPosition(RenderSessionState& state);
// How many packets a copy job has read: it may read long before it writes its first picture.
std::int64_t StreamCopyPacketsRead(RenderSessionState& state);

}  // namespace media
