#include "media/source/source_choices.h"

namespace media {

const char* DeinterlaceWord(DeinterlaceMode mode) {
    switch (mode) {
        case DeinterlaceMode::Auto:
            return "auto";
        case DeinterlaceMode::On:
            return "on";
        case DeinterlaceMode::Off:
            return "off";
    }
    return "";
}

namespace {

std::string missingTrack(TrackKind kind, int number, const SourceTracks& tracks) {
    const int count = CountTracks(tracks, kind);
    std::string text = "The source has no " + std::string(TrackKindWord(kind)) + " track " +
                       std::to_string(number);
    if (count == 0) return text + "; it has none.";
    return text + "; it has " + (count == 1 ? std::string("one") : std::to_string(count)) + ".";
}

}  // namespace

std::string ResolveSourceChoices(SourceChoices& choices, const SourceTracks& tracks) {
    const bool hasSound = CountTracks(tracks, TrackKind::Sound) > 0;
    // A source without sound converts with silence, as it always has; only a track asked for
    // by number must exist.
    if (choices.audioTrack != 1 || hasSound) {
        const SourceTrack* sound = FindTrack(tracks, TrackKind::Sound, choices.audioTrack);
        if (!sound) return missingTrack(TrackKind::Sound, choices.audioTrack, tracks);
        choices.audioStreamKey = sound->streamKey;
    }
    if (choices.subtitleTrack > 0) {
        const SourceTrack* subtitles =
            FindTrack(tracks, TrackKind::Subtitles, choices.subtitleTrack);
        if (!subtitles) return missingTrack(TrackKind::Subtitles, choices.subtitleTrack, tracks);
        choices.subtitleStreamKey = subtitles->streamKey;
    }
    return {};
}

}  // namespace media
