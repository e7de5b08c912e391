#include "media/source/source_tracks.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include "media/core/frame_time.h"
#include "media/core/gst_handles.h"
#include "media/source/discovered_tracks.h"

namespace media {

int CountTracks(const SourceTracks& tracks, TrackKind kind) {
    int count = 0;
    for (const SourceTrack& track : tracks) count += track.kind == kind;
    return count;
}

const SourceTrack* FindTrack(const SourceTracks& tracks, TrackKind kind, int number) {
    for (const SourceTrack& track : tracks)
        if (track.kind == kind && track.number == number) return &track;
    return nullptr;
}

const char* TrackKindWord(TrackKind kind) {
    switch (kind) {
        case TrackKind::Video:
            return "video";
        case TrackKind::Sound:
            return "sound";
        case TrackKind::Subtitles:
            return "subtitles";
    }
    return "";
}

std::string DescribeTrack(const SourceTrack& track) {
    std::string line = std::to_string(track.number) + "  " + TrackKindWord(track.kind) + "  " +
                       (track.codec.empty() ? std::string("unknown codec") : track.codec);
    if (!track.language.empty()) line += "  " + track.language;
    if (!track.title.empty()) line += "  \"" + track.title + "\"";
    if (track.length > 0) line += "  " + FormatClockMilliseconds(track.length);
    return line;
}

std::string TrackChoiceText(const SourceTrack& track) {
    std::string text = std::to_string(track.number) + ": " + track.codec;
    if (!track.language.empty()) text += ", " + track.language;
    if (!track.title.empty()) text += ", " + track.title;
    return text;
}

std::string StreamKeyOf(const std::string& streamId) {
    const auto slash = streamId.find('/');
    return slash == std::string::npos ? std::string() : streamId.substr(slash + 1);
}

namespace {

std::string tagText(const GstTagList* tags, const char* tag) {
    gchar* value = nullptr;
    if (!tags || !gst_tag_list_get_string(tags, tag, &value)) return {};
    const GCharPtr owned(value);
    return owned ? std::string(owned.get()) : std::string();
}

// Subtitles whose cues are pictures: DVD, DVB and Blu-ray (PGS) tracks.
bool bitmapSubtitles(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps)) return false;
    return g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)),
                            "subpicture/");
}

}  // namespace

SourceTracks ReadDiscoveredTracks(GstDiscovererInfo* info, ReferenceTime length) {
    gst_pb_utils_init();
    SourceTracks tracks;
    int numbers[3] = {0, 0, 0};
    GList* streams = gst_discoverer_info_get_stream_list(info);
    for (GList* item = streams; item; item = item->next) {
        auto* stream = GST_DISCOVERER_STREAM_INFO(item->data);
        SourceTrack track;
        if (GST_IS_DISCOVERER_VIDEO_INFO(stream)) {
            // A cover picture beside the sound is no video track.
            if (gst_discoverer_video_info_is_image(GST_DISCOVERER_VIDEO_INFO(stream))) continue;
            track.kind = TrackKind::Video;
        } else if (GST_IS_DISCOVERER_AUDIO_INFO(stream)) {
            track.kind = TrackKind::Sound;
        } else if (GST_IS_DISCOVERER_SUBTITLE_INFO(stream)) {
            track.kind = TrackKind::Subtitles;
        } else {
            continue;
        }
        track.number = ++numbers[static_cast<int>(track.kind)];
        const CapsPtr caps(gst_discoverer_stream_info_get_caps(stream));
        if (caps && !gst_caps_is_empty(caps.get())) {
            const GCharPtr description(gst_pb_utils_get_codec_description(caps.get()));
            if (description) track.codec = description.get();
            track.bitmap = bitmapSubtitles(caps.get());
        }
        const GstTagList* tags = gst_discoverer_stream_info_get_tags(stream);
        track.language = tagText(tags, GST_TAG_LANGUAGE_CODE);
        if (track.language == "und") track.language.clear();  // "undetermined" says nothing
        track.title = tagText(tags, GST_TAG_TITLE);
        track.length = length;
        if (const gchar* id = gst_discoverer_stream_info_get_stream_id(stream))
            track.streamKey = StreamKeyOf(id);
        tracks.push_back(std::move(track));
    }
    gst_discoverer_stream_info_list_free(streams);
    return tracks;
}

}  // namespace media
