#pragma once

// What the plain pipeline's callbacks share (stream_copy_pipeline.cpp and the chains of its
// decoded streams, stream_copy_pipeline_chains.cpp). Not for use outside them.

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "media/core/gst_handles.h"
#include "media/render/render_plan.h"

namespace media {

struct PreparedSource;

// What the copy pipeline's callbacks share; lives as long as the pipeline.
struct CopyPipelineState {
    std::mutex mutex;
    std::condition_variable changed;
    GstElement* pipeline = nullptr;   // not a reference: the state lives inside it
    GstElement* encodebin = nullptr;  // not a reference either
    bool copiesVideo = false;
    bool copiesAudio = false;
    bool wantsAudio = false;
    int width = 0;
    int height = 0;
    Fraction frameRate;
    bool stretch = false;
    GstClockTime seekStart = 0;
    GstClockTime seekStop = GST_CLOCK_TIME_NONE;
    bool seekToKeyFrame = false;
    // A conversion without a copy (see CopyPipelineRequest).
    bool encodesAll = false;
    GstClockTime videoLead = 0;
    GstClockTime pictureLength = GST_CLOCK_TIME_NONE;
    int rotation = 0;
    std::optional<StreamRoute> audioRoute;
    std::shared_ptr<const PreparedSource> prepared;
    int soundStreamsSeen = 0;
    GstClockTime pictureStop = GST_CLOCK_TIME_NONE;  // the fitted pictures' end (their thread's)
    std::atomic<bool> picturesEnded{false};

    bool videoTaken = false;
    bool audioTaken = false;
    bool cued = false;    // a stream holds its first buffer at the block
    bool seeked = false;  // the span is sought: the blocks go
    struct Hold {
        GstPtr<GstPad> pad;  // a source's pad
        gulong block;
        gulong flushDrop;
    };
    std::vector<Hold> blocks;
    GstClockTime written = 0;  // running time of the furthest buffer into the encoding bin
};

// Links a stream into the encoding bin's first free input of its kind, counting what the
// output has come to.
void LinkIntoEncodingBin(CopyPipelineState* state, GstPad* source, bool video);

// The segment event a probe holds becomes one of this segment, keeping its sequence number.
void ReplaceSegment(GstPadProbeInfo* info, const GstSegment& segment);

// Runs on a streaming thread: a decoded stream goes through its chain into the encoding bin.
void DecodedPadAdded(GstElement* element, GstPad* pad, gpointer data);

}  // namespace media
