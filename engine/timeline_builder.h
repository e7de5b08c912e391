#pragma once

// Turns the clip lists, the trim marks and the output settings into the editing timeline of a
// conversion: a video group of 24-bit RGB frames at the output size and rate with one track
// per clip entry (and the entry's transition at its start), then an audio group with the
// first music entry. Every clip covers startMark to endMark of its file at timeline time 0.
//
// A failing step is recorded with its reason and the build goes on, so that one build finds
// every problem: a failed clip leaves its empty track, a failed group leaves the timeline
// without it (so an audio group may become the first group). Only the failure to make the
// timeline at all ends the build with a failure code. Nothing is shown here: the front ends
// tell the user, and do not convert a timeline that lost a group or a clip.
//
// Runs on the UI thread.

#include <vector>

#include "clips/clip_list.h"
#include "media/core/reference_time.h"
#include "media/core/status.h"
#include "media/render/timeline_model.h"
#include "settings/output_settings.h"

// The steps of a build that can fail, each named by the front end in its own words.
enum class TimelineStep {
    CreateTimeline,
    VideoMediaType,
    VideoFrameRate,
    AddVideoGroup,
    InsertVideoTrack,
    ConfigureVideoSource,
    AddVideoSource,
    TransitionTooLong,
    TransitionClass,
    TransitionTimes,
    AddTransition,
    TransitionMask,
    AudioMediaType,
    AddAudioGroup,
    InsertAudioTrack,
    AudioMediaTimes,
    AudioMediaName,
    AddAudioSource,
};

struct TimelineFailure {
    TimelineStep step = TimelineStep::CreateTimeline;
    HRESULT status = E_FAIL;
    QString reason;  // what was wrong, in plain words; empty when the step says all there is

    // A transition that fails changes no frame of the output (every transition here has no
    // length); any other failure leaves a group or a clip out of it.
    bool losesMaterial() const;
};

class TimelineBuilder {
public:
    // The builder reads the lists, marks and settings and writes two things back: every clip
    // entry's transition duration (always 0 after a build) and the sum of the clip durations.
    TimelineBuilder(ClipList& clipList, const MusicList& musicList, ReferenceTime startMark,
                    ReferenceTime endMark, const OutputSettings& outputSettings,
                    ReferenceTime& totalDuration);

    // Builds into *timeline, replacing what it held. Returns 0 also when a group failed.
    HRESULT BuildTimeline(media::TimelineModel* timeline);
    // The steps that failed in the last build, in order.
    const std::vector<TimelineFailure>& Failures() const { return failures_; }
    // Whether the last build holds everything it was asked for, so that it may be converted.
    bool Complete() const;

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
    std::vector<TimelineFailure> failures_;

    HRESULT fail(TimelineStep step, HRESULT status, const QString& reason = QString());
    QString spanProblem(const QString& fileName) const;
};
