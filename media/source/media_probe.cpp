#include "media/source/media_probe.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>
#include <memory>

#include "media/core/failure_words.h"
#include "media/core/gst_handles.h"
#include "media/core/local_file.h"
#include "media/core/repaired_file_source.h"
#include "media/source/discovered_tracks.h"

namespace media {
namespace {

struct StreamListFree {
    void operator()(GList* list) const { gst_discoverer_stream_info_list_free(list); }
};
using StreamList = std::unique_ptr<GList, StreamListFree>;

// Runs the discoverer on URI: its findings once the file decoded, else nullptr with the
// status and message in RESULT.
GObjectPtr<GstDiscovererInfo> discover(const std::string& uri, std::chrono::milliseconds timeout,
                                       ProbeResult& result) {
    GError* error = nullptr;
    GObjectPtr<GstDiscoverer> discoverer(
        gst_discoverer_new(static_cast<GstClockTime>(timeout.count()) * GST_MSECOND, &error));
    if (!discoverer) {
        result.status = E_FAIL;
        result.errorText = error ? error->message : "The media framework could not start a probe.";
        g_clear_error(&error);
        return nullptr;
    }
    GObjectPtr<GstDiscovererInfo> info(
        gst_discoverer_discover_uri(discoverer.get(), uri.c_str(), &error));

    const GstDiscovererResult outcome =
        info ? gst_discoverer_info_get_result(info.get()) : GST_DISCOVERER_ERROR;
    switch (outcome) {
        case GST_DISCOVERER_OK:
            result.status = S_OK;
            break;
        case GST_DISCOVERER_TIMEOUT:
            result.status = VFW_E_TIMEOUT;
            result.errorText = "The file could not be read in time.";
            break;
        case GST_DISCOVERER_MISSING_PLUGINS:
            result.status = VFW_E_NO_CODEC;
            result.missingDecoder = true;
            result.errorText = "A decoder needed for this file is not installed.";
            break;
        case GST_DISCOVERER_URI_INVALID:
            result.status = E_INVALIDARG;
            result.errorText = "The file name is not valid.";
            break;
        default:
            result.status = VFW_E_CANNOT_RENDER;
            result.errorText =
                error ? FailureInWords(error, nullptr, nullptr) : "The file cannot be decoded.";
            break;
    }
    if (error && result.errorText.empty()) result.errorText = error->message;
    g_clear_error(&error);
    if (!info || result.status != S_OK) {
        if (result.status == S_OK) result.status = VFW_E_CANNOT_RENDER;
        SetLastError(result.status, result.errorText);
        return nullptr;
    }
    return info;
}

// Length, seekability and the first picture and sound streams, as the discoverer found them.
void readStreams(GstDiscovererInfo* info, ProbeResult& result) {
    const GstClockTime duration = gst_discoverer_info_get_duration(info);
    result.duration = GST_CLOCK_TIME_IS_VALID(duration)
                          ? NanosecondsToReferenceTime(static_cast<std::int64_t>(duration))
                          : 0;
    result.seekable = gst_discoverer_info_get_seekable(info);

    StreamList videos(gst_discoverer_info_get_video_streams(info));
    for (GList* item = videos.get(); item; item = item->next) {
        auto* video = GST_DISCOVERER_VIDEO_INFO(item->data);
        if (gst_discoverer_video_info_is_image(video) && videos.get()->next) continue;
        result.hasVideo = true;
        result.stillImage = gst_discoverer_video_info_is_image(video);
        result.interlaced = gst_discoverer_video_info_is_interlaced(video);
        result.width = static_cast<int>(gst_discoverer_video_info_get_width(video));
        result.height = static_cast<int>(gst_discoverer_video_info_get_height(video));
        result.pixelAspectNumerator =
            static_cast<int>(gst_discoverer_video_info_get_par_num(video));
        result.pixelAspectDenominator =
            static_cast<int>(gst_discoverer_video_info_get_par_denom(video));
        break;
    }
    StreamList audios(gst_discoverer_info_get_audio_streams(info));
    if (audios) {
        auto* audio = GST_DISCOVERER_AUDIO_INFO(audios.get()->data);
        result.hasAudio = true;
        result.audioRate = static_cast<int>(gst_discoverer_audio_info_get_sample_rate(audio));
        result.audioChannels = static_cast<int>(gst_discoverer_audio_info_get_channels(audio));
        result.audioBitsPerSecond = static_cast<int>(
            std::min<guint>(gst_discoverer_audio_info_get_bitrate(audio), G_MAXINT));
    }
}

// Where the pictures really lie, and their rate; what the container says of its length is
// kept only when the pictures could not be followed to their end.
void addSourceTiming(const std::string& path, std::chrono::milliseconds timeLeft,
                     ProbeResult& result) {
    const SourceTiming timing = MeasureSourceTiming(path, timeLeft);
    if (timing.measured) result.duration = timing.Length();
    if (result.hasAudio) result.soundLength = timing.SoundLength();
    result.rotation = timing.rotation;
    if (timing.rotation == 90 || timing.rotation == 270) std::swap(result.width, result.height);
    result.frameRateNumerator = timing.frameRate.numerator;
    result.frameRateDenominator = timing.frameRate.denominator;
    result.frameRateOrigin = timing.frameRateOrigin;
    if (timing.frameRateOrigin == FrameRateOrigin::Measured && timing.statedFrameRate.known()) {
        result.statedFrameRateNumerator = timing.statedFrameRate.numerator;
        result.statedFrameRateDenominator = timing.statedFrameRate.denominator;
    }
}

}  // namespace

ProbeResult ProbeMediaFile(const std::string& path, std::chrono::milliseconds timeout) {
    ProbeResult result;
    // The discoverer's time limit does not reach a file source stuck in open().
    if (FAILED(result.status = CheckLocalMediaFile(path))) {
        result.errorText = LastErrorText();
        return result;
    }
    result.status = E_FAIL;
    const auto started = std::chrono::steady_clock::now();
    const std::string uri = MediaUriOf(path);
    if (uri.empty()) {
        result.status = E_INVALIDARG;
        result.errorText = "Invalid file name.";
        SetLastError(result.status, result.errorText);
        return result;
    }
    const GObjectPtr<GstDiscovererInfo> info = discover(uri, timeout, result);
    if (!info) return result;
    readStreams(info.get(), result);
    result.tracks = ReadDiscoveredTracks(info.get(), result.duration);
    if (!result.hasVideo || result.stillImage) return result;

    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    addSourceTiming(path, std::max(timeout - spent, std::chrono::milliseconds(1000)), result);
    // The measured length, not the container's word.
    for (SourceTrack& track : result.tracks) track.length = result.duration;
    return result;
}

}  // namespace media
