#pragma once

// Burns subtitle cues into a conversion's pictures once they have their output size and rate:
// text in a readable default style (white with a dark outline, centred at the bottom, its size
// following the picture's), subtitle pictures of DVD and Blu-ray tracks as they are. The cues
// keep their times within the span: a cue at the span's start shows in the output's first
// picture. Not for use outside media/.

#include <gst/gst.h>

#include "media/source/subtitle_cues.h"

// The editing services' types by name only: their header brings GIO's, which must come before
// Qt's wherever both are included.
typedef struct _GESTimeline GESTimeline;
typedef struct _GESClip GESClip;

namespace media {

struct SubtitleOverlayRequest {
    SubtitleCuesPtr cues;
    ReferenceTime spanStart = 0;   // the output's time 0, in the source's time
    ReferenceTime spanLength = 0;  // cues after the span are left out
    int width = 0;                 // the pictures' output size
    int height = 0;
    // The source's picture size, which subtitle pictures are drawn for; 0 when it is the output's.
    int sourceWidth = 0;
    int sourceHeight = 0;
};

// Adds the overlay's elements to bin and links pictures (a source pad whose pictures run on the
// output's time from 0) into them. Returns the pad the drawn pictures leave from, with a
// reference of the caller's; null when an element is missing. May run on a streaming thread.
GstPad* AttachSubtitleOverlay(GstBin* bin, GstPad* pictures, const SubtitleOverlayRequest& request);

// The same in a render of the editing services: between the timeline's picture output and what
// the pipeline feeds it into, as the pipeline links them when it starts. Call once the pipeline
// is set up for rendering and before it runs. False when the timeline has no picture output.
bool InsertSubtitleOverlay(GstElement* pipeline, GESTimeline* timeline,
                           const SubtitleOverlayRequest& request);

}  // namespace media
