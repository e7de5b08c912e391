#pragma once

// Where the sources of a conversion really ended. A damaged or cut file can end its pictures
// or its sound before the span asked of it; the editing services then fill the rest (the last
// picture is repeated, the sound stops) and report success. The decoders of the sources are
// watched, and a conversion that ends with a source short of its span says so. Not for use
// outside media/.

#include <gst/gst.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "media/core/reference_time.h"
#include "media/source/source_timing.h"

namespace media {

// Whether an element that joins a pipeline decodes pictures (true) or sound (false); nullopt
// for one that decodes neither.
std::optional<bool> DecodesPictures(GstElement* element);

class SourceEnds {
public:
    // Where the span's pictures (or sound) end in the file, in the user's time, and how the
    // file's times map to the user's. tolerance: how short a stream may fall, a frame.
    void Expect(bool pictures, ReferenceTime stop, const SourceTiming& timing,
                ReferenceTime tolerance);
    // Watches a decoder of a source as it is added to the pipeline; others are ignored.
    void Watch(GstElement* element);
    // A sentence for each stream that ended short of its span; empty when none did.
    std::string ShortfallNote() const;

    struct Stream;

private:
    std::shared_ptr<Stream> streams_[2];  // pictures, sound
};

}  // namespace media
