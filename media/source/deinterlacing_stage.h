#pragma once

// The deinterlacer of a conversion's picture chain. Not for use outside media/.

#include <gst/gst.h>

// The editing services' types by name only: their header brings GIO's, which must come before
// Qt's wherever both are included.
typedef struct _GESTimeline GESTimeline;
typedef struct _GESClip GESClip;

namespace media {

// A bin that deinterlaces decoded pictures, one picture out for each picture in (the frame rate
// stays the source's). Null when the media framework lacks the element.
GstElement* MakeDeinterlacer();

// The editing services' video sources deinterlace right after their decoder, before any
// scaling, when the decoded pictures say they are interlaced. The clip's pictures are
// deinterlaced as the decision says instead, in the same way as MakeDeinterlacer. False when
// they cannot be.
bool SetClipDeinterlacing(GESClip* clip, bool deinterlace);

}  // namespace media
