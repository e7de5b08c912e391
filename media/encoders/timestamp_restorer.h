#pragma once

// Timestamps for encoders that lose them. Not for use outside media/.

#include <gst/gst.h>

namespace media {

// Gives each buffer the encoder puts out the time of the frame it was made from, where the
// encoder stamped it with no time at all; runs on the encoder's streaming thread from then on.
void InstallTimestampRestorer(GstElement* encoder);

}  // namespace media
