#pragma once

// Some files that other players read trip GStreamer's own readers: an ASF/WMV file whose
// header says it holds more objects than fit inside it (asfdemux then reads the data object
// as a header object and gives up on the whole file), or an animated GIF, whose reader in
// gst-libav takes the file source's end-of-file for "no data yet" and asks again for ever.
// Such files are read through a source element of our own that hands the readers the bytes
// they need (the corrected object count; an error instead of end-of-file) without touching
// the file. Every other file keeps GStreamer's plain file source.

#include <string>

namespace media {

// The URI by which the media framework is to read a local file (UTF-8 path): a plain file
// URI, or the repaired source's URI for a file that needs it. Empty when the path cannot be
// made into a URI.
std::string MediaUriOf(const std::string& path);

// Registers the repaired source with GStreamer; part of starting the media framework.
void RegisterRepairedFileSource();

}  // namespace media
