#pragma once

// What the AVI multiplexer takes in, as its pad templates say, and what kind of element a
// factory makes: the compressor catalogue lists the encoders whose output fits these, and the
// conversion checks its streams against them. Not for use outside media/.

#include <gst/gst.h>

#include "media/core/gst_handles.h"

namespace media {

// Whether the factory's class ("Codec/Encoder/Video") names the word.
bool FactoryKlassHas(GstElementFactory* factory, const char* word);

// The AVI multiplexer's accepted input of one kind, from its pad template; null without it.
CapsPtr AviSinkCaps(bool video);
// The same without the raw formats: what an encoder may make for the file.
CapsPtr AviEncodedCaps(bool video);

}  // namespace media
