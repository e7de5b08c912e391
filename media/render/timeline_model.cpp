#include "media/render/timeline_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace media {

std::uint32_t Rgb24ImageSize(std::int32_t width, std::int32_t height) {
    const std::int64_t rowBytes =
        ((24 * static_cast<std::int64_t>(width) + 31) & ~std::int64_t{31}) / 8;
    const std::int64_t size = rowBytes * std::llabs(static_cast<std::int64_t>(height));
    if (rowBytes < 0 || size > std::numeric_limits<std::uint32_t>::max()) return 0;
    return static_cast<std::uint32_t>(size);
}

GroupMediaType Rgb24VideoMediaType(std::int32_t width, std::int32_t height) {
    GroupMediaType type;
    type.majortype = MajorType::Video;
    type.subtype = MediaSubtype::Rgb24;
    type.bFixedSizeSamples = true;
    type.bTemporalCompression = false;
    type.formattype = FormatType::VideoInfo;
    type.cbFormat = kVideoInfoHeaderSize;
    VideoInfoHeader info;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biSizeImage = Rgb24ImageSize(width, height);
    type.lSampleSize = info.bmiHeader.biSizeImage;
    type.format = info;
    return type;
}

GroupMediaType AudioGroupMediaType() {
    GroupMediaType type;
    type.majortype = MajorType::Audio;
    type.subtype = MediaSubtype::None;
    type.bFixedSizeSamples = true;
    type.bTemporalCompression = false;
    type.lSampleSize = 1;
    type.formattype = FormatType::None;
    type.cbFormat = 0;
    return type;
}

HRESULT SetMediaType(TimelineGroup& group, const GroupMediaType& mediaType) {
    if (mediaType.majortype == MajorType::Video) {
        if (mediaType.formattype != FormatType::VideoInfo || !mediaType.format) return E_INVALIDARG;
        const BitmapInfoHeader& picture = mediaType.format->bmiHeader;
        // A render needs a real frame: no empty, upside-down or oversized pictures.
        if (picture.biWidth <= 0 || picture.biHeight <= 0 || picture.biSizeImage == 0)
            return E_INVALIDARG;
    }
    group.mediaType = mediaType;
    group.mediaTypeSet = true;
    return S_OK;
}

HRESULT SetOutputFPS(TimelineGroup& group, double framesPerSecond) {
    if (!(framesPerSecond >= kLowestOutputFrameRate && framesPerSecond <= kHighestOutputFrameRate))
        return E_INVALIDARG;
    group.outputFrameRate = framesPerSecond;
    return S_OK;
}

HRESULT AddGroup(TimelineModel& timeline, TimelineGroup group) {
    if (!group.mediaTypeSet) return E_INVALIDARG;
    timeline.groups.push_back(std::move(group));
    return S_OK;
}

HRESULT VTrackInsBefore(TimelineGroup& group, TimelineTrack track, std::int32_t priority,
                        std::size_t* index) {
    const auto count = static_cast<std::int32_t>(group.tracks.size());
    if (priority < -1 || priority > count) return E_INVALIDARG;
    const std::int32_t place = priority == -1 ? count : priority;
    group.tracks.insert(group.tracks.begin() + place, std::move(track));
    for (std::size_t i = 0; i < group.tracks.size(); ++i)
        group.tracks[i].priority = static_cast<std::int32_t>(i);
    if (index) *index = static_cast<std::size_t>(place);
    return S_OK;
}

HRESULT SetStartStop(TimelineSource& source, ReferenceTime start, ReferenceTime stop) {
    if (start < 0 || stop <= start) return E_INVALIDARG;
    source.start = start;
    source.stop = stop;
    return S_OK;
}

HRESULT SetMediaTimes(TimelineSource& source, ReferenceTime mediaStart, ReferenceTime mediaStop) {
    if (mediaStart < 0 || mediaStop <= mediaStart) return E_INVALIDARG;
    source.mediaStart = mediaStart;
    source.mediaStop = mediaStop;
    return S_OK;
}

HRESULT SetMediaName(TimelineSource& source, const std::string& fileName) {
    if (fileName.empty()) return E_INVALIDARG;
    source.mediaName = fileName;
    return S_OK;
}

HRESULT SetStretchMode(TimelineSource& source, std::int32_t mode) {
    if (mode < kStretchModeStretch || mode > kStretchModePreserveAspectRatioNoLetterbox)
        return E_INVALIDARG;
    source.stretchMode = mode;
    return S_OK;
}

HRESULT SrcAdd(TimelineTrack& track, const TimelineSource& source) {
    if (source.stop <= source.start || source.mediaStop <= source.mediaStart ||
        source.mediaName.empty())
        return E_INVALIDARG;
    track.sources.push_back(source);
    return S_OK;
}

HRESULT SetSubObjectGUID(TimelineTransition& transition, const std::string& effectClass) {
    if (effectClass.empty()) return E_INVALIDARG;
    transition.effectClass = effectClass;
    return S_OK;
}

HRESULT SetStartStop(TimelineTransition& transition, ReferenceTime start, ReferenceTime stop) {
    if (start < 0 || stop < start) return E_INVALIDARG;
    transition.start = start;
    transition.stop = stop;
    return S_OK;
}

HRESULT TransAdd(TimelineTrack& track, const TimelineTransition& transition) {
    if (transition.effectClass.empty()) return E_INVALIDARG;
    track.transitions.push_back(transition);
    return S_OK;
}

HRESULT SetMaskNum(TimelineTransition& transition, std::int32_t maskNum) {
    transition.maskNum = maskNum;
    return S_OK;
}

ReferenceTime TimelineDuration(const TimelineModel& timeline) {
    ReferenceTime duration = 0;
    for (const TimelineGroup& group : timeline.groups)
        for (const TimelineTrack& track : group.tracks)
            for (const TimelineSource& source : track.sources)
                duration = std::max(duration, source.stop);
    return duration;
}

}  // namespace media
