#pragma once

// The tracks a source file holds, as a user chooses among them: pictures, sound and subtitles,
// each numbered from 1 within its kind in the file's own order, with its codec, language,
// title and length where the file has them.

#include <string>
#include <vector>

#include "media/core/reference_time.h"

namespace media {

enum class TrackKind { Video, Sound, Subtitles };

struct SourceTrack {
    TrackKind kind = TrackKind::Video;
    int number = 0;            // from 1, within its kind
    std::string codec;         // in words: "H.264 (High Profile)", "Vorbis", "SubRip"
    std::string language;      // as the file names it ("eng", "fr"); empty when it does not
    std::string title;         // empty when the file gives none
    ReferenceTime length = 0;  // 0 when unknown
    // Subtitles drawn as pictures (DVD or Blu-ray tracks) rather than text.
    bool bitmap = false;
    // What identifies the stream in every reading of the file: its stream id without the part
    // that names the file's location.
    std::string streamKey;
};

using SourceTracks = std::vector<SourceTrack>;

// How many tracks of the kind there are.
int CountTracks(const SourceTracks& tracks, TrackKind kind);
// The track of that kind and number; null when there is none.
const SourceTrack* FindTrack(const SourceTracks& tracks, TrackKind kind, int number);

// "video", "sound", "subtitles".
const char* TrackKindWord(TrackKind kind);
// One line of a listing: "2  sound  Vorbis  fre  \"Commentary\"  00:00:03.000".
std::string DescribeTrack(const SourceTrack& track);
// For a choice list: "2: Vorbis, fre, Commentary".
std::string TrackChoiceText(const SourceTrack& track);

// The stream id as every reading of the file gives it: the demultiplexer's part, after the
// first "/" (the part before it is made from the file's address, which a repaired reading
// changes). Empty for a stream id without one.
std::string StreamKeyOf(const std::string& streamId);

}  // namespace media
