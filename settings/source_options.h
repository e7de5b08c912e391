#pragma once

// What a conversion takes from the open video besides its span: the sound track, the subtitles
// burnt in (a track of the video or a file), deinterlacing and a target size, and their
// persistence under the section "Source". The track choices belong to one video: they are
// kept with its file name and come back only when that file is opened again.

#include <QString>

#include "media/source/source_choices.h"

namespace platform {
class SettingsStore;
}

struct SourceOptions {
    int audioTrack = 1;     // among the sound tracks, from 1
    int subtitleTrack = 0;  // among the subtitle tracks, from 1; 0 for none
    QString subtitleFile;   // a side file; burnt in instead of a track when set
    media::DeinterlaceMode deinterlace = media::DeinterlaceMode::Auto;
    double targetSizeMegabytes = 0.0;  // 0: no size is aimed at
    QString sourceFile;                // the video the track choices were made for

    bool operator==(const SourceOptions&) const = default;
    // The choices as a conversion takes them (track numbers, the file, the mode).
    media::SourceChoices Choices() const;
};

// Reads the stored options; a mode or a size that makes no sense reads as the default.
SourceOptions LoadSourceOptions(const platform::SettingsStore& store);
void SaveSourceOptions(platform::SettingsStore& store, const SourceOptions& options);

// The options for a video just opened: the track choices and the subtitle file stay only when
// they were made for that very file, deinterlacing and the target size stay whatever it is.
SourceOptions SourceOptionsForOpenedVideo(const SourceOptions& current, const QString& path);
