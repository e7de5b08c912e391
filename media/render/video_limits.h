#pragma once

// What an AVI video stream can be written at, as the templates of the elements say: the AVI
// multiplexer's inputs, and an encoder's input (H.263 takes only the CIF family of sizes, DV
// only its television formats, the multiplexer at most 4096x4096). A size outside them would
// be scaled or padded to one they take without a word, so a conversion refuses it instead,
// naming the limit. Not for use outside media/.

#include <gst/gst.h>

#include <string>

#include "media/core/gst_handles.h"
#include "media/render/render_plan.h"

namespace media {

// Why a video stream in the format of streamCaps (its first structure's name), made by the
// encoder encoderFactory (empty for uncompressed video), cannot be written at width x height
// and rate, naming the limit and whose it is; empty when it can.
std::string VideoLimitProblem(const std::string& encoderFactory, const GstCaps* streamCaps,
                              int width, int height, Fraction rate);

}  // namespace media
