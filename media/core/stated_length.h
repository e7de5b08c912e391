#pragma once

// A container's header states how long the file lasts, and GStreamer's readers hold every
// seek and every play to that length: an ASF or Matroska file whose header claims less than
// it holds loses its last pictures in the player, the measurement and the conversion alike.
// The data itself says where the file ends (the send time of ASF's last packet, the times of
// Matroska's last cluster); where it says later, the readers are handed a header whose length
// covers it. A header that claims more is left as it is: the measurement of the file finds
// the real end. Plain C++; read by the repaired file source. Not for use outside media/.

#include <cstdint>
#include <vector>

namespace media {

struct BytePatch {
    std::uint64_t offset = 0;
    std::vector<unsigned char> bytes;
};

// The changes to the bytes of a file (its whole contents in data) that make its stated length
// cover its data; empty when the header is right, or the format is not one that needs it.
std::vector<BytePatch> StatedLengthPatches(const unsigned char* data, std::uint64_t size);

}  // namespace media
