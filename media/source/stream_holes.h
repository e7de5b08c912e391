#pragma once

// Holes in a source's streams. Recorders that drop data leave stretches with no picture or no
// sound, and the file's timestamps say where everything after them belongs. An AVI file has no
// timestamps: whatever it holds plays one frame or one sample after another. So a hole is
// filled before the output sees it, as a player shows it: the last picture is held until the
// next one is due, and the sound is silent, and what follows stays in step. The decoders of
// the sources are watched; holes of more than a second are named for the report. Not for use
// outside media/.

#include <gst/gst.h>

#include <memory>
#include <string>

#include "media/core/reference_time.h"
#include "media/source/source_timing.h"

namespace media {

class StreamHoles {
public:
    StreamHoles();

    // How the file's times map to the user's, and where the span ends in the user's time: a
    // hole after it is none of the output's.
    void Expect(const SourceTiming& timing, ReferenceTime stop);
    // Watches a decoder of a source as it is added to the pipeline; others are ignored.
    void Watch(GstElement* element);
    // A sentence for each hole longer than a second that was filled; empty when none.
    std::string Note() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace media
