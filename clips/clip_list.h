#pragma once

// The material of a conversion: the clip list (the video clips, in timeline order) and the
// music list (where the audio is taken from), with the defaults a new clip receives.

#include <QString>

#include <array>
#include <cstdint>

#include "media/core/reference_time.h"
#include "platform/paths.h"

namespace platform {
class SettingsStore;
}

struct ClipItem {
    QString fileName;
    ReferenceTime duration = 0;  // whole seconds times 10,000,000
    std::int32_t transition = 0;  // index into the transition catalogue; 0 is "None"
    ReferenceTime transitionDuration = 0;
};

struct MusicItem {
    QString fileName;
    ReferenceTime duration = 0;  // as readMediaDuration gave it; 0 or -1 when unreadable
};

// Values that a new clip entry receives, from the "TransitionSettings" section.
struct ClipDefaults {
    std::int32_t clipDuration = 8;        // seconds
    std::int32_t transitionDuration = 0;  // seconds
    std::int32_t policy = 0;              // TransitionPolicy
    std::int32_t sameTransition = 0;      // catalogue index for the Same policy
};

// Fixed storage: entries 0 to count-1 are in use. Slots past the count keep what they last
// held, which an unknown transition policy relies on.
struct ClipList {
    static constexpr int kCapacity = 1000;
    std::int32_t count = 0;
    std::array<ClipItem, kCapacity> items;

    ClipItem& operator[](int i) { return items.at(static_cast<std::size_t>(i)); }
    const ClipItem& operator[](int i) const { return items.at(static_cast<std::size_t>(i)); }
};

struct MusicList {
    static constexpr int kCapacity = 100;
    std::int32_t count = 0;
    std::array<MusicItem, kCapacity> items;

    MusicItem& operator[](int i) { return items.at(static_cast<std::size_t>(i)); }
    const MusicItem& operator[](int i) const { return items.at(static_cast<std::size_t>(i)); }
};

// Reads the defaults; absent values take 8, 0, 0 and 0. They are never written back.
ClipDefaults ReadClipDefaults(const platform::SettingsStore& store);

// Fills entry n's duration, transition and transition duration from the defaults.
void assignClipDefaults(ClipList& list, int n, const ClipDefaults& defaults);

// Appends a clip with the defaults. Returns false, changing nothing, when the list is full.
bool appendClip(ClipList& list, const QString& path, const ClipDefaults& defaults);

// The length of a media file in ReferenceTime at full precision; -1 when the file cannot be
// decoded, 0 when the media framework is not available. Blocks while it measures.
ReferenceTime readMediaDuration(const QString& path);

// Up to and including the last separator of the platform; empty when there is none.
inline QString folderOf(const QString& path,
                        platform::PathStyle style = platform::kNativePathStyle) {
    return platform::FolderOf(path, style);
}
