#pragma once

// Whether a conversion deinterlaces its pictures. Interlaced pictures (DVD, TV recordings)
// hold two fields taken a field's time apart; written as they are, everything that moves shows
// combs. In auto mode the source's own word decides, and where it says nothing (or says
// "progressive" wrongly, as re-encoded recordings often do) a check of the fields of its first
// pictures does.

#include <string>

#include "media/source/source_choices.h"

namespace media {

struct FieldCheck {
    bool measured = false;    // pictures could be decoded
    bool declared = false;    // the stream says its pictures are interlaced
    bool palette = false;     // pictures of a palette (GIF): dithered, never interlaced
    int picturesChecked = 0;  // pictures that had enough detail to tell
    int picturesCombed = 0;
};

// Decodes the first pictures of a local file (UTF-8 path) and counts those whose fields differ
// as a moving interlaced picture's do. Blocks for up to about two seconds; keep it off the UI
// thread. A file is checked once until it changes.
FieldCheck CheckFields(const std::string& path);

// Whether the combed share of the checked pictures marks the source as interlaced.
bool LooksInterlaced(const FieldCheck& check);

struct DeinterlaceDecision {
    bool deinterlace = false;
    // Why, in a few words: "the source says its pictures are interlaced", "12 of 40 pictures
    // are combed", "asked for".
    std::string reason;
};

// What the mode means for this source; auto runs the field check (see CheckFields).
DeinterlaceDecision DecideDeinterlacing(DeinterlaceMode mode, const std::string& path);

}  // namespace media
