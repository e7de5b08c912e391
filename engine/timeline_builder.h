#pragma once

// Turns the clip lists, the trim marks and the output settings into the editing timeline of a
// conversion: a video group of 24-bit RGB frames at the output size and rate with one track
// per clip entry (and the entry's transition at its start), then an audio group with the
// first music entry. Every clip covers startMark to endMark of its file at timeline time 0.
//
// A failing step shows its message and returns its code; the callers go on, as the editing
// services' users always did: a failed clip leaves its empty track, a failed group leaves the
// timeline without it (so an audio group may become the first group). Only the failure to
// make the timeline at all ends the build with a failure code.
//
// Runs on the UI thread; the message owner is whatever window asked (nullptr on the command
// line).

#include "clips/clip_list.h"
#include "media/reference_time.h"
#include "media/status.h"
#include "media/timeline_model.h"
#include "settings/output_settings.h"

class QWidget;

class TimelineBuilder {
public:
    // The builder reads the lists, marks and settings and writes two things back: every clip
    // entry's transition duration (always 0 after a build) and the sum of the clip durations.
    TimelineBuilder(ClipList& clipList, const MusicList& musicList, ReferenceTime startMark,
                    ReferenceTime endMark, const OutputSettings& outputSettings,
                    ReferenceTime& totalDuration, QWidget* messageOwner = nullptr);

    // Builds into *timeline, replacing what it held. Returns 0 also when a group failed.
    HRESULT BuildTimeline(media::TimelineModel* timeline);

    HRESULT AddVideoGroup(media::TimelineModel& timeline);
    HRESULT AddVideoClip(media::TimelineModel& timeline, std::size_t groupIndex,
                         const QString& fileName, int entry);
    HRESULT AddClipTransition(media::TimelineTrack& track, ReferenceTime start, ReferenceTime stop,
                              int entry);
    HRESULT AddAudioGroup(media::TimelineModel& timeline);
    HRESULT AddAudioClip(media::TimelineModel& timeline, std::size_t groupIndex,
                         const QString& fileName);

private:
    ClipList& clipList_;
    const MusicList& musicList_;
    ReferenceTime startMark_;
    ReferenceTime endMark_;
    const OutputSettings& outputSettings_;
    ReferenceTime& totalDuration_;
    QWidget* messageOwner_;
};
