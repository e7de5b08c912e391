#pragma once

// The cues of the subtitles a conversion burns into its pictures, read before the conversion
// starts: from a track of the source (text, or the pictures of a DVD or Blu-ray track) or from
// a side file (SRT and the other text formats GStreamer's subtitle parser knows, and ASS/SSA,
// whose dialogue lines are read here as plain text). Not for use outside media/.

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

#include "media/core/gst_handles.h"
#include "media/core/reference_time.h"
#include "media/source/source_choices.h"

namespace media {

struct SubtitleCue {
    ReferenceTime start = 0;  // in the source's time, from its first picture
    ReferenceTime stop = -1;  // -1: the cue says itself when it ends (a DVD picture)
    BufferPtr buffer;         // the text as Pango markup, or the subtitle picture
};

struct SubtitleCues {
    CapsPtr caps;  // text/x-raw (Pango markup or UTF-8 text), or subpicture/x-dvd or x-pgs
    bool bitmap = false;
    // Events that must reach the renderer before the first cue: a DVD track's palette.
    std::vector<EventPtr> leadingEvents;
    std::vector<SubtitleCue> cues;  // in order of their start
};

using SubtitleCuesPtr = std::shared_ptr<const SubtitleCues>;

// Reads the chosen subtitles of the source at sourcePath. Cues that start after readUntil (in
// the source's time) are not needed and may not be read. Blocks while the track or the file is
// read; null with *error set to a sentence for the user when they cannot be read.
SubtitleCuesPtr ReadSubtitleCues(const SourceChoices& choices, const std::string& sourcePath,
                                 ReferenceTime readUntil, std::string* error);

// The cues of an ASS or SSA script: its dialogue lines, without their styling, as Pango markup.
// Empty when the text is no such script.
std::vector<SubtitleCue> ParseSsaScript(const std::string& script);

}  // namespace media
