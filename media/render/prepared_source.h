#pragma once

// What a conversion takes from its source besides the span, worked out before its pipeline is
// made: the sound track it takes, whether its pictures are deinterlaced, and the subtitle cues
// it burns in. Both ways of converting (one plain pipeline, or the editing services) use it.
// Not for use outside media/.

#include <gst/gst.h>

#include <memory>
#include <string>

#include "media/render/render_plan.h"
#include "media/render/subtitle_overlay.h"
#include "media/source/subtitle_cues.h"

// The editing services' types by name only: their header brings GIO's, which must come before
// Qt's wherever both are included.
typedef struct _GESTimeline GESTimeline;
typedef struct _GESClip GESClip;

namespace media {

struct PreparedSource {
    SourceChoices choices;
    bool deinterlace = false;
    // The overlay's cues and span; its cues are null when nothing is burnt in.
    SubtitleOverlayRequest subtitles;
};

// Decides the deinterlacing and reads the subtitles of the plan's first source. Blocks (the
// field check, the subtitles' file or track); runs on the render session's worker. A failure
// names the subtitles that cannot be read.
RenderSetupResult PrepareSource(const RenderPlan& plan, PreparedSource* prepared);

// Whether a stream of the source that decodes to sound, the soundNumber-th (from 1), is the
// chosen sound track. May run on a streaming thread.
bool IsChosenSoundStream(const SourceChoices& choices, GstPad* pad, int soundNumber);

// Makes a sound clip of the editing services, placed on its layer, play the chosen sound track
// of its file: they put a file's first sound stream into the timeline's sound track, and the
// chosen one takes its place. False when it could not.
bool PlayChosenSoundStream(GESClip* clip, const SourceChoices& choices);

}  // namespace media
