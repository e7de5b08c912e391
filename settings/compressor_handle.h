#pragma once

#include <QString>

#include <string>

#include "media/encoders/encoder_registry.h"

// A bound compressor: it names the encoder; the output graph creates the element. The
// direct stream copy names none: the source's own stream is written as it is.
struct CompressorHandle {
    std::string factoryName;
    QString friendlyName;
    media::EncoderKind kind = media::EncoderKind::Video;
    bool streamCopy = false;
};
