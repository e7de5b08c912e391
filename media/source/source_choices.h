#pragma once

// What a conversion takes from its source besides the span: which sound track, which
// subtitles are burnt into the pictures (a track of the file or a side file), and whether the
// pictures are deinterlaced. With nothing chosen a conversion takes the first sound track, no
// subtitles, and deinterlaces what is interlaced.

#include <string>

#include "media/source/source_tracks.h"

namespace media {

enum class DeinterlaceMode {
    Auto,  // when the source says its pictures are interlaced, or a field check finds combing
    On,
    Off,
};

// "auto", "on", "off".
const char* DeinterlaceWord(DeinterlaceMode mode);

struct SourceChoices {
    int audioTrack = 1;  // among the sound tracks, from 1
    // The chosen tracks' stream keys (see SourceTrack), found from the probe by
    // ResolveSourceChoices; empty: the track is found by its number alone.
    std::string audioStreamKey;
    int subtitleTrack = 0;  // among the subtitle tracks, from 1; 0 for none
    std::string subtitleStreamKey;
    std::string subtitleFile;  // a side file (SRT, ASS, SSA), local path in UTF-8; empty for none
    DeinterlaceMode deinterlace = DeinterlaceMode::Auto;

    bool burnsSubtitles() const { return subtitleTrack > 0 || !subtitleFile.empty(); }
};

// Fills in the stream keys of the chosen tracks. The sentence that says why the choices do not
// fit the source's tracks (a sound or subtitle track it does not have); empty when they do.
std::string ResolveSourceChoices(SourceChoices& choices, const SourceTracks& tracks);

}  // namespace media
