// GLib's headers come before Qt's: GIO names a struct member "signals", which Qt defines as a
// keyword.
#include <ges/ges.h>

#include "media/render/prepared_source.h"

#include "media/render/render_session_state.h"
#include "media/source/deinterlacing.h"
#include "media/source/media_probe.h"

namespace media {

RenderSetupResult PrepareSource(const RenderPlan& plan, PreparedSource* prepared) {
    prepared->choices = plan.source;
    const TimelineSource* source = nullptr;
    const TimelineGroup* pictures = nullptr;
    for (const TimelineGroup& group : plan.timeline.groups) {
        if (!group.isVideo() || group.tracks.empty() || group.tracks.front().sources.empty())
            continue;
        pictures = &group;
        source = &group.tracks.front().sources.front();
        break;
    }
    if (!source) return {};
    prepared->deinterlace = DecideDeinterlacing(plan.source.deinterlace, source->mediaName).deinterlace;
    if (!plan.source.burnsSubtitles()) return {};

    SubtitleOverlayRequest& overlay = prepared->subtitles;
    overlay.spanStart = source->mediaStart;
    overlay.spanLength = source->mediaStop - source->mediaStart;
    if (pictures->mediaType.format) {
        overlay.width = pictures->mediaType.format->bmiHeader.biWidth;
        overlay.height = pictures->mediaType.format->bmiHeader.biHeight;
    }
    std::string error;
    overlay.cues = ReadSubtitleCues(plan.source, source->mediaName, source->mediaStop, &error);
    if (!overlay.cues)
        return SetupFailure(RenderStep::ConnectFrontEnd, VFW_E_CANNOT_RENDER, error);
    // Subtitle pictures are made for the source's picture size.
    if (overlay.cues->bitmap) {
        const ProbeResult probe = ProbeMediaFile(source->mediaName);
        overlay.sourceWidth = probe.width;
        overlay.sourceHeight = probe.height;
    }
    return {};
}

bool IsChosenSoundStream(const SourceChoices& choices, GstPad* pad, int soundNumber) {
    if (!choices.audioStreamKey.empty()) {
        const GCharPtr id(gst_pad_get_stream_id(pad));
        if (id) return StreamKeyOf(id.get()) == choices.audioStreamKey;
    }
    return soundNumber == choices.audioTrack;
}

namespace {

// The key of the stream a track element of a clip of the editing services plays.
std::string streamKeyOf(GESTrackElement* element) {
    GESAsset* asset = ges_extractable_get_asset(GES_EXTRACTABLE(element));
    if (!asset || !GES_IS_URI_SOURCE_ASSET(asset)) return {};
    GstDiscovererStreamInfo* info =
        ges_uri_source_asset_get_stream_info(GES_URI_SOURCE_ASSET(asset));
    const gchar* id = info ? gst_discoverer_stream_info_get_stream_id(info) : nullptr;
    return id ? StreamKeyOf(id) : std::string();
}

// Which of its clip's sound streams the element plays, from 1; 0 when it plays none.
int soundNumberOf(GESClip* clip, GESTrackElement* element) {
    GESAsset* asset = ges_extractable_get_asset(GES_EXTRACTABLE(clip));
    GESAsset* own = ges_extractable_get_asset(GES_EXTRACTABLE(element));
    if (!asset || !GES_IS_URI_CLIP_ASSET(asset)) return 0;
    int number = 0;
    for (const GList* item = ges_uri_clip_asset_get_stream_assets(GES_URI_CLIP_ASSET(asset));
         item; item = item->next) {
        GstDiscovererStreamInfo* info =
            ges_uri_source_asset_get_stream_info(GES_URI_SOURCE_ASSET(item->data));
        if (!info || !GST_IS_DISCOVERER_AUDIO_INFO(info)) continue;
        ++number;
        if (item->data == own) return number;
    }
    return 0;
}

}  // namespace

bool PlayChosenSoundStream(GESClip* clip, const SourceChoices& choices) {
    GESTrackElement* playing = nullptr;
    GESTrackElement* chosen = nullptr;
    GList* children = ges_container_get_children(GES_CONTAINER(clip), FALSE);
    for (GList* item = children; item; item = item->next) {
        auto* element = GES_TRACK_ELEMENT(item->data);
        if (!ges_track_element_is_core(element) ||
            ges_track_element_get_track_type(element) != GES_TRACK_TYPE_AUDIO)
            continue;
        const std::string key = streamKeyOf(element);
        const bool wanted = !choices.audioStreamKey.empty() && !key.empty()
                                ? key == choices.audioStreamKey
                                : soundNumberOf(clip, element) == choices.audioTrack;
        if (wanted) chosen = element;
        if (ges_track_element_get_track(element)) playing = element;
    }
    bool done = chosen && chosen == playing;
    if (chosen && playing && !done) {
        // One sound stream of a clip per track: the first one leaves it before the chosen
        // one goes in.
        GESTrack* track = ges_track_element_get_track(playing);
        gst_object_ref(track);
        done = ges_track_remove_element(track, playing) &&
               ges_clip_add_child_to_track(clip, chosen, track, nullptr) != nullptr;
        gst_object_unref(track);
    }
    g_list_free_full(children, gst_object_unref);
    return done;
}

}  // namespace media
