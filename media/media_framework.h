#pragma once

#include "media/status.h"

namespace media {

// Starts GStreamer and its Editing Services once per process. Every successful start is
// matched by a StopMediaFramework(). GStreamer cannot be started again in a process after
// it has been shut down, so the last stop leaves it loaded; the process exit releases it.
HRESULT StartMediaFramework();
void StopMediaFramework();
bool MediaFrameworkRunning();

// Lets a test see how the program behaves when the framework cannot start.
void FailMediaFrameworkStartForTesting(bool fail);

}  // namespace media
