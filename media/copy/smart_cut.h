#pragma once

// The pictures of a copy that cannot be copied as they are, encoded again in the source's own
// format: from the start mark up to the first key frame (the head), and at the end the
// pictures whose references lie past the end mark (the tail). They are decoded from the key
// frame before them and encoded as a group of their own that starts with a key frame, at the
// source's size, rate, pixel shape and profile, so that the copied pictures around them decode
// as before. Not for use outside media/.

#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media/copy/picture_syntax.h"
#include "media/core/gst_handles.h"
#include "media/core/reference_time.h"
#include "media/render/render_plan.h"

namespace media {

// The encoder that makes pictures of the copied format; empty when none is installed (the
// copy then cannot cut between key frames).
std::string SmartCutEncoderFor(const GstCaps* copiedCaps);

struct SmartCutPacket {
    GstBuffer* buffer = nullptr;  // held by the caller
    ReferenceTime pts = 0;        // display time, as the copy placed it
    bool key = false;
};

struct SmartCutRequest {
    CapsPtr caps;          // the copied stream's format, as its packets come
    std::string encoder;   // SmartCutEncoderFor
    Fraction rate;         // the pictures' rate, which the encoded stream states
    std::string h264Profile;
    // The copied pictures around them have B-pictures: an MPEG-1, MPEG-2 or MPEG-4 decoder
    // then shows each picture one later, and the encoded ones must say the same of themselves.
    bool withBPictures = false;
    // The pictures from `from` up to (not including) `until` are encoded, in display times.
    ReferenceTime from = 0;
    ReferenceTime until = 0;
    // Every packet needed to decode them, in decoding order, from a key frame on.
    std::vector<SmartCutPacket> packets;
    std::function<bool()> cancelled;
    std::function<void()> pictureEncoded;  // on a streaming thread
};

struct EncodedPicture {
    Bytes data;
    bool key = false;
};

// Decodes and encodes; false with *problem set when it cannot. The pictures come in decoding
// order, the first a key frame carrying its set-up.
bool EncodeAgain(const SmartCutRequest& request, std::vector<EncodedPicture>* pictures,
                 std::string* problem);

}  // namespace media
