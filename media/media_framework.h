#pragma once

#include "media/status.h"

namespace media {

// Starts GStreamer and its Editing Services once per process. Every successful start is
// matched by a StopMediaFramework(). GStreamer cannot be started again in a process after
// it has been shut down, so the last stop leaves it loaded; the process exit releases it.
// The Editing Services, which only a conversion needs, take longer to start than the rest of
// the dialog's start-up (they also start a Python interpreter, for project formats the program
// never reads): a caller may leave them for later, for StartEditingServices.
HRESULT StartMediaFramework(bool editingServicesNow = true);
// Starts the Editing Services when they are not yet. Call it where no other thread uses the
// media framework at the same moment: their start and a plugin loaded at once by another
// thread can wait on each other for ever.
HRESULT StartEditingServices();
bool EditingServicesStarted();
void StopMediaFramework();
bool MediaFrameworkRunning();

// Lets a test see how the program behaves when the framework cannot start.
void FailMediaFrameworkStartForTesting(bool fail);

}  // namespace media
