#include "engine/timeline_builder.h"

#include "clips/transition_catalogue.h"
#include "media/media_framework.h"
#include "platform/message_boxes.h"

namespace {

// What the component library answers when an object is made before it was started.
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

void frameworkMessage(const char* text) {
    platform::ShowFrameworkMessage(QString::fromLatin1(text));
}

}  // namespace

TimelineBuilder::TimelineBuilder(ClipList& clipList, const MusicList& musicList,
                                 ReferenceTime startMark, ReferenceTime endMark,
                                 const OutputSettings& outputSettings, ReferenceTime& totalDuration,
                                 QWidget* messageOwner)
    : clipList_(clipList),
      musicList_(musicList),
      startMark_(startMark),
      endMark_(endMark),
      outputSettings_(outputSettings),
      totalDuration_(totalDuration),
      messageOwner_(messageOwner) {}

HRESULT TimelineBuilder::BuildTimeline(media::TimelineModel* timeline) {
    // The editing services live in the media framework; without it there is no timeline.
    if (!timeline || !media::MediaFrameworkRunning()) {
        platform::ShowMessage(messageOwner_, QStringLiteral("Could not create timeline"),
                              QStringLiteral("Error"));
        return CO_E_NOTINITIALIZED;
    }
    *timeline = media::TimelineModel{};

    totalDuration_ = 0;
    for (int i = 0; i < clipList_.count; ++i) totalDuration_ += clipList_[i].duration;

    if (clipList_.count > 0) AddVideoGroup(*timeline);
    if (musicList_.count > 0) AddAudioGroup(*timeline);
    // A missing source file is not asked for here: the render names the file it cannot open.
    return S_OK;
}

HRESULT TimelineBuilder::AddVideoGroup(media::TimelineModel& timeline) {
    media::TimelineGroup group;
    HRESULT hr = media::SetMediaType(
        group,
        media::Rgb24VideoMediaType(outputSettings_.outputWidth, outputSettings_.outputHeight));
    if (FAILED(hr)) {
        frameworkMessage("Could not pVideoGroup->SetMediaType(&mtGroup)");
        return hr;
    }
    hr = media::SetOutputFPS(group, outputSettings_.outputFrameRate);
    if (FAILED(hr)) {
        frameworkMessage("Could not SetOutputFPS");
        return hr;
    }
    hr = media::AddGroup(timeline, std::move(group));
    if (FAILED(hr)) {
        frameworkMessage("Could not add video group");
        return hr;
    }
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
    if (FAILED(hr)) {
        frameworkMessage("Could not insert track");
        return hr;
    }
    media::TimelineTrack& track = group.tracks[trackIndex];

    const ReferenceTime clipStart = 0;
    const ReferenceTime clipStop = endMark_ - startMark_;
    media::TimelineSource source;
    // Every setter runs, as before, and any failure among them fails the step.
    hr = media::SetStartStop(source, clipStart, clipStop);
    hr |= media::SetMediaTimes(source, startMark_, endMark_);
    hr |= media::SetMediaName(source, fileName.toStdString());
    hr |= media::SetStretchMode(source, outputSettings_.resizeMode);
    if (FAILED(hr)) {
        frameworkMessage("Could not configure media source");
        return E_FAIL;
    }
    hr = media::SrcAdd(track, source);
    if (FAILED(hr)) {
        frameworkMessage("Could not add source to track");
        return hr;
    }

    const ReferenceTime transitionLength = clipList_[entry].transitionDuration;
    if ((clipStop - clipStart) - transitionLength < 0) {
        frameworkMessage("Transition time should be less than");
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
    if (FAILED(hr)) {
        frameworkMessage("Could not SetSubObjectGUID");
        return hr;
    }
    hr = media::SetStartStop(transition, start, stop);
    if (FAILED(hr)) {
        frameworkMessage("Could not SetStartStop(TLTranStart, TLTranStop);");
        return hr;
    }
    hr = media::TransAdd(track, transition);
    if (FAILED(hr)) {
        frameworkMessage("Could not TransAdd(pTransObj)");
        return hr;
    }
    if (effect.hasMaskNum) {
        hr = media::SetMaskNum(track.transitions.back(), effect.maskNum);
        if (FAILED(hr)) {
            frameworkMessage("Could not SetPropertySetter");
            return hr;
        }
    }
    return S_OK;
}

HRESULT TimelineBuilder::AddAudioGroup(media::TimelineModel& timeline) {
    media::TimelineGroup group;
    HRESULT hr = media::SetMediaType(group, media::AudioGroupMediaType());
    if (FAILED(hr)) {
        frameworkMessage("Could not set AudioGroupType");
        return hr;
    }
    hr = media::AddGroup(timeline, std::move(group));
    if (FAILED(hr)) {
        frameworkMessage("Could not add audio group");
        return hr;
    }
    // Only the first music entry is used.
    AddAudioClip(timeline, timeline.groups.size() - 1, musicList_[0].fileName);
    return S_OK;
}

HRESULT TimelineBuilder::AddAudioClip(media::TimelineModel& timeline, std::size_t groupIndex,
                                      const QString& fileName) {
    media::TimelineGroup& group = timeline.groups.at(groupIndex);
    std::size_t trackIndex = 0;
    HRESULT hr = media::VTrackInsBefore(group, media::TimelineTrack{}, -1, &trackIndex);
    if (FAILED(hr)) {
        frameworkMessage("Could not insert pTrack3Obj");
        return hr;
    }
    media::TimelineTrack& track = group.tracks[trackIndex];

    media::TimelineSource source;
    // The audio clip's timeline times were never checked; its media times and name are.
    media::SetStartStop(source, 0, endMark_ - startMark_);
    if (FAILED(media::SetMediaTimes(source, startMark_, endMark_))) {
        frameworkMessage("Could not set audio start and eng time!");
        return E_FAIL;
    }
    if (FAILED(media::SetMediaName(source, fileName.toStdString()))) {
        frameworkMessage("Could not configure pSource3Src");
        return E_FAIL;
    }
    hr = media::SrcAdd(track, source);
    if (FAILED(hr)) {
        frameworkMessage("Could not add pSource3Obj to track");
        return hr;
    }
    return S_OK;
}
