#pragma once

// The media framework's file source opens whatever it is given and waits as long as the open
// does: a named pipe without a writer blocks it for ever, out of reach of any time limit. So
// every local path is looked at before GStreamer sees it.

#include <string>

#include "media/core/status.h"

namespace media {

// S_OK for an existing regular file (links followed); otherwise a failure code with a
// readable text in LastErrorText(): VFW_E_NOT_FOUND when nothing is there, E_INVALIDARG for a
// folder, a pipe or a device.
HRESULT CheckLocalMediaFile(const std::string& path);

}  // namespace media
