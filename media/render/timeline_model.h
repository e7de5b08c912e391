#pragma once

// The editing timeline of a conversion as plain data: groups in order (the first is rendered
// as video, every later one as audio), tracks with their priority, sources cut out of files by
// timeline and media times, and transitions. The render session turns it into a GES timeline;
// until then nothing here touches GStreamer, so the builder's results can be checked as they
// are.
//
// The setters stand in for the editing services' calls: each checks its arguments the way a
// timeline must have them and returns a status code, so the builder shows the failure of the
// step that made it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/core/reference_time.h"
#include "media/core/status.h"

namespace media {

struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The picture description of an uncompressed frame, field by field.
struct BitmapInfoHeader {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 24;
    std::uint32_t biCompression = 0;  // BI_RGB
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

struct VideoInfoHeader {
    Rect rcSource;
    Rect rcTarget;
    std::uint32_t dwBitRate = 0;
    std::uint32_t dwBitErrorRate = 0;
    ReferenceTime AvgTimePerFrame = 0;
    BitmapInfoHeader bmiHeader;
};

// The size of a VIDEOINFOHEADER as the media type's cbFormat gives it.
inline constexpr std::uint32_t kVideoInfoHeaderSize = 88;

enum class MajorType { Video, Audio };
enum class MediaSubtype { None, Rgb24 };  // None: the null GUID
enum class FormatType { None, VideoInfo };

struct GroupMediaType {
    MajorType majortype = MajorType::Video;
    MediaSubtype subtype = MediaSubtype::None;
    bool bFixedSizeSamples = true;
    bool bTemporalCompression = false;
    std::uint32_t lSampleSize = 0;
    FormatType formattype = FormatType::None;
    std::uint32_t cbFormat = 0;
    std::optional<VideoInfoHeader> format;  // present exactly for FormatType::VideoInfo
};

// Bytes of one 24-bit frame: each row rounded up to whole 32-bit words, times the rows
// (the height taken as its absolute value). 0 when the frame would not fit 32 bits.
std::uint32_t Rgb24ImageSize(std::int32_t width, std::int32_t height);

// The media type of a video group of 24-bit RGB frames of that size.
GroupMediaType Rgb24VideoMediaType(std::int32_t width, std::int32_t height);
// The media type of an audio group: no format is given; the source's own is kept.
GroupMediaType AudioGroupMediaType();

// How a source picture is fitted into the group's frame.
inline constexpr std::int32_t kStretchModeStretch = 0;
inline constexpr std::int32_t kStretchModeCrop = 1;
inline constexpr std::int32_t kStretchModePreserveAspectRatio = 2;
inline constexpr std::int32_t kStretchModePreserveAspectRatioNoLetterbox = 3;

struct TimelineSource {
    ReferenceTime start = 0;  // on the output's time axis
    ReferenceTime stop = 0;
    ReferenceTime mediaStart = 0;  // in the file
    ReferenceTime mediaStop = 0;
    std::string mediaName;                    // local file name, UTF-8
    std::optional<std::int32_t> stretchMode;  // video sources only
};

struct TimelineTransition {
    std::string effectClass;  // GUID text
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    std::optional<std::int32_t> maskNum;  // the SMPTE wipe pattern, when one was set
};

struct TimelineTrack {
    std::int32_t priority = 0;  // its place in the group
    std::vector<TimelineSource> sources;
    std::vector<TimelineTransition> transitions;
};

struct TimelineGroup {
    GroupMediaType mediaType;
    bool mediaTypeSet = false;
    double outputFrameRate = 0.0;  // video groups; 0 when none was set
    bool previewMode = true;       // a render turns it off so that no frame is dropped
    std::vector<TimelineTrack> tracks;

    bool isVideo() const { return mediaType.majortype == MajorType::Video; }
};

struct TimelineModel {
    std::vector<TimelineGroup> groups;
};

// The frame rates a conversion can write: below the lowest a frame would outlast any clip; far
// above the highest the render makes frames without end.
inline constexpr double kLowestOutputFrameRate = 0.001;
inline constexpr double kHighestOutputFrameRate = 1000.0;

// --- The editing services' calls, as checks on the data ---

// Width and height must be positive and the frame must fit; the audio type is always taken.
HRESULT SetMediaType(TimelineGroup& group, const GroupMediaType& mediaType);
// A frame rate must lie between kLowestOutputFrameRate and kHighestOutputFrameRate.
HRESULT SetOutputFPS(TimelineGroup& group, double framesPerSecond);
// Groups are numbered in the order they are added; a group needs its media type first.
HRESULT AddGroup(TimelineModel& timeline, TimelineGroup group);
// Priority -1 appends the track after the group's others; 0 to count inserts before that
// place. Returns the track's place through *index.
HRESULT VTrackInsBefore(TimelineGroup& group, TimelineTrack track, std::int32_t priority,
                        std::size_t* index);

// A source needs a start at or after 0 and a stop after it, both on the timeline and in the
// file, and a file name.
HRESULT SetStartStop(TimelineSource& source, ReferenceTime start, ReferenceTime stop);
HRESULT SetMediaTimes(TimelineSource& source, ReferenceTime mediaStart, ReferenceTime mediaStop);
HRESULT SetMediaName(TimelineSource& source, const std::string& fileName);
// 0 stretch, 1 crop, 2 preserve the aspect ratio with bars, 3 preserve it by cropping.
HRESULT SetStretchMode(TimelineSource& source, std::int32_t mode);
// A source is taken only when its times and name were set.
HRESULT SrcAdd(TimelineTrack& track, const TimelineSource& source);

HRESULT SetSubObjectGUID(TimelineTransition& transition, const std::string& effectClass);
// A transition may be empty (stop equal to start) but never reversed.
HRESULT SetStartStop(TimelineTransition& transition, ReferenceTime start, ReferenceTime stop);
HRESULT TransAdd(TimelineTrack& track, const TimelineTransition& transition);
// The "MaskNum" property of a wipe, set at time 0.
HRESULT SetMaskNum(TimelineTransition& transition, std::int32_t maskNum);

// --- Reading ---

// The output length: the latest stop of any source.
ReferenceTime TimelineDuration(const TimelineModel& timeline);

}  // namespace media
