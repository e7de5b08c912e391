#pragma once

// The pipeline of a direct stream copy, made for the render session, which runs and finishes
// it as it does the editing services' pipeline; also that of a conversion of one span of one
// file, which needs no editing timeline. Not for use outside media/.
//
// The source is read by a parsing bin: a copied stream (the sound, where the pictures are
// encoded) goes from it into the encoding bin as it is; a stream that is encoded is decoded,
// fitted to the output's size and rate and encoded there. Copies of the pictures are written
// by stream_copy_job instead.

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <memory>
#include <optional>
#include <string>

#include "media/core/reference_time.h"
#include "media/render/render_plan.h"

namespace media {

struct CopyPipelineRequest {
    // The streams the source has, and those written as they are.
    bool sourceHasAudio = false;
    bool copiesVideo = false;
    bool copiesAudio = false;
    // The span in the file's own times, and how to seek it.
    ReferenceTime seekStart = 0;
    ReferenceTime seekStop = 0;
    bool seekToKeyFrame = false;  // start at the key frame before seekStart
    std::string sourcePath;
    std::string location;  // the file written
    // The streams' formats, copied and encoded, with presence 1 each: only streams the source
    // has.
    GstEncodingContainerProfile* container = nullptr;
    // For pictures that are encoded instead of copied.
    int width = 0;
    int height = 0;
    Fraction frameRate;
    bool stretch = false;  // fill the frame instead of fitting the picture with bars
    // Set for a conversion that encodes every stream (no copy): the source is read through
    // this URI (which may name a repaired reading of the file), the pictures are turned
    // upright, keep their colours' description, start videoLead after the sound does and last
    // pictureLength, and sound beyond what audioRoute's encoder takes is mixed down. The seek's
    // stop may lie later, for the sound's decoder to reach the end.
    std::string sourceUri;
    GstClockTime videoLead = 0;
    GstClockTime pictureLength = GST_CLOCK_TIME_NONE;  // the pictures end this long after they start
    int rotation = 0;
    std::optional<StreamRoute> audioRoute;
    // The sound track taken, and what the encoded pictures go through besides fitting:
    // deinterlacing before it, the subtitles' overlay after it. Null: the first sound track.
    std::shared_ptr<const struct PreparedSource> prepared;
    // Connected to the pipeline's "deep-element-added" before any element is in it.
    GCallback elementAdded = nullptr;
    gpointer elementAddedData = nullptr;
};

// A pipeline that writes the inspected span into location; not yet running. nullptr with
// *error set when an element is missing.
GstElement* MakeStreamCopyPipeline(const CopyPipelineRequest& request, std::string* error);

// Cues the source, seeks to the span and runs the pipeline. False with *error set when the
// source does not cue in time or the seek is refused.
bool RunStreamCopyPipeline(GstElement* pipeline, std::string* error);

// Whether caps describe pictures (video or still images), or sound.
inline bool IsVideoCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return false;
    const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    return g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/");
}
inline bool IsAudioCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return false;
    return g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
}

// The format a copied stream goes into the multiplexer with.
GstCaps* CopiedStreamCaps(const std::string& description);

}  // namespace media
