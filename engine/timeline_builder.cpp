#include "engine/timeline_builder.h"

#include "clips/transition_catalogue.h"
#include "media/core/media_framework.h"

namespace {

// What the component library answers when an object is made before it was started.
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

QString clock(ReferenceTime t) {
    return QString::fromStdString(FormatClock(t));
}

}  // namespace

bool TimelineFailure::losesMaterial() const {
    switch (step) {
        case TimelineStep::TransitionTooLong:
        case TimelineStep::TransitionClass:
        case TimelineStep::TransitionTimes:
        case TimelineStep::AddTransition:
        case TimelineStep::TransitionMask:
            return false;
        default:
            return true;
    }
}

TimelineBuilder::TimelineBuilder(ClipList& clipList, const MusicList& musicList,
                                 ReferenceTime startMark, ReferenceTime endMark,
                                 const OutputSettings& outputSettings, ReferenceTime& totalDuration)
    : clipList_(clipList),
      musicList_(musicList),
      startMark_(startMark),
      endMark_(endMark),
      outputSettings_(outputSettings),
      totalDuration_(totalDuration) {}

HRESULT TimelineBuilder::fail(TimelineStep step, HRESULT status, const QString& reason) {
    failures_.push_back({step, status, reason});
    return status;
}

bool TimelineBuilder::Complete() const {
    for (const TimelineFailure& failure : failures_)
        if (failure.losesMaterial()) return false;
    return true;
}

HRESULT TimelineBuilder::BuildTimeline(media::TimelineModel* timeline) {
    failures_.clear();
    // The editing services live in the media framework; without it there is no timeline.
    if (!timeline || !media::MediaFrameworkRunning())
        return fail(TimelineStep::CreateTimeline, CO_E_NOTINITIALIZED,
                    QStringLiteral("The media framework is not running."));
    *timeline = media::TimelineModel{};

    totalDuration_ = 0;
    for (int i = 0; i < clipList_.count; ++i) totalDuration_ += clipList_[i].duration;

    if (clipList_.count > 0) AddVideoGroup(*timeline);
    if (musicList_.count > 0) AddAudioGroup(*timeline);
    // A missing source file is not asked for here: the render names the file it cannot open.
    return S_OK;
}

QString TimelineBuilder::spanProblem(const QString& fileName) const {
    if (fileName.isEmpty()) return QStringLiteral("The clip has no file name.");
    return QStringLiteral("%1 to %2 of %3 is no span to convert.")
        .arg(clock(startMark_), clock(endMark_), fileName);
}

HRESULT TimelineBuilder::AddVideoGroup(media::TimelineModel& timeline) {
    media::TimelineGroup group;
    const std::int32_t width = outputSettings_.outputWidth;
    const std::int32_t height = outputSettings_.outputHeight;
    HRESULT hr = media::SetMediaType(group, media::Rgb24VideoMediaType(width, height));
    if (FAILED(hr)) {
        const QString size = QStringLiteral("%1*%2").arg(width).arg(height);
        return fail(TimelineStep::VideoMediaType, hr,
                    width <= 0 || height <= 0
                        ? QStringLiteral("The output size %1 has no picture.").arg(size)
                        : QStringLiteral("The output size %1 is too large: one frame would take "
                                         "more than 4 GB.")
                              .arg(size));
    }
    hr = media::SetOutputFPS(group, outputSettings_.outputFrameRate);
    if (FAILED(hr))
        return fail(TimelineStep::VideoFrameRate, hr,
                    QStringLiteral("The frame rate %1 cannot be used: a conversion takes %2 to %3 "
                                   "frames a second.")
                        .arg(outputSettings_.outputFrameRate)
                        .arg(media::kLowestOutputFrameRate)
                        .arg(media::kHighestOutputFrameRate));
    hr = media::AddGroup(timeline, std::move(group));
    if (FAILED(hr)) return fail(TimelineStep::AddVideoGroup, hr);
    const std::size_t groupIndex = timeline.groups.size() - 1;
    for (int i = 0; i < clipList_.count; ++i) {
        clipList_[i].transitionDuration = 0;
        AddVideoClip(timeline, groupIndex, clipList_[i].fileName, i);
    }
    return S_OK;
}

HRESULT TimelineBuilder::AddVideoClip(media::TimelineModel& timeline, std::size_t groupIndex,
                                      const QString& fileName, int entry) {
    media::TimelineGroup& group = timeline.groups.at(groupIndex);
    std::size_t trackIndex = 0;
    HRESULT hr = media::VTrackInsBefore(group, media::TimelineTrack{}, -1, &trackIndex);
    if (FAILED(hr)) return fail(TimelineStep::InsertVideoTrack, hr);
    media::TimelineTrack& track = group.tracks[trackIndex];

    const ReferenceTime clipStart = 0;
    const ReferenceTime clipStop = endMark_ - startMark_;
    media::TimelineSource source;
    // Every setter runs even after one failed, so that the source holds all that could be set;
    // any failure among them fails the step.
    hr = media::SetStartStop(source, clipStart, clipStop);
    hr |= media::SetMediaTimes(source, startMark_, endMark_);
    hr |= media::SetMediaName(source, fileName.toStdString());
    hr |= media::SetStretchMode(source, outputSettings_.resizeMode);
    if (FAILED(hr)) return fail(TimelineStep::ConfigureVideoSource, E_FAIL, spanProblem(fileName));
    hr = media::SrcAdd(track, source);
    if (FAILED(hr)) return fail(TimelineStep::AddVideoSource, hr);

    const ReferenceTime transitionLength = clipList_[entry].transitionDuration;
    if ((clipStop - clipStart) - transitionLength < 0) {
        fail(TimelineStep::TransitionTooLong, E_INVALIDARG,
             QStringLiteral("The transition is longer than the clip."));
    } else {
        const ReferenceTime start = std::max<ReferenceTime>(clipStart, 0);
        const ReferenceTime stop = std::min(clipStart + transitionLength, totalDuration_);
        AddClipTransition(track, start, stop, entry);
    }
    return S_OK;
}

HRESULT TimelineBuilder::AddClipTransition(media::TimelineTrack& track, ReferenceTime start,
                                           ReferenceTime stop, int entry) {
    const int index = clipList_[entry].transition;
    if (index == 0) return S_OK;

    const TransitionEffect effect = transitionEffect(index);
    media::TimelineTransition transition;
    HRESULT hr = media::SetSubObjectGUID(transition, effect.effectClass);
    if (FAILED(hr)) return fail(TimelineStep::TransitionClass, hr);
    hr = media::SetStartStop(transition, start, stop);
    if (FAILED(hr)) return fail(TimelineStep::TransitionTimes, hr);
    hr = media::TransAdd(track, transition);
    if (FAILED(hr)) return fail(TimelineStep::AddTransition, hr);
    if (effect.hasMaskNum) {
        hr = media::SetMaskNum(track.transitions.back(), effect.maskNum);
        if (FAILED(hr)) return fail(TimelineStep::TransitionMask, hr);
    }
    return S_OK;
}

HRESULT TimelineBuilder::AddAudioGroup(media::TimelineModel& timeline) {
    media::TimelineGroup group;
    HRESULT hr = media::SetMediaType(group, media::AudioGroupMediaType());
    if (FAILED(hr)) return fail(TimelineStep::AudioMediaType, hr);
    hr = media::AddGroup(timeline, std::move(group));
    if (FAILED(hr)) return fail(TimelineStep::AddAudioGroup, hr);
    // Only the first music entry is used.
    AddAudioClip(timeline, timeline.groups.size() - 1, musicList_[0].fileName);
    return S_OK;
}

HRESULT TimelineBuilder::AddAudioClip(media::TimelineModel& timeline, std::size_t groupIndex,
                                      const QString& fileName) {
    media::TimelineGroup& group = timeline.groups.at(groupIndex);
    std::size_t trackIndex = 0;
    HRESULT hr = media::VTrackInsBefore(group, media::TimelineTrack{}, -1, &trackIndex);
    if (FAILED(hr)) return fail(TimelineStep::InsertAudioTrack, hr);
    media::TimelineTrack& track = group.tracks[trackIndex];

    media::TimelineSource source;
    // The audio clip's timeline times were never checked; its media times and name are.
    media::SetStartStop(source, 0, endMark_ - startMark_);
    if (FAILED(media::SetMediaTimes(source, startMark_, endMark_)))
        return fail(TimelineStep::AudioMediaTimes, E_FAIL, spanProblem(fileName));
    if (FAILED(media::SetMediaName(source, fileName.toStdString())))
        return fail(TimelineStep::AudioMediaName, E_FAIL,
                    QStringLiteral("The sound has no file name."));
    hr = media::SrcAdd(track, source);
    if (FAILED(hr)) return fail(TimelineStep::AddAudioSource, hr);
    return S_OK;
}
