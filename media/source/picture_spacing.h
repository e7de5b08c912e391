#pragma once

// The frame rate a file's pictures really keep. Containers and streams state a rate, and some
// state one their pictures do not keep (a tag of 25 on pictures 33.4 ms apart); the pictures'
// own times, read at the start and the end of the file, say what it is. Not for use
// outside media/.

#include <vector>

#include "media/core/reference_time.h"
#include "media/source/source_timing.h"

namespace media {

// The spacing of the pictures in the windows of a file that were read. Within a window the
// average over its run of pictures is what counts, which rounding of each time to the
// millisecond barely moves; a hole (a step of more than one and a half the usual) and the
// pictures a window missed of a reordered stream are left out.
class PictureSpacing {
public:
    // The times the pictures of one window start at, in any order.
    void Add(std::vector<ReferenceTime> starts);
    // The average rate, snapped to the nearest standard rate; unknown before two steps.
    FrameRate Rate() const;

private:
    ReferenceTime total_ = 0;
    long count_ = 0;
};

// The rate of timing from what its stream states (statedFrameRate) and what its pictures'
// spacing says: the stated rate stands while the pictures keep to it within 1%; where they do
// not, or nothing is stated, the spacing is the rate; with neither, 25 is assumed.
void DecideFrameRate(const PictureSpacing& spacing, SourceTiming& timing);

}  // namespace media
