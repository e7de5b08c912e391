#pragma once

// A render session's pipeline and file from the set-up on: the output name checked and its
// hidden file reserved, the pipeline adopted (its bus messages become the session's events),
// the file finished and moved into place at the end of the streams, the pipeline released.
// Not for use outside media/.

#include <gst/gst.h>

#include <string>

#include "media/render/render_session_state.h"

namespace media {

// The output's name as a conversion takes it: a local path that names no folder, device or
// pipe.
RenderSetupResult CheckOutputName(const std::string& path);
// The file is written under a hidden name and moved into place once finished.
RenderSetupResult ReserveOutput(RenderSessionState& state, const std::string& path);
// The session's pipeline from now on: its messages come to the session, and it is counted
// until it is finalised. Takes over the caller's reference.
void AdoptPipeline(RenderSessionState& state, GstPtr<GstElement> pipeline);
// A pipeline that would not run. The failure is reported as the step's; its events are not
// the running graph's.
RenderSetupResult NotStarted(RenderSessionState& state, const char* fallback);
// Stops and drops the pipeline on the worker; a file not finished is abandoned.
void ReleasePipeline(RenderSessionState& state);
// Whether every input of the multiplexer inside the encoding bin knows its stream's format.
// Until it does, an end-of-stream makes the multiplexer write stream headers without a format,
// a file that no player opens.
bool MultiplexerNegotiated(GstElement* encodebin);

}  // namespace media
