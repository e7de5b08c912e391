#pragma once

#include "media/core/status.h"

namespace media {

// Starts GStreamer and its Editing Services once per process. Every successful start is
// matched by a StopMediaFramework(). GStreamer cannot be started again in a process after
// it has been shut down, so the last stop leaves it loaded; the process exit releases it.
//
// Call it before any other thread touches GStreamer. GLib registers types under process-wide
// locks, and the Editing Services' start (which also starts a Python interpreter) and a plugin
// loaded at the same moment by another thread (a button's sound, a probe, a decoder) can wait
// on each other for ever. Once this has returned, any thread may use the framework.
//
// A failure of GStreamer itself fails the start. A failure of the Editing Services alone does
// not: playback and the plain conversion graph work without them, and StartEditingServices
// gives that failure to whoever needs them, without trying again.
//
// editingServicesNow false leaves the Editing Services for StartEditingServices, for a caller
// that knows no other thread uses the framework at that later moment (a command-line tool,
// which may not need them at all and saves their start-up).
HRESULT StartMediaFramework(bool editingServicesNow = true);
// S_OK when the Editing Services run. Starts them when they were left for later; once tried,
// answers with that outcome and never tries again.
HRESULT StartEditingServices();
bool EditingServicesStarted();
void StopMediaFramework();
bool MediaFrameworkRunning();

// Lets a test see how the program behaves when the framework cannot start.
void FailMediaFrameworkStartForTesting(bool fail);

}  // namespace media
