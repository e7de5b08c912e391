#include "media/media_probe.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <memory>

#include "media/gst_handles.h"
#include "media/local_file.h"

namespace media {
namespace {

struct StreamListFree {
    void operator()(GList* list) const { gst_discoverer_stream_info_list_free(list); }
};
using StreamList = std::unique_ptr<GList, StreamListFree>;

}  // namespace

ProbeResult ProbeMediaFile(const std::string& path, std::chrono::milliseconds timeout) {
    ProbeResult result;
    // The discoverer's time limit does not reach a file source stuck in open().
    if (FAILED(result.status = CheckLocalMediaFile(path))) {
        result.errorText = LastErrorText();
        return result;
    }
    result.status = E_FAIL;
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &error);
    if (!uri) {
        result.status = E_INVALIDARG;
        result.errorText = error ? error->message : "Invalid file name.";
        g_clear_error(&error);
        return result;
    }
    GObjectPtr<GstDiscoverer> discoverer(
        gst_discoverer_new(static_cast<GstClockTime>(timeout.count()) * GST_MSECOND, &error));
    if (!discoverer) {
        g_free(uri);
        result.status = E_FAIL;
        result.errorText = error ? error->message : "The media framework could not start a probe.";
        g_clear_error(&error);
        return result;
    }
    GObjectPtr<GstDiscovererInfo> info(
        gst_discoverer_discover_uri(discoverer.get(), uri, &error));
    g_free(uri);

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
            result.errorText = error ? error->message : "The file cannot be decoded.";
            break;
    }
    if (error && result.errorText.empty()) result.errorText = error->message;
    g_clear_error(&error);
    if (!info || result.status != S_OK) {
        if (result.status == S_OK) result.status = VFW_E_CANNOT_RENDER;
        SetLastError(result.status, result.errorText);
        return result;
    }

    const GstClockTime duration = gst_discoverer_info_get_duration(info.get());
    result.duration = GST_CLOCK_TIME_IS_VALID(duration)
                          ? NanosecondsToReferenceTime(static_cast<std::int64_t>(duration))
                          : 0;
    result.seekable = gst_discoverer_info_get_seekable(info.get());

    StreamList videos(gst_discoverer_info_get_video_streams(info.get()));
    for (GList* item = videos.get(); item; item = item->next) {
        auto* video = GST_DISCOVERER_VIDEO_INFO(item->data);
        if (gst_discoverer_video_info_is_image(video) && videos.get()->next) continue;
        result.hasVideo = true;
        result.width = static_cast<int>(gst_discoverer_video_info_get_width(video));
        result.height = static_cast<int>(gst_discoverer_video_info_get_height(video));
        result.frameRateNumerator = static_cast<int>(gst_discoverer_video_info_get_framerate_num(video));
        result.frameRateDenominator = static_cast<int>(gst_discoverer_video_info_get_framerate_denom(video));
        result.pixelAspectNumerator = static_cast<int>(gst_discoverer_video_info_get_par_num(video));
        result.pixelAspectDenominator = static_cast<int>(gst_discoverer_video_info_get_par_denom(video));
        if (result.frameRateDenominator <= 0) result.frameRateDenominator = 1;
        break;
    }
    StreamList audios(gst_discoverer_info_get_audio_streams(info.get()));
    if (audios) {
        auto* audio = GST_DISCOVERER_AUDIO_INFO(audios.get()->data);
        result.hasAudio = true;
        result.audioRate = static_cast<int>(gst_discoverer_audio_info_get_sample_rate(audio));
        result.audioChannels = static_cast<int>(gst_discoverer_audio_info_get_channels(audio));
    }
    return result;
}

}  // namespace media
