#pragma once

// GStreamer's failures in words a user can act on. Its own texts name the symptom inside the
// pipeline ("Internal data stream error.") rather than what went wrong with the file; these
// say which part gave up on the file and what the user may do about it. Not for use outside
// media/.

#include <gst/gst.h>

#include <string>

namespace media {

// error: the failure; debug: its details (may be null); source: the element that reported it
// (may be null).
std::string FailureInWords(const GError* error, const gchar* debug, GstObject* source);

// The same for an error message from a bus.
std::string FailureInWords(GstMessage* errorMessage);

}  // namespace media
