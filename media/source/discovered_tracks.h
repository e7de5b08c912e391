#pragma once

// The tracks the discoverer found in a file. Not for use outside media/.

#include <gst/pbutils/pbutils.h>

#include "media/source/source_tracks.h"

namespace media {

// Every picture, sound and subtitle stream in the file's order; length is what each is given.
SourceTracks ReadDiscoveredTracks(GstDiscovererInfo* info, ReferenceTime length);

}  // namespace media
