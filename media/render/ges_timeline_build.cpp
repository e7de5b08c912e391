// GLib's headers come before Qt's: GIO names a struct member "signals", which Qt defines as a
// keyword.
#include <ges/ges.h>
#include <gst/audio/audio.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include "media/render/ges_timeline_build.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "media/core/frame_time.h"
#include "media/core/gst_handles.h"
#include "media/core/media_framework.h"
#include "media/core/repaired_file_source.h"
#include "media/render/avi_stream_format.h"
#include "media/render/prepared_source.h"
#include "media/render/render_session_state.h"
#include "media/source/deinterlacing_stage.h"
#include "media/source/source_timing.h"

namespace media {
namespace {

// GStreamer counts in nanoseconds, the timeline in 100 ns units.
GstClockTime toClockTime(ReferenceTime t) {
    return static_cast<GstClockTime>(ReferenceTimeToNanoseconds(t));
}

std::string describeSpan(const TimelineSource& source) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%.3f s to %.3f s",
                  static_cast<double>(source.mediaStart) / kReferenceTimePerSecond,
                  static_cast<double>(source.mediaStop) / kReferenceTimePerSecond);
    return buffer;
}

using AssetPtr = std::unique_ptr<GESUriClipAsset, GObjectUnref>;

// The audio format the sources bring: the first source with sound decides.
void sourceAudioFormat(const std::map<std::string, AssetPtr>& assets, const TimelineGroup& group,
                       int* rate, int* channels) {
    for (const TimelineTrack& track : group.tracks) {
        for (const TimelineSource& source : track.sources) {
            auto found = assets.find(source.mediaName);
            if (found == assets.end()) continue;
            GstDiscovererInfo* info = ges_uri_clip_asset_get_info(found->second.get());
            if (!info) continue;
            GList* audios = gst_discoverer_info_get_audio_streams(info);
            if (audios) {
                auto* audio = GST_DISCOVERER_AUDIO_INFO(audios->data);
                *rate = static_cast<int>(gst_discoverer_audio_info_get_sample_rate(audio));
                *channels = static_cast<int>(gst_discoverer_audio_info_get_channels(audio));
            }
            gst_discoverer_stream_info_list_free(audios);
            if (*rate > 0 && *channels > 0) return;
        }
    }
}

// Keeps a GES clip's picture filling the whole frame instead of fitting it with bars.
void stretchToFrame(GESClip* clip, int width, int height) {
    GList* children = ges_container_get_children(GES_CONTAINER(clip), FALSE);
    for (GList* item = children; item; item = item->next) {
        if (GES_IS_VIDEO_SOURCE(item->data))
            ges_timeline_element_set_child_properties(GES_TIMELINE_ELEMENT(item->data), "posx", 0,
                                                      "posy", 0, "width", width, "height", height,
                                                      nullptr);
    }
    g_list_free_full(children, g_object_unref);
}

// The clip of a source span on a layer. The span is in the user's time, from the first
// picture; the in-point is in the file's own. A video clip starts a quarter frame into the
// picture that the span starts in. The editing services take, for each output frame, the picture
// whose time is nearest, and an accurate seek turns the picture before the in-point into one
// starting at it: at the frame's start itself, or in its middle, pictures whose times the
// container rounded (to the millisecond, or with a few milliseconds of jitter) lose to a
// neighbour; a quarter frame in, they never do. The sound starts at the span's start itself.
// The length is that of the whole output frames that start inside the span, the same for sound
// and picture. What the container says of its length does not limit the clip: the measured end
// of the pictures does.
GESClip* placeClip(GESLayer* layer, GESUriClipAsset* asset, const TimelineSource& source,
                   GESTrackType type, Fraction outputRate, GError** error) {
    const SourceTiming timing = MeasureSourceTiming(source.mediaName);
    ReferenceTime start = source.mediaStart;
    if (type == GES_TRACK_TYPE_VIDEO && timing.frameRate.known()) {
        const std::int64_t frame = FrameIndexAt(start, timing.frameRate);
        start = FrameStart(frame, timing.frameRate) +
                (FrameStart(frame + 1, timing.frameRate) - FrameStart(frame, timing.frameRate)) / 4;
    }
    const GstClockTime inpoint = toClockTime(timing.ToMedia(start));
    GstClockTime duration = toClockTime(source.mediaStop - source.mediaStart);
    if (outputRate.numerator > 0 && outputRate.denominator > 0) {
        const std::int64_t frames = FrameCount(source.mediaStop - source.mediaStart,
                                               {outputRate.numerator, outputRate.denominator});
        duration = gst_util_uint64_scale(static_cast<guint64>(frames),
                                         static_cast<guint64>(outputRate.denominator) * GST_SECOND,
                                         static_cast<guint64>(outputRate.numerator));
    }
    GESClip* clip = GES_CLIP(ges_asset_extract(GES_ASSET(asset), error));
    if (!clip) return nullptr;
    ges_clip_set_supported_formats(clip, type);
    GESTimelineElement* element = GES_TIMELINE_ELEMENT(clip);
    const GstClockTime declared = ges_uri_clip_asset_get_max_duration(asset);
    const bool pastDeclared = GST_CLOCK_TIME_IS_VALID(declared) && declared < inpoint + duration;
    ges_timeline_element_set_start(element, toClockTime(source.start));
    // The clip's sources are made as it joins the layer, each limited to what the container
    // declared; the measured end lifts that limit once they are there.
    if (pastDeclared) {
        ges_timeline_element_set_inpoint(element, 0);
        ges_timeline_element_set_duration(element, std::min(duration, declared));
    } else {
        ges_timeline_element_set_inpoint(element, inpoint);
        ges_timeline_element_set_duration(element, duration);
    }
    if (!ges_layer_add_clip_full(layer, clip, error)) return nullptr;
    if (pastDeclared && (!ges_timeline_element_set_max_duration(element, inpoint + duration) ||
                         !ges_timeline_element_set_inpoint(element, inpoint) ||
                         !ges_timeline_element_set_duration(element, duration))) {
        g_set_error(error, GES_ERROR, GES_ERROR_INVALID_OVERLAP_IN_TRACK,
                    "the file's pictures end before the span does");
        return nullptr;
    }
    return clip;
}

// Turns the pictures of a clip whose source says it is rotated, so that they stand upright.
void turnUpright(GESClip* clip, int rotation) {
    GstVideoOrientationMethod method = GST_VIDEO_ORIENTATION_IDENTITY;
    if (rotation == 90)
        method = GST_VIDEO_ORIENTATION_90R;
    else if (rotation == 180)
        method = GST_VIDEO_ORIENTATION_180;
    else if (rotation == 270)
        method = GST_VIDEO_ORIENTATION_90L;
    else
        return;
    GList* children = ges_container_get_children(GES_CONTAINER(clip), FALSE);
    for (GList* item = children; item; item = item->next) {
        if (GES_IS_VIDEO_SOURCE(item->data))
            ges_timeline_element_set_child_properties(GES_TIMELINE_ELEMENT(item->data),
                                                      "video-direction", method, nullptr);
    }
    g_list_free_full(children, g_object_unref);
}

// GES keeps what it learnt of a file, failures included, for the life of the process. A file
// that has appeared or changed since it was last looked at is discovered anew; an unchanged one
// is not, as discovery costs a good part of a short conversion.
GESUriClipAsset* requestAsset(const std::string& path, const gchar* uri, GError** error) {
    struct Stamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        bool operator==(const Stamp&) const = default;
    };
    static std::mutex mutex;
    static std::map<std::string, Stamp> known;

    std::error_code failed;
    Stamp stamp{std::filesystem::file_size(path, failed),
                std::filesystem::last_write_time(path, failed)};
    bool fresh = false;
    {
        std::lock_guard lock(mutex);
        const auto found = known.find(path);
        fresh = !failed && found != known.end() && found->second == stamp;
    }
    if (!fresh) ges_asset_needs_reload(GES_TYPE_URI_CLIP, uri);
    GESUriClipAsset* asset = ges_uri_clip_asset_request_sync(uri, error);
    std::lock_guard lock(mutex);
    if (asset && !failed)
        known[path] = stamp;
    else
        known.erase(path);
    return asset;
}

// Discovery, which blocks, of every source the model names.
RenderSetupResult discoverAssets(const TimelineModel& model,
                                 std::map<std::string, AssetPtr>& assets) {
    for (const TimelineGroup& group : model.groups) {
        for (const TimelineTrack& track : group.tracks) {
            for (const TimelineSource& source : track.sources) {
                if (assets.count(source.mediaName)) continue;
                GError* error = nullptr;
                const std::string uri = MediaUriOf(source.mediaName);
                GESUriClipAsset* asset =
                    uri.empty() ? nullptr : requestAsset(source.mediaName, uri.c_str(), &error);
                if (!asset) {
                    std::string text =
                        source.mediaName + ": " +
                        (error && error->message ? error->message : "cannot be opened.");
                    g_clear_error(&error);
                    return SetupFailure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER, text);
                }
                assets.emplace(source.mediaName, AssetPtr(asset));
            }
        }
    }
    return {};
}

// What a group's track is held to: the output's picture size and rate, or the sound the
// sources bring (as many channels as the file can take).
CapsPtr trackRestriction(const TimelineGroup& group, const std::map<std::string, AssetPtr>& assets,
                         const StreamRoute& audioRoute) {
    if (group.isVideo()) {
        const BitmapInfoHeader& picture = group.mediaType.format->bmiHeader;
        const Fraction rate = FrameRateFraction(group.outputFrameRate);
        return CapsPtr(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, picture.biWidth,
                                           "height", G_TYPE_INT, picture.biHeight, "framerate",
                                           GST_TYPE_FRACTION, rate.numerator, rate.denominator,
                                           "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    }
    int rate = 0;
    int channels = 0;
    sourceAudioFormat(assets, group, &rate, &channels);
    // A source without sound gets silence in the common CD format.
    if (rate <= 0 || channels <= 0) {
        rate = 44100;
        channels = 2;
    }
    channels = OutputChannelsFor(audioRoute, channels);
    CapsPtr restriction(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, rate, "channels",
                                            G_TYPE_INT, channels, nullptr));
    // Beyond stereo the channels need their places, which the encoder writes.
    if (channels > 2)
        gst_caps_set_simple(restriction.get(), "channel-mask", GST_TYPE_BITMASK,
                            gst_audio_channel_get_fallback_mask(channels), nullptr);
    return restriction;
}

// Each source of the group as a clip, every model track on a layer of its own.
RenderSetupResult placeGroupClips(GESTimeline* timeline, const TimelineGroup& group,
                                  const std::map<std::string, AssetPtr>& assets,
                                  Fraction outputRate, const PreparedSource& prepared) {
    const bool deinterlace = prepared.deinterlace;
    const bool video = group.isVideo();
    const GESTrackType type = video ? GES_TRACK_TYPE_VIDEO : GES_TRACK_TYPE_AUDIO;
    const int width = video ? group.mediaType.format->bmiHeader.biWidth : 0;
    const int height = video ? group.mediaType.format->bmiHeader.biHeight : 0;
    // The last video track lies on top, so its layer comes first.
    std::vector<const TimelineTrack*> order;
    for (const TimelineTrack& t : group.tracks) order.push_back(&t);
    if (video) std::reverse(order.begin(), order.end());
    for (const TimelineTrack* modelTrack : order) {
        GESLayer* layer = ges_timeline_append_layer(timeline);
        for (const TimelineSource& source : modelTrack->sources) {
            GESUriClipAsset* asset = assets.at(source.mediaName).get();
            const GESTrackType formats =
                ges_clip_asset_get_supported_formats(GES_CLIP_ASSET(asset));
            if (!(formats & type)) {
                // An empty audio track plays silence for the timeline's length.
                if (!video) continue;
                return SetupFailure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER,
                                    source.mediaName + " holds no picture.");
            }
            GError* error = nullptr;
            GESClip* clip = placeClip(layer, asset, source, type, outputRate, &error);
            if (!clip) {
                std::string text =
                    "Could not take " + describeSpan(source) + " of " + source.mediaName +
                    (error && error->message ? std::string(": ") + error->message : ".");
                g_clear_error(&error);
                return SetupFailure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER, text);
            }
            if (video) turnUpright(clip, MeasureSourceTiming(source.mediaName).rotation);
            if (video && source.stretchMode == kStretchModeStretch)
                stretchToFrame(clip, width, height);
            if (!video && !PlayChosenSoundStream(clip, prepared.choices))
                return SetupFailure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER,
                                    "Sound track " + std::to_string(prepared.choices.audioTrack) +
                                        " of " + source.mediaName + " could not be taken.");
            if (video && !SetClipDeinterlacing(clip, deinterlace))
                return SetupFailure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER,
                                    "The pictures of " + source.mediaName +
                                        " cannot be deinterlaced: the deinterlacer is missing.");
        }
    }
    return {};
}

}  // namespace

RenderSetupResult BuildGesTimeline(const TimelineModel& model, GESTimeline* timeline,
                                   const StreamRoute& audioRoute, const PreparedSource& prepared) {
    // Sound and picture last the whole frames of the output's rate.
    Fraction outputRate;
    for (const TimelineGroup& group : model.groups) {
        if (!group.isVideo()) continue;
        outputRate = FrameRateFraction(group.outputFrameRate);
        break;
    }
    // Discovery first: it blocks, and the audio track takes the format the sources bring.
    std::map<std::string, AssetPtr> assets;
    if (const RenderSetupResult found = discoverAssets(model, assets); FAILED(found.status))
        return found;

    for (const TimelineGroup& group : model.groups) {
        GESTrack* track =
            group.isVideo() ? GES_TRACK(ges_video_track_new()) : GES_TRACK(ges_audio_track_new());
        ges_track_set_restriction_caps(track, trackRestriction(group, assets, audioRoute).get());
        if (!ges_timeline_add_track(timeline, track))
            return SetupFailure(RenderStep::SetTimelineObject, E_FAIL,
                                "The timeline refused a track.");
        if (const RenderSetupResult placed =
                placeGroupClips(timeline, group, assets, outputRate, prepared);
            FAILED(placed.status))
            return placed;
    }
    ges_timeline_commit(timeline);

    RenderSetupResult result;
    result.duration =
        NanosecondsToReferenceTime(static_cast<std::int64_t>(ges_timeline_get_duration(timeline)));
    if (!model.groups.empty() && result.duration <= 0)
        return SetupFailure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER,
                            "The timeline holds nothing to convert.");
    return result;
}

}  // namespace media
